// The server's HTTP/1.1 answers, with the headers choice on, against raw
// sockets, curl and Python's http.client; and that nothing changes with it off.
#include "QtPrinters.h"
#include "ServerTestSupport.h"
#include "cWebServer.h"
#include "mHttpDate.h"

#include <QCryptographicHash>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// An answer taken apart: status, header fields (names lower-cased) and body.
struct Answer
{
    int status = 0;
    QMap<QByteArray, QByteArray> fields;
    QByteArray body;
};

std::optional<Answer> Parse(const std::optional<QByteArray> &raw)
{
    if (!raw)
        return std::nullopt;
    const qsizetype end = raw->indexOf("\r\n\r\n");
    if (!raw->startsWith("HTTP/1.1 ") || end < 0)
        return std::nullopt;
    Answer answer;
    const QList<QByteArray> lines = raw->left(end).split('\n');
    answer.status = lines[0].mid(9, 3).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            answer.fields.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
    }
    answer.body = raw->mid(end + 4);
    return answer;
}

class HttpAnswers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        port = FreePort();
        ServerWindow window;
        window.txtMaxCon = [this] { return maxcon; };
        window.txtPort = [this] { return QString::number(port); };
        window.chkUptime = [this] { return uptime; };
        window.chkHeaders = [this] { return headers; };
        window.txtIntvl = [this] { return interval; };
        window.picturePath = [this] { return folder.filePath(QStringLiteral("lastpic.jpg")); };
        window.retUptimePage = [] { return QStringLiteral("<HTML>Vorsk Server \u00e5</HTML>"); };
        window.logConnection = [](bool, const QString &) {};
        window.pictureRequested = [this] { ++requests; };
        server = std::make_unique<cWebServer>(std::move(window));
        ASSERT_TRUE(server->StartServer(QString()));
    }

    std::optional<QByteArray> Exchange(const QByteArray &request)
    {
        RawClient client;
        if (!client.Connect(port) || !client.Send(request))
            return std::nullopt;
        return client.ReadAll();
    }

    std::optional<Answer> Ask(const QByteArray &request) { return Parse(Exchange(request)); }

    QTemporaryDir folder;
    QString maxcon = QStringLiteral("20");
    bool uptime = true;
    bool headers = true;
    QString interval = QStringLiteral("2.7");
    int requests = 0;
    int port = 0;
    std::unique_ptr<cWebServer> server;
};

} // namespace

