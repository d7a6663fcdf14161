// With HTTP headers: the URL forms of printers' and home-automation pages, /live, the status as JSON
// and metrics, and which sites' pages may read them; without headers every request gets the picture.
#include "ServerTestSupport.h"
#include "cWebServer.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

class WatchAndStatus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ServerWindow window = PictureOnlyWindow(QString::number(port), QString(), "20");
        window.chkUptime = [this] { return uptime; };
        window.chkHeaders = [this] { return headers; };
        window.txtPassword = [this] { return password; };
        window.allowOrigin = [this] { return origins; };
        window.faceFacts = [] { return FaceFacts{QStringLiteral("3.0.30"), 7, QStringLiteral("/dev/video0"), 1000000000}; };
        server = std::make_unique<cWebServer>(std::move(window));
        ASSERT_TRUE(server->StartServer(QString()));
        server->PublishPicture(Shared(picture));
    }

    // The answer up to the close, or a live stream's head.
    QByteArray Ask(const QByteArray &target, const QByteArray &fields = {}, const char *from = nullptr)
    {
        RawClient client;
        QByteArray answer;
        if (client.Connect(port, from) && client.Send("GET " + target + " HTTP/1.1\r\nHost: x\r\n" + fields + "\r\n"))
            for (auto some = client.ReadSome(); some && !some->isEmpty() && !(answer += *some).contains("--vorskpart");)
                some = client.ReadSome();
        return answer;
    }

    static QByteArray Field(const QByteArray &answer, const QByteArray &name)
    {
        const qsizetype at = answer.left(answer.indexOf("\r\n\r\n")).indexOf("\r\n" + name + ": ");
        return at < 0 ? QByteArray() : answer.mid(at + name.size() + 4).split('\r').first();
    }

    static QByteArray Body(const QByteArray &answer) { return answer.mid(answer.indexOf("\r\n\r\n") + 4); }

    const QByteArray picture = "\xFF\xD8" + RandomBytes(3000, 9) + "\xFF\xD9";
    bool uptime = true, headers = true;
    QString password;
    QStringList origins;
    const int port = FreePort();
    std::unique_ptr<cWebServer> server;
};

} // namespace

TEST_F(WatchAndStatus, EachTargetGetsItsAnswerWithHeadersAndThePictureWithout)
{
    const QByteArray stream = "multipart/x-mixed-replace; boundary=vorskpart";
    const std::pair<QByteArray, QByteArray> rows[] = {
        {"/webcam/?action=stream", stream}, {"/?t=1&action=stream", stream},
        {"/webcam/?action=snapshot", "image/jpeg"}, {"/live?action=snapshot", "image/jpeg"},
        {"/?action=streaming", "image/jpeg"}, {"/live", "text/html; charset=utf-8"},
        {"/status.json", "application/json"}, {"/metrics", "text/plain; version=0.0.4; charset=utf-8"},
    };
    for (const auto &[target, type] : rows) {
        const QByteArray answer = Ask(target);
        EXPECT_EQ(Field(answer, "Content-Type"), type) << target.toStdString() << answer.left(80).toStdString();
        EXPECT_TRUE(type != "image/jpeg" || Body(answer) == picture) << target.toStdString();
    }
    // The status page switched off takes the facts with it, not the page to watch.
    uptime = false;
    server->Refresh();
    for (const QByteArray target : {"/status.json", "/metrics", "/uptime", "/live"})
        EXPECT_EQ(Ask(target).left(12), target == "/live" ? "HTTP/1.1 200" : "HTTP/1.1 404") << target.toStdString();
    headers = false;
    server->Refresh();
    for (const auto &row : rows)
        EXPECT_EQ(Ask(row.first), picture) << row.first.toStdString();
}

// The facts a monitor reads: the window's, the counts of what was accepted and refused, the stream's viewers.
TEST_F(WatchAndStatus, StatusJsonTellsTheFactsAndTheCounts)
{
    password = QStringLiteral("pw");
    server->Refresh();
    EXPECT_EQ(Ask("/status.json").left(12), "HTTP/1.1 401");
    ASSERT_TRUE(server->StartServer(QStringLiteral("127.0.0.2")));
    EXPECT_EQ(Ask("/status.json?key=pw", {}, "127.0.0.2"), QByteArray());
    RawClient viewer;
    ASSERT_TRUE(viewer.Connect(port) && viewer.Send("GET /stream?key=pw HTTP/1.1\r\nHost: x\r\n\r\n") && viewer.ReadSome());
    QJsonObject status = QJsonDocument::fromJson(Body(Ask("/status.json?key=pw"))).object();
    EXPECT_NEAR(QDateTime::fromString(status.take("last_picture").toString(), Qt::ISODate).toSecsSinceEpoch(),
                QDateTime::currentSecsSinceEpoch(), 5);
    EXPECT_GE(status.take("uptime").toInt(-1), 0);
    EXPECT_EQ(status, QJsonObject({{"version", "3.0.30"}, {"pictures", 7}, {"stream_viewers", 1},
        {"camera", QJsonObject{{"id", "/dev/video0"}, {"state", "gone"}, {"since", "2001-09-09T01:46:40+00:00"}}},
        {"connections", QJsonObject{{"accepted", 3}, {"banned", 1}, {"refused_key", 1}, {"refused_over_limit", 0}}}}));
}

// Only the origins named may read, each told its own, caches keep one per origin; none named, nothing changes.
TEST_F(WatchAndStatus, OnlyTheOriginsAllowedMayReadPicturesAndJson)
{
    const std::tuple<QStringList, QByteArray, QByteArray, QByteArray> rows[] = {
        {{}, "https://printer.example", "", ""},
        {{"https://printer.example/", "HTTP://HA.local:8123"}, "http://ha.local:8123", "http://ha.local:8123", "Origin"},
        {{"https://printer.example", "null", "ftp://x", "https://a b"}, "null", "", "Origin"},
        {{"*"}, "https://anyone.example", "*", ""},
    };
    for (const auto &[allowed, origin, granted, vary] : rows) {
        origins = allowed;
        server->Refresh();
        for (const QByteArray target : {"/", "/status.json", "/?action=stream"}) {
            const QByteArray answer = Ask(target, "Origin: " + origin + "\r\n");
            EXPECT_EQ(Field(answer, "Access-Control-Allow-Origin") + '|' + Field(answer, "Vary"), granted + '|' + vary)
                << target.toStdString() << origin.toStdString();
        }
    }
}
