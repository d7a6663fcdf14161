// With HTTP headers on: the URL forms printers and home-automation systems
// use, the page to watch, the status as JSON and the metrics, and which other
// sites' pages may read them; with headers off every request still gets the picture.
#include "QtPrinters.h"
#include "ServerTestSupport.h"
#include "cWebServer.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class WatchAndStatus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        port = FreePort();
        ServerWindow window =
            PictureOnlyWindow(QString::number(port), folder.filePath(QStringLiteral("lastpic.jpg")), QStringLiteral("20"));
        window.chkUptime = [this] { return uptime; };
        window.chkHeaders = [this] { return headers; };
        window.txtPassword = [this] { return password; };
        window.allowOrigin = [this] { return origins; };
        window.faceFacts = [] {
            FaceFacts facts;
            facts.sVersion = QStringLiteral("3.0.30");
            facts.pictures = 7;
            facts.sCameraId = QStringLiteral("/dev/video0");
            facts.cameraGoneSince = 1000000000;
            return facts;
        };
        server = std::make_unique<cWebServer>(std::move(window));
        ASSERT_TRUE(server->StartServer(QString()));
        server->PublishPicture(Shared(picture));
    }

    // The head of an answer (its end need not come: a live stream's does not), and its body so far.
    QByteArray Ask(const QByteArray &target, const QByteArray &fields = {}, const char *from = nullptr)
    {
        RawClient client;
        if (!client.Connect(port, from) || !client.Send("GET " + target + " HTTP/1.1\r\nHost: x\r\n" + fields + "\r\n"))
            return {};
        QByteArray answer;
        for (auto some = client.ReadSome(); some && !some->isEmpty(); some = client.ReadSome()) {
            answer += *some;
            if (answer.contains("multipart") && answer.contains("\r\n\r\n"))
                break;
        }
        return answer;
    }

    static QByteArray Field(const QByteArray &answer, const QByteArray &name)
    {
        for (const QByteArray &line : answer.left(answer.indexOf("\r\n\r\n")).split('\n'))
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        return {};
    }

    static QByteArray Body(const QByteArray &answer) { return answer.mid(answer.indexOf("\r\n\r\n") + 4); }

    QJsonObject Status(const QByteArray &target = "/status.json")
    {
        return QJsonDocument::fromJson(Body(Ask(target))).object();
    }

    QTemporaryDir folder;
    const QByteArray picture = "\xFF\xD8" + RandomBytes(3000, 9) + "\xFF\xD9";
    bool uptime = true;
    bool headers = true;
    QString password;
    QStringList origins;
    int port = 0;
    std::unique_ptr<cWebServer> server;
};

} // namespace

TEST_F(WatchAndStatus, EachTargetGetsItsAnswerWithHeadersAndThePictureWithout)
{
    const struct
    {
        QByteArray target;
        QByteArray type;
    } rows[] = {
        {"/webcam/?action=stream", "multipart/x-mixed-replace; boundary=vorskpart"},
        {"/webcam/?action=snapshot", "image/jpeg"},
        {"/live?action=snapshot", "image/jpeg"},
        {"/?t=1&action=stream", "multipart/x-mixed-replace; boundary=vorskpart"},
        {"/?action=streaming", "image/jpeg"},
        {"/live", "text/html; charset=utf-8"},
        {"/status.json", "application/json"},
        {"/metrics", "text/plain; version=0.0.4; charset=utf-8"},
    };
    for (const auto &row : rows) {
        const QByteArray answer = Ask(row.target);
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 200 OK\r\n")) << row.target.toStdString() << answer.left(100).toStdString();
        EXPECT_EQ(Field(answer, "Content-Type"), row.type) << row.target.toStdString();
        if (row.type == "image/jpeg") {
            EXPECT_EQ(Body(answer), picture) << row.target.toStdString();
        }
    }
    EXPECT_EQ(Field(Ask("/status.json"), "Cache-Control"), "no-cache");
    // The page loads nothing from elsewhere.
    EXPECT_FALSE(Body(Ask("/live")).contains("http")) << Body(Ask("/live")).toStdString();
    // The status page switched off takes the facts with it, not the page to watch.
    uptime = false;
    server->Refresh();
    for (const QByteArray target : {"/status.json", "/metrics", "/uptime"})
        EXPECT_TRUE(Ask(target).startsWith("HTTP/1.1 404 ")) << target.toStdString();
    EXPECT_TRUE(Ask("/live").startsWith("HTTP/1.1 200 OK\r\n"));
    headers = false;
    server->Refresh();
    for (const auto &row : rows)
        EXPECT_EQ(Ask(row.target), picture) << row.target.toStdString();
}