TEST_F(HttpAnswers, ThePictureCarriesWhatBrowsersAndProxiesRead)
{
    const QByteArray picture = "\xFF\xD8" + RandomBytes(150001) + "\xFF\xD9";
    const std::time_t before = std::time(nullptr);
    server->PublishPicture(Shared(picture));

    const auto got = Ask("GET /cam.jpg?1234 HTTP/1.1\r\nHost: x\r\nUser-Agent: test\r\n\r\n");
    ASSERT_TRUE(got);
    EXPECT_EQ(got->status, 200);
    EXPECT_EQ(got->fields["content-type"], "image/jpeg");
    EXPECT_EQ(got->fields["content-length"], QByteArray::number(picture.size()));
    EXPECT_EQ(got->fields["cache-control"], "public, max-age=2");
    EXPECT_EQ(got->fields["connection"], "close");
    const auto modified = ParseHttpDate(got->fields["last-modified"]);
    ASSERT_TRUE(modified) << got->fields["last-modified"].toStdString();
    EXPECT_GE(*modified, before);
    EXPECT_LE(*modified, std::time(nullptr));
    EXPECT_TRUE(ParseHttpDate(got->fields["date"]));
    EXPECT_TRUE(got->body == picture);

    // HEAD: the same head, no body.
    const auto head = Ask("HEAD / HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->fields["content-length"], QByteArray::number(picture.size()));
    EXPECT_EQ(head->fields["last-modified"], got->fields["last-modified"]);
    EXPECT_TRUE(head->body.isEmpty());

    // Conditional requests: unchanged since the client's copy gives 304, an older
    // copy or a date that cannot be read gives the picture.
    const QByteArray since = "GET / HTTP/1.1\r\nHost: x\r\nIf-Modified-Since: ";
    const auto same = Ask(since + got->fields["last-modified"] + "\r\n\r\n");
    ASSERT_TRUE(same);
    EXPECT_EQ(same->status, 304);
    EXPECT_TRUE(same->body.isEmpty());
    EXPECT_EQ(same->fields["cache-control"], "public, max-age=2");
    const auto older = Ask(since + HttpDate(*modified - 1) + "\r\n\r\n");
    ASSERT_TRUE(older);
    EXPECT_EQ(older->status, 200);
    EXPECT_TRUE(older->body == picture);
    const auto unreadable = Ask(since + "yesterday\r\n\r\n");
    ASSERT_TRUE(unreadable);
    EXPECT_EQ(unreadable->status, 200);

    // A new picture is newer than the client's copy.
    QTest::qWait(1100);
    server->PublishPicture(Shared("\xFF\xD8new\xFF\xD9"));
    const auto renewed = Ask(since + got->fields["last-modified"] + "\r\n\r\n");
    ASSERT_TRUE(renewed);
    EXPECT_EQ(renewed->status, 200);
    EXPECT_EQ(renewed->body, QByteArray("\xFF\xD8new\xFF\xD9"));

    // Pictures taken faster than once a second: the time alone no longer
    // tells the client's copy from the newer one, its entity tag does.
    const QByteArray newerTag = renewed->fields["etag"];
    ASSERT_FALSE(newerTag.isEmpty());
    server->PublishPicture(Shared("\xFF\xD8newest\xFF\xD9"));
    const auto sameSecond = Ask(since + renewed->fields["last-modified"] + "\r\n\r\n");
    ASSERT_TRUE(sameSecond);
    EXPECT_EQ(sameSecond->status, 200) << "a newer picture of the same second is sent";
    const QByteArray match = "GET / HTTP/1.1\r\nHost: x\r\nIf-Modified-Since: " + HttpDate(std::time(nullptr) + 60) +
                             "\r\nIf-None-Match: ";
    const auto byTag = Ask(match + newerTag + "\r\n\r\n");
    ASSERT_TRUE(byTag);
    EXPECT_EQ(byTag->status, 200) << "the tag decides, not the date";
    const auto held = Ask(match + "\"other\", W/" + sameSecond->fields["etag"] + "\r\n\r\n");
    ASSERT_TRUE(held);
    EXPECT_EQ(held->status, 304);
    EXPECT_EQ(held->fields["etag"], sameSecond->fields["etag"]);

    // Every picture request re-arms the capture, as a header-less one does.
    EXPECT_TRUE(QTest::qWaitFor([&] { return requests > 0; }, 2000));
}

TEST_F(HttpAnswers, HowLongAPictureMayBeKeptFollowsTheInterval)
{
    server->PublishPicture(Shared("\xFF\xD8\xFF\xD9"));
    const QList<std::pair<QString, QByteArray>> cases = {
        {QStringLiteral("3"), "3"},  {QStringLiteral("1"), "1"},      {QStringLiteral("0.5"), "1"},
        {QStringLiteral("0"), "1"},  {QStringLiteral("-4"), "1"},     {QStringLiteral("soon"), "1"},
        {QString(), "1"},            {QStringLiteral("60"), "60"},    {QStringLiteral("99999999999"), "31536000"}};
    for (const auto &[text, age] : cases) {
        interval = text;
        server->Refresh();
        const auto got = Ask("GET / HTTP/1.0\r\n\r\n");
        ASSERT_TRUE(got) << text.toStdString();
        EXPECT_EQ(got->fields["cache-control"], "public, max-age=" + age) << text.toStdString();
    }
}

TEST_F(HttpAnswers, RefusalsAreToldBeforeTheClose)
{
    server->PublishPicture(Shared("\xFF\xD8\xFF\xD9"));
    const QList<std::pair<QByteArray, int>> cases = {
        {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello", 405},
        {"get / HTTP/1.1\r\nHost: x\r\n\r\n", 501},
        {"BREW / HTTP/1.1\r\nHost: x\r\n\r\n", 501},
        {"PUT /uptime HTTP/1.0\r\n\r\n", 405},
        {"GET / HTTP/2.0\r\n\r\n", 505},
        {"GET / HTTP/1.1 extra\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nHost: x\r\nHost: y\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nHost : x\r\n\r\n", 400},
        {"OPTIONS * HTTP/1.1\r\nHost: x\r\n\r\n", 405},
        {"CONNECT x:443 HTTP/1.1\r\nHost: x:443\r\n\r\n", 405},
        // Told at once, with no wait for more: a bare CR, a head of blank lines.
        {"GET / HTTP/1.1\rHost: x\r", 400},
        {"\r\n\r\n", 400},
        {"GET nowhere HTTP/1.1\r\nHost: x\r\n\r\n", 400},
        // A TLS greeting: no line end in sight, told at once all the same.
        {QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), 400},
        {"GET / HTTP/1.1\r\nHost: x\r\n" + QByteArray(9000, 'a') + "\r\n\r\n", 431},
        {"GET /" + QByteArray(20000, 'b') + " HTTP/1.1\r\nHost: x\r\n\r\n", 414},
        {QByteArray("GET / HTTP/1.1\r\nHost: x\r\nX: a\0b\r\n\r\n", 35), 400},
    };
    for (const auto &[request, status] : cases) {
        const auto got = Ask(request);
        ASSERT_TRUE(got) << request.left(40).toStdString();
        EXPECT_EQ(got->status, status) << request.left(40).toStdString();
        EXPECT_EQ(got->fields["content-length"], QByteArray::number(got->body.size()));
        EXPECT_FALSE(got->body.isEmpty());
        if (status == 405) {
            EXPECT_EQ(got->fields["allow"], "GET, HEAD");
        }
    }
    // A peer that closes before its head is whole is told too.
    RawClient client;
    ASSERT_TRUE(client.Connect(port) && client.Send("GET / HT"));
    client.HalfClose();
    const auto cut = Parse(client.ReadAll());
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->status, 400);
}