// The facts a monitor reads: the window's, the server's counts of what it
// accepted and refused, and who watches the stream now.
TEST_F(WatchAndStatus, StatusJsonTellsTheFactsAndTheCounts)
{
    password = QStringLiteral("pw");
    server->Refresh();
    EXPECT_TRUE(Ask("/status.json").startsWith("HTTP/1.1 401 "));
    ASSERT_TRUE(server->StartServer(QStringLiteral("127.0.0.2")));
    EXPECT_TRUE(Ask("/status.json?key=pw", {}, "127.0.0.2").isEmpty());
    RawClient viewer;
    ASSERT_TRUE(viewer.Connect(port) && viewer.Send("GET /?action=stream&key=pw HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(viewer.ReadSome());
    const QJsonObject status = Status("/status.json?key=pw");
    EXPECT_EQ(status["version"].toString(), "3.0.30");
    EXPECT_EQ(status["pictures"].toInt(), 7);
    EXPECT_GE(status["uptime"].toInt(-1), 0);
    const QDateTime taken = QDateTime::fromString(status["last_picture"].toString(), Qt::ISODate);
    EXPECT_LE(std::abs(taken.secsTo(QDateTime::currentDateTimeUtc())), 5) << status["last_picture"].toString().toStdString();
    EXPECT_EQ(status["camera"].toObject()["id"].toString(), "/dev/video0");
    EXPECT_EQ(status["camera"].toObject()["state"].toString(), "gone");
    EXPECT_EQ(QDateTime::fromString(status["camera"].toObject()["since"].toString(), Qt::ISODate).toSecsSinceEpoch(),
              1000000000);
    EXPECT_EQ(status["stream_viewers"].toInt(), 1);
    const QJsonObject connections = status["connections"].toObject();
    EXPECT_EQ(connections["accepted"].toInt(), 3);
    EXPECT_EQ(connections["banned"].toInt(), 1);
    EXPECT_EQ(connections["refused_key"].toInt(), 1);
    EXPECT_EQ(connections["refused_over_limit"].toInt(), 0);
}

// Only the origins named may read, each told its own; a cache keeps an answer
// per origin; without any named, nothing changes.
TEST_F(WatchAndStatus, OnlyTheOriginsAllowedMayReadPicturesAndJson)
{
    const struct
    {
        QStringList allowed;
        QByteArray origin;
        QByteArray granted;
        QByteArray vary;
    } rows[] = {
        {{}, "https://printer.example", "", ""},
        {{"https://printer.example/", "HTTP://HA.local:8123"}, "https://printer.example", "https://printer.example",
         "Origin"},
        {{"https://printer.example", "http://ha.local:8123"}, "http://ha.local:8123", "http://ha.local:8123", "Origin"},
        {{"https://printer.example"}, "https://evil.example", "", "Origin"},
        {{"https://printer.example", "null", "ftp://x", "https://a b"}, "null", "", "Origin"},
        {{"*"}, "https://anyone.example", "*", ""},
    };
    for (const auto &row : rows) {
        origins = row.allowed;
        server->Refresh();
        for (const QByteArray target : {"/", "/status.json", "/?action=stream"}) {
            const QByteArray answer = Ask(target, "Origin: " + row.origin + "\r\n");
            EXPECT_EQ(Field(answer, "Access-Control-Allow-Origin"), row.granted) << target.toStdString() << row.origin.toStdString();
            EXPECT_EQ(Field(answer, "Vary"), row.vary) << target.toStdString() << row.origin.toStdString();
        }
    }
}