TEST_F(HttpAnswers, SlowSplitAndPipelinedRequestsAreAnsweredOnce)
{
    const QByteArray picture = RandomBytes(70000, 3);
    server->PublishPicture(Shared(picture));
    // A byte at a time, slower than the sweep's patience with silent peers.
    RawClient slow;
    ASSERT_TRUE(slow.Connect(port));
    const QByteArray request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nIf-Modified-Since: never\r\n\r\n";
    for (const char c : request) {
        ASSERT_TRUE(slow.Send(QByteArray(1, c)));
        server->tmtTimeout_Timer();
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    const auto got = Parse(slow.ReadAll());
    ASSERT_TRUE(got);
    EXPECT_EQ(got->status, 200);
    EXPECT_TRUE(got->body == picture);

    // Three requests in one send: one answer, then the close.
    const auto piped = Exchange("GET / HTTP/1.1\r\nHost: x\r\n\r\nGET / HTTP/1.1\r\nHost: x\r\n\r\nHEAD / HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(piped);
    EXPECT_EQ(piped->count("HTTP/1.1 "), 1);
    const auto pipedAnswer = Parse(piped);
    ASSERT_TRUE(pipedAnswer);
    EXPECT_TRUE(pipedAnswer->body == picture);

    // Bare line feeds, and a blank line before the request line, are read too.
    const auto bare = Ask("\nGET / HTTP/1.0\nHost: x\n\n");
    ASSERT_TRUE(bare);
    EXPECT_TRUE(bare->body == picture);

    // A head that never ends is let go by the sweep in time, not kept for good.
    server->setStallMilliseconds(100);
    server->setHeadMilliseconds(2500);
    RawClient stuck;
    ASSERT_TRUE(stuck.Connect(port) && stuck.Send("GET / HTTP/1.1\r\nHost: x\r\n"));
    QTest::qWait(int(cWebServer::SilentMilliseconds) + 200);
    server->tmtTimeout_Timer();
    EXPECT_EQ(server->SlotState(0), sckConnected) << "an unfinished head waits longer than a silent peer";
    QTest::qWait(2000);
    server->tmtTimeout_Timer();
    EXPECT_EQ(server->SlotState(0), sckClosed) << "an unfinished head is let go after its time";
}

// Heads that dribble in cannot keep a full server from real clients.
TEST_F(HttpAnswers, WithEverySlotTakenADawdlingHeadGivesWay)
{
    const QByteArray picture = RandomBytes(5000, 6);
    server->PublishPicture(Shared(picture));
    maxcon = QStringLiteral("0");
    server->Refresh();
    RawClient dawdler;
    ASSERT_TRUE(dawdler.Connect(port) && dawdler.Send("GET / HTTP/1.1\r\nHost: x\r\n"));
    QTest::qWait(300);
    ASSERT_TRUE(dawdler.Send("User-Agent: slow\r\n"));
    // The newcomer waits until the head has dawdled long enough, then takes its slot.
    const auto got = Ask("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(got);
    EXPECT_TRUE(got->body == picture);
    EXPECT_EQ(dawdler.ReadAll().value_or("?"), QByteArray());
}

TEST_F(HttpAnswers, StatusPageNoPictureYetAndHeaderLessRequests)
{
    const auto page = Ask("GET /Uptime HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->fields["content-type"], "text/html; charset=ISO-8859-1");
    EXPECT_EQ(page->body, QByteArray("<HTML>Vorsk Server \xe5</HTML>"));
    EXPECT_EQ(page->fields["content-length"], QByteArray::number(page->body.size()));
    const auto pageHead = Ask("HEAD /uptime HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(pageHead);
    EXPECT_EQ(pageHead->status, 200);
    EXPECT_TRUE(pageHead->body.isEmpty());
    uptime = false;
    server->Refresh();
    const auto off = Ask("GET /uptime HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(off);
    EXPECT_EQ(off->status, 404);

    // No picture taken yet: nothing a proxy would keep, and when to ask again.
    const auto none = Ask("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 503);
    EXPECT_EQ(none->fields["retry-after"], "2");
    EXPECT_EQ(none->fields["cache-control"], "no-store");

    // A request line without a version asks for the header-less answer.
    const QByteArray picture = RandomBytes(1000, 4);
    server->PublishPicture(Shared(picture));
    EXPECT_EQ(Exchange("GET /\r\n"), picture);

    // With the choice off, answers are header-less again, whatever is asked.
    headers = false;
    server->Refresh();
    EXPECT_EQ(Exchange("GET / HTTP/1.1\r\nHost: x\r\n\r\n"), picture);
    EXPECT_EQ(Exchange("HEAD / HTTP/1.1\r\nHost: x\r\n\r\n"), QByteArray());
}

TEST_F(HttpAnswers, BannedPeersGetNoByte)
{
    server->PublishPicture(Shared("\xFF\xD8\xFF\xD9"));
    ASSERT_TRUE(server->StartServer(QStringLiteral("127.0.0.1")));
    // Closed unread, the request may even turn the close into a reset.
    const auto got = Exchange("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(!got || got->isEmpty()) << got->size();
}

// Clients the server did not make: curl without --http0.9, and Python's http.client.
TEST_F(HttpAnswers, CurlAndPythonReadTheAnswers)
{
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (curl.isEmpty() || python.isEmpty())
        GTEST_SKIP() << "curl or python3 is not installed";
    const QByteArray picture = "\xFF\xD8" + RandomBytes(200000, 5) + "\xFF\xD9";
    server->PublishPicture(Shared(picture));
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(port);
    auto run = [](const QString &program, const QStringList &arguments) {
        QProcess process;
        process.start(program, arguments);
        // The server answers on its own thread; this one only waits.
        EXPECT_TRUE(process.waitForFinished(30000));
        return std::make_pair(process.readAllStandardOutput(), process.readAllStandardError());
    };
    const auto [body, curlErrors] = run(curl, {QStringLiteral("-sS"), QStringLiteral("--fail"), url});
    EXPECT_TRUE(body == picture) << curlErrors.toStdString();
    // curl keeps the picture's time on its copy, and asks with it.
    QTemporaryDir downloads;
    const QString copy = downloads.filePath(QStringLiteral("cam.jpg"));
    run(curl, {QStringLiteral("-sS"), QStringLiteral("-R"), QStringLiteral("-o"), copy, url});
    const auto [status, ignored] =
        run(curl, {QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-w"),
                   QStringLiteral("%{http_code}"), QStringLiteral("-z"), copy, url});
    EXPECT_EQ(status, "304");

    const QString script = QStringLiteral(
        "import http.client, sys, hashlib\n"
        "c = http.client.HTTPConnection('127.0.0.1', %1, timeout=20)\n"
        "c.request('GET', '/cam.jpg')\n"
        "r = c.getresponse()\n"
        "body = r.read()\n"
        "print(r.status, r.getheader('Content-Type'), r.getheader('Content-Length'), len(body), hashlib.sha1(body).hexdigest())\n"
        "c = http.client.HTTPConnection('127.0.0.1', %1, timeout=20)\n"
        "c.request('DELETE', '/')\n"
        "r = c.getresponse()\n"
        "print(r.status, r.getheader('Allow'), r.read())\n").arg(port);
    const auto [pythonOut, pythonErrors] = run(python, {QStringLiteral("-c"), script});
    const QByteArray sha1 = QCryptographicHash::hash(picture, QCryptographicHash::Sha1).toHex();
    EXPECT_EQ(pythonOut, "200 image/jpeg " + QByteArray::number(picture.size()) + ' ' +
                             QByteArray::number(picture.size()) + ' ' + sha1 +
                             "\n405 GET, HEAD b'Method Not Allowed\\n'\n")
        << pythonErrors.toStdString();
}

namespace {

// Reads a live stream as a browser does: its head, then part after part.
class StreamReader
{
public:
    explicit StreamReader(RawClient &client) : m_client(client) {}

    // The answer's head, or nothing.
    std::optional<QByteArray> Head()
    {
        if (!Fill([this] { return m_buffer.contains("\r\n\r\n"); }))
            return std::nullopt;
        const qsizetype end = m_buffer.indexOf("\r\n\r\n") + 4;
        const QByteArray head = m_buffer.left(end);
        m_buffer.remove(0, end);
        return head;
    }
    // The next picture whole, or nothing when the stream ends or breaks.
    std::optional<QByteArray> Part()
    {
        if (!Fill([this] { return m_buffer.contains("\r\n\r\n"); }))
            return std::nullopt;
        const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n") + 4;
        const QByteArray head = m_buffer.left(headEnd);
        const qsizetype at = head.indexOf("Content-Length: ");
        if (!head.startsWith("--vorskpart\r\nContent-Type: image/jpeg\r\n") || at < 0)
            return std::nullopt;
        const qsizetype length = head.mid(at + 16, head.indexOf('\r', at) - at - 16).toLongLong();
        if (!Fill([&] { return m_buffer.size() >= headEnd + length + 2; }) ||
            m_buffer.mid(headEnd + length, 2) != "\r\n")
            return std::nullopt;
        const QByteArray picture = m_buffer.mid(headEnd, length);
        m_buffer.remove(0, headEnd + length + 2);
        return picture;
    }
    // Whether the server ends the stream, after what it still had to send.
    bool Ended()
    {
        for (;;) {
            const auto got = m_client.ReadSome();
            if (!got)
                return false;
            if (got->isEmpty())
                return true;
        }
    }

private:
    template <typename Enough> bool Fill(Enough enough)
    {
        while (!enough()) {
            const auto got = m_client.ReadSome();
            if (!got || got->isEmpty())
                return false;
            m_buffer += *got;
        }
        return true;
    }

    RawClient &m_client;
    QByteArray m_buffer;
};

QByteArray Jpeg(int i, qsizetype size = 30000)
{
    return "\xFF\xD8" + RandomBytes(size, unsigned(i)) + "\xFF\xD9";
}

} // namespace

TEST_F(HttpAnswers, AStreamGetsEveryPictureWholeUntilStop)
{
    server->PublishPicture(Shared(Jpeg(0)));
    RawClient client;
    ASSERT_TRUE(client.Connect(port) && client.Send("GET /stream HTTP/1.1\r\nHost: x\r\n\r\n"));
    StreamReader stream(client);
    const auto head = stream.Head();
    ASSERT_TRUE(head);
    EXPECT_TRUE(head->startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(head->contains("Content-Type: multipart/x-mixed-replace; boundary=vorskpart\r\n"));
    // The picture there is now, then each new one: snapshots and the live
    // stream's own pictures, which leave the answer to a request as it was.
    EXPECT_EQ(stream.Part(), Jpeg(0));
    EXPECT_TRUE(server->StreamWatched());
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests == 1; }, 2000)) << "the stream's request asks for a snapshot";
    // A snapshot of a camera frame is no part of the stream, which has the
    // camera's frames at its own pace.
    for (int i = 1; i <= 4; ++i) {
        server->PublishPicture(Shared(Jpeg(10 + i)), true);
        if (i % 2)
            server->PublishPicture(Shared(Jpeg(i, 20000 * i)));
        else
            server->PublishStreamPicture(Shared(Jpeg(i, 20000 * i)));
        EXPECT_EQ(stream.Part(), Jpeg(i, 20000 * i)) << i;
        EXPECT_TRUE(server->StreamWatched());
    }
    QTest::qWait(100);
    EXPECT_EQ(requests, 1) << "the pictures ask for no snapshot";
    EXPECT_TRUE(Exchange("GET / HTTP/1.0\r\n\r\n").value_or(QByteArray()).endsWith(Jpeg(14)));
    EXPECT_EQ(server->SlotState(0), sckConnected);
    server->StopServer();
    EXPECT_TRUE(stream.Ended());

    // Nobody watches once the next picture finds no viewer.
    server->PublishStreamPicture(Shared(Jpeg(9)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !server->StreamWatched(); }, 2000));
}

// A stream that makes no picture (a size out of limits) still has the
// viewer's leaving seen, so the camera is not kept grabbing for nobody.
TEST_F(HttpAnswers, AViewerWhoLeftIsSeenGoneThoughTheStreamMakesNoPicture)
{
    RawClient viewer;
    ASSERT_TRUE(viewer.Connect(port) && viewer.Send("GET /stream HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->StreamWatched(); }, 2000));
    viewer.Close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->SlotState(0) == sckClosed; }, 2000));
    server->PublishStreamPicture(nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !server->StreamWatched(); }, 2000));
}

TEST_F(HttpAnswers, TheSweepFreesAStreamWhoseViewerStoppedReading)
{
    server->setStallMilliseconds(300);
    server->PublishPicture(Shared(Jpeg(0)));
    RawClient stopped;
    stopped.SmallReceiveBuffer();
    ASSERT_TRUE(stopped.Connect(port) && stopped.Send("GET /stream HTTP/1.0\r\n\r\n"));
    RawClient watching;
    ASSERT_TRUE(watching.Connect(port) && watching.Send("GET /stream HTTP/1.0\r\n\r\n"));
    std::atomic<int> parts = 0;
    std::thread viewer([&] {
        StreamReader stream(watching);
        if (stream.Head())
            while (stream.Part())
                ++parts;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->SlotState(0) == sckConnected && server->SlotState(1) == sckConnected; }, 2000));
    for (int i = 1; i <= 12 && server->SlotState(0) != sckClosed; ++i) {
        server->PublishPicture(Shared(Jpeg(i, 1000000)));
        QTest::qWait(150);
        server->tmtTimeout_Timer();
    }
    EXPECT_EQ(server->SlotState(0), sckClosed) << "the viewer that stopped reading keeps its slot";
    // Between pictures a stream owes nothing: the sweep leaves it.
    QTest::qWait(500);
    server->tmtTimeout_Timer();
    EXPECT_EQ(server->SlotState(1), sckConnected);
    server->StopServer();
    viewer.join();
    EXPECT_GE(parts.load(), 3);
}

// The kernel takes megabytes for a viewer before it pushes back; a viewer that
// stops reading still falls behind within a picture or two, and so gives way
// to a newcomer when every slot is taken.
TEST_F(HttpAnswers, AViewerThatStopsReadingGivesWayToANewcomer)
{
    server->StopServer();
    maxcon = QStringLiteral("0");
    ASSERT_TRUE(server->StartServer(QString()));
    server->PublishPicture(Shared(Jpeg(0)));
    RawClient viewer;
    ASSERT_TRUE(viewer.Connect(port) && viewer.Send("GET /stream HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->SlotState(0) == sckConnected; }, 2000));
    for (int i = 0; i < 40; ++i) {
        server->PublishPicture(Shared(Jpeg(i, 20000)));
        QTest::qWait(40);
    }
    const auto answer = Ask("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, Jpeg(39, 20000));
}

TEST_F(HttpAnswers, FiftyStreamsThatDoNotReadHoldOnePictureEach)
{
    const long before = ResidentKiB();
    std::vector<std::unique_ptr<RawClient>> viewers;
    for (int i = 0; i < 50; ++i) {
        viewers.push_back(std::make_unique<RawClient>());
        viewers.back()->SmallReceiveBuffer();
        ASSERT_TRUE(viewers.back()->Connect(port) && viewers.back()->Send("GET /stream HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    QTest::qWait(100);
    const qsizetype size = 1000000;
    for (int i = 0; i < 20; ++i) {
        server->PublishPicture(Shared(Jpeg(i, size)));
        QTest::qWait(20);
    }
    QTest::qWait(200);
    for (int i = 0; i < 20; ++i)
        EXPECT_LE(server->SlotBytesToWrite(i), size + 200) << "slot " << i;
    EXPECT_LT(ResidentKiB() - before, 60 * 1024);
}

TEST_F(HttpAnswers, AStreamAskedForItsHeadOrWithoutHeadersIsOnePicture)
{
    server->PublishPicture(Shared(Jpeg(1)));
    const auto head = Exchange("HEAD /stream HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(head);
    EXPECT_TRUE(head->startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(head->endsWith("\r\n\r\n"));
    EXPECT_FALSE(head->contains("--vorskpart"));
    headers = false;
    server->Refresh();
    EXPECT_EQ(Exchange("GET /stream HTTP/1.1\r\nHost: x\r\n\r\n"), Jpeg(1));
}

// Viewers of one address reading all they get never lock everyone out: a
// viewer from another address takes a slot from them, and a picture asked
// from the same address waits only until a stream has had its turn.
TEST_F(HttpAnswers, HealthyStreamsOfOneAddressLockNobodyOut)
{
    server->StopServer();
    maxcon = QStringLiteral("1");
    ASSERT_TRUE(server->StartServer(QString()));
    server->PublishPicture(Shared(Jpeg(0)));
    RawClient viewers[2], other;
    for (RawClient &viewer : viewers) {
        ASSERT_TRUE(viewer.Connect(port, "127.0.0.2") && viewer.Send("GET /stream HTTP/1.1\r\nHost: x\r\n\r\n"));
        StreamReader stream(viewer);
        ASSERT_TRUE(stream.Head() && stream.Part());
    }
    ASSERT_TRUE(other.Connect(port, "127.0.0.3") && other.Send("GET /stream HTTP/1.1\r\nHost: x\r\n\r\n"));
    StreamReader stream(other);
    EXPECT_TRUE(stream.Head() && stream.Part() == Jpeg(0)) << "another address is kept out";
    RawClient same;
    ASSERT_TRUE(same.Connect(port, "127.0.0.2") && same.Send("GET / HTTP/1.0\r\n\r\n"));
    const auto picture = Parse(same.ReadAll());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->body, Jpeg(0));
}

