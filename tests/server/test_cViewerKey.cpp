// Who may watch: the password as ?key= and as Basic credentials, in both
// answer modes, through real sockets and curl; the lock-out of an address
// that guesses.
#include "QtPrinters.h"
#include "ServerTestSupport.h"
#include "cViewerKey.h"
#include "cWebServer.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>

namespace {

// A password with a space, an ampersand, a percent sign and a letter beyond ASCII.
const QString kPassword = QStringLiteral("s3cr&t 5% \u00e5");
const QByteArray kEncoded = "s3cr%26t%205%25%20%C3%A5";

class ViewerKey : public ::testing::Test
{
protected:
    void SetUp() override
    {
        port = FreePort();
        ServerWindow window;
        window.txtMaxCon = [] { return QStringLiteral("20"); };
        window.txtPort = [this] { return QString::number(port); };
        window.chkUptime = [] { return true; };
        window.chkHeaders = [this] { return headers; };
        window.txtPassword = [] { return kPassword; };
        window.picturePath = [this] { return folder.filePath(QStringLiteral("lastpic.jpg")); };
        window.retUptimePage = [] { return QStringLiteral("<HTML>up</HTML>"); };
        window.logConnection = [](bool, const QString &) {};
        window.logLine = [this](const QString &line) { lines << line; };
        window.pictureRequested = [] {};
        server = std::make_unique<cWebServer>(std::move(window));
        server->setViewerClock([this] { return ServerMilliseconds() + skipped.load(); });
        ASSERT_TRUE(server->StartServer(QString()));
        server->PublishPicture(Shared(picture));
    }

    std::optional<QByteArray> Exchange(const QByteArray &request, const char *from = nullptr)
    {
        RawClient client;
        if (!client.Connect(port, from) || !client.Send(request))
            return std::nullopt;
        return client.ReadAll();
    }

    // Status, head and body as curl saw them.
    struct Fetched
    {
        QByteArray status;
        QByteArray head;
        QByteArray body;
    };
    Fetched Curl(const QString &curl, const QString &path, const QStringList &options = {})
    {
        QTemporaryDir out;
        // What the caller gives comes last, so its own time limit holds.
        const QStringList arguments = QStringList{QStringLiteral("-s"), QStringLiteral("--max-time"),
                                                  QStringLiteral("5"), QStringLiteral("-D"),
                                                  out.filePath(QStringLiteral("head")), QStringLiteral("-o"),
                                                  out.filePath(QStringLiteral("body")), QStringLiteral("-w"),
                                                  QStringLiteral("%{http_code}")} +
                                      options +
                                      QStringList{QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)};
        QProcess process;
        process.start(curl, arguments);
        EXPECT_TRUE(process.waitForFinished(30000));
        auto read = [&out](const char *name) {
            QFile file(out.filePath(QString::fromLatin1(name)));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        return {process.readAllStandardOutput(), read("head"), read("body")};
    }

    QTemporaryDir folder;
    bool headers = true;
    int port = 0;
    std::atomic<qint64> skipped{0};
    QStringList lines;
    const QByteArray picture = "\xFF\xD8" + RandomBytes(70000, 3) + "\xFF\xD9";
    std::unique_ptr<cWebServer> server;
};

} // namespace

TEST(ViewerKeyText, KeysAreFoundInTargetsAndCredentialsAndComparedWhole)
{
    const QByteArray password = kPassword.toUtf8();
    const QByteArray basic = "Basic " + ("anyone:" + password).toBase64();
    const QByteArray wrongBasic = "Basic " + QByteArray("user:wrong").toBase64();
    using V = cViewerKey::Verdict;
    cViewerKey key;
    EXPECT_EQ(key.Judge(QByteArray(), "GET / HTTP/1.1\r\n\r\n", true, "192.0.2.1"), V::Admitted);
    const std::tuple<QByteArray, bool, V> rows[] = {
        {"GET /?key=" + kEncoded + " HTTP/1.1\r\n\r\n", true, V::Admitted},
        {"GET /stream?a=1&key=" + kEncoded + "#x HTTP/1.1\r\n\r\n", true, V::Admitted},
        {"GET /?key=" + kEncoded + "\r\n", false, V::Admitted},
        // A key that is the password's start, or the password with more, is wrong.
        {"GET /?key=s3cr HTTP/1.1\r\n\r\n", true, V::Wrong},
        {"GET /?key=" + kEncoded + "x HTTP/1.1\r\n\r\n", true, V::Wrong},
        {"GET /?nokey=" + kEncoded + " HTTP/1.1\r\n\r\n", true, V::Missing},
        {"GET / HTTP/1.1\r\nHost: x\r\nauthorization: " + basic + "\r\n\r\n", true, V::Admitted},
        // Credentials count only as HTTP, and only before the blank line.
        {"GET / HTTP/1.1\r\nAuthorization: " + basic + "\r\n\r\n", false, V::Missing},
        {"GET / HTTP/1.1\r\n\r\nAuthorization: " + basic + "\r\n\r\n", true, V::Missing},
        {"GET / HTTP/1.1\r\nAuthorization: Basic !!!\r\n\r\n", true, V::Missing},
        {"GET / HTTP/1.1\r\nAuthorization: " + wrongBasic + "\r\n\r\n", true, V::Wrong},
        // One right key of two lets the request in.
        {"GET /?key=wrong HTTP/1.1\r\nAuthorization: " + basic + "\r\n\r\n", true, V::Admitted},
    };
    for (const auto &[head, http, verdict] : rows)
        EXPECT_EQ(key.Judge(password, head, http, "192.0.2.1"), verdict) << head.toStdString();
    EXPECT_EQ(PercentDecoded("%4a%4A%zz%4"), "JJ%zz%4");
}

// Every key given is a guess, an IPv6 peer is counted by its /64, and a full
// record refuses the keys of an address it cannot count rather than compare them.
TEST(ViewerKeyLock, GuessesAreCountedWhateverTheirShapeAndTheRecordFailsClosed)
{
    using V = cViewerKey::Verdict;
    const QByteArray password = "right";
    const QByteArray both =
        "GET /?key=a HTTP/1.1\r\nAuthorization: Basic " + QByteArray("u:b").toBase64() + "\r\n\r\n";
    qint64 now = 1000000;
    cViewerKey key([&now] { return now; });
    for (int i = 1; i < cViewerKey::MaxWrongKeys / 2; ++i)
        EXPECT_EQ(key.Judge(password, both, true, "10.0.0.1"), V::Wrong);
    EXPECT_EQ(key.Judge(password, both, true, "10.0.0.1"), V::LockedNow) << "two keys a request";
    for (int i = 1; i < cViewerKey::MaxWrongKeys; ++i)
        EXPECT_FALSE(key.CountWrong(QStringLiteral("2001:db8:1:2::%1").arg(i, 0, 16)));
    EXPECT_TRUE(key.CountWrong(QStringLiteral("2001:db8:1:2:ffff:1:2:3")));
    EXPECT_TRUE(key.Locked(QStringLiteral("2001:db8:1:2::abc")) && !key.Locked(QStringLiteral("2001:db8:1:3::1")));

    std::size_t filled = 0;
    auto fresh = [&filled] { return QStringLiteral("10.%1.%2.1").arg(filled >> 8).arg(filled & 255); };
    while (filled <= cViewerKey::MostRecorded && key.Judge(password, "GET /?key=x\r\n", false, fresh()) == V::Wrong)
        ++filled;
    EXPECT_EQ(filled, cViewerKey::MostRecorded - 1) << "the record holds the most, the /64 among them";
    for (const QByteArray &request : {QByteArray("GET /?key=x\r\n"), QByteArray("GET /?key=right\r\n")})
        EXPECT_EQ(key.Judge(password, request, false, "192.0.2.7"), V::Uncounted) << request.toStdString();
    EXPECT_EQ(key.Judge(password, "GET /\r\n", false, "192.0.2.7"), V::Missing);
    EXPECT_EQ(key.Judge(password, "GET /?key=x\r\n", false, "10.0.5.1"), V::Wrong) << "on record, still counted";
    now += cViewerKey::LockMilliseconds;
    EXPECT_EQ(key.Judge(password, "GET /?key=right\r\n", false, "192.0.2.7"), V::Admitted) << "room again";
}

TEST(ViewerKeyLock, TenWrongKeysInAMinuteLockAnAddressForAMinute)
{
    qint64 now = 1000000;
    cViewerKey key([&now] { return now; });
    // Nine wrong keys, then a minute's quiet: the count starts again.
    for (int i = 0; i < 9; ++i)
        EXPECT_FALSE(key.CountWrong(QStringLiteral("10.0.0.1")));
    now += cViewerKey::LockMilliseconds;
    for (int i = 1; i < cViewerKey::MaxWrongKeys; ++i)
        EXPECT_FALSE(key.CountWrong(QStringLiteral("10.0.0.1"))) << i;
    EXPECT_FALSE(key.Locked(QStringLiteral("10.0.0.1")));
    EXPECT_TRUE(key.CountWrong(QStringLiteral("10.0.0.1")));
    EXPECT_TRUE(key.Locked(QStringLiteral("10.0.0.1")));
    EXPECT_FALSE(key.Locked(QStringLiteral("10.0.0.10")));
    now += cViewerKey::LockMilliseconds - 1;
    EXPECT_TRUE(key.Locked(QStringLiteral("10.0.0.1")));
    now += 1;
    EXPECT_FALSE(key.Locked(QStringLiteral("10.0.0.1")));
    EXPECT_FALSE(key.CountWrong(QStringLiteral("10.0.0.1"))) << "the lock's end starts the count again";
}

TEST_F(ViewerKey, CurlGetsThePictureStreamAndPageOnlyWithThePassword)
{
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty())
        GTEST_SKIP() << "curl is not installed";
    const QString user = QStringLiteral("anyone:") + kPassword;
    for (const auto &[path, options] : std::initializer_list<std::pair<QString, QStringList>>{
             {QStringLiteral("/cam.jpg"), {QStringLiteral("-u"), user}},
             {QStringLiteral("/?key=") + QString::fromLatin1(kEncoded), {}},
             {QStringLiteral("/?key=s3cr%26t%205%25%20\u00e5"), {}}}) {
        const Fetched got = Curl(curl, path, options);
        EXPECT_EQ(got.status, "200") << path.toStdString();
        EXPECT_TRUE(got.body == picture) << path.toStdString();
        EXPECT_TRUE(got.head.contains("Cache-Control: private, max-age=3\r\n")) << got.head.toStdString();
    }
    for (const auto &[path, options] : std::initializer_list<std::pair<QString, QStringList>>{
             {QStringLiteral("/"), {}},
             {QStringLiteral("/?key=s3cr"), {}},
             {QStringLiteral("/"), {QStringLiteral("-u"), QStringLiteral("anyone:s3cr&t 5%")}},
             {QStringLiteral("/stream"), {}},
             {QStringLiteral("/uptime"), {}}}) {
        const Fetched got = Curl(curl, path, options);
        EXPECT_EQ(got.status, "401") << path.toStdString();
        EXPECT_TRUE(got.head.contains("\r\nWWW-Authenticate: Basic realm=\"Vorsk\", charset=\"UTF-8\"\r\n"))
            << got.head.toStdString();
        EXPECT_EQ(got.body, "Unauthorized\n");
    }
    const Fetched page = Curl(curl, QStringLiteral("/uptime"), {QStringLiteral("-u"), user});
    EXPECT_EQ(page.status, "200");
    EXPECT_EQ(page.body, "<HTML>up</HTML>");
    EXPECT_TRUE(page.head.contains("Cache-Control: private, no-cache\r\n")) << page.head.toStdString();
    // The live stream runs until curl gives up; its head and first picture have come.
    const Fetched stream = Curl(curl, QStringLiteral("/stream?key=") + QString::fromLatin1(kEncoded),
                                {QStringLiteral("--max-time"), QStringLiteral("1")});
    EXPECT_EQ(stream.status, "200");
    EXPECT_TRUE(stream.body.contains(picture));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lines.size() >= 5; }, 3000));
    EXPECT_EQ(lines.count(QStringLiteral("refused: wrong key from 127.0.0.1")), 2) << lines.join('|').toStdString();
    EXPECT_EQ(lines.count(QStringLiteral("refused: no key from 127.0.0.1")), 3) << lines.join('|').toStdString();
    for (const QString &line : lines)
        EXPECT_FALSE(line.contains(QStringLiteral("s3cr"))) << line.toStdString();
}

TEST_F(ViewerKey, HeaderlessAnswersOnlyWithTheKeyAndClosesWithoutAByteElse)
{
    // A request without a version gets the bare answer in both modes.
    for (const bool mode : {true, false}) {
        headers = mode;
        server->Refresh();
        EXPECT_TRUE(Exchange("GET /?key=" + kEncoded + "\r\n") == picture) << mode;
        EXPECT_EQ(Exchange("GET /uptime?key=" + kEncoded + "\r\n"), QByteArray("<HTML>up</HTML>")) << mode;
    }
    EXPECT_TRUE(Exchange("GET /?key=" + kEncoded + " HTTP/1.1\r\nHost: x\r\n\r\n") == picture);
    // The first line may come in pieces: it is read whole for its key.
    RawClient pieces;
    ASSERT_TRUE(pieces.Connect(port));
    ASSERT_TRUE(pieces.Send("GET /?ke"));
    QTest::qWait(50);
    ASSERT_TRUE(pieces.Send("y=" + kEncoded + "\r\n"));
    EXPECT_TRUE(pieces.ReadAll() == picture);
    for (const QByteArray &request : {QByteArray("GET / HTTP/1.1\r\nAuthorization: Basic " +
                                                 ("a:" + kPassword.toUtf8()).toBase64() + "\r\n\r\n"),
                                      QByteArray("GET /uptime\r\n"), QByteArray("GET /?key=s3cr\r\n")})
        EXPECT_EQ(Exchange(request), QByteArray()) << request.toStdString();
}

TEST_F(ViewerKey, TenWrongKeysLockOutTheirAddressForAMinuteWhileOthersAreServed)
{
    // A viewer of the live stream from the guessing address holds a slot.
    RawClient viewer;
    ASSERT_TRUE(viewer.Connect(port, "127.0.0.2"));
    ASSERT_TRUE(viewer.Send("GET /stream?key=" + kEncoded + " HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(viewer.ReadSome().value_or(QByteArray()).startsWith("HTTP/1.1 200"));
    for (int i = 1; i < cViewerKey::MaxWrongKeys; ++i)
        EXPECT_TRUE(Exchange("GET /?key=guess" + QByteArray::number(i) + " HTTP/1.1\r\nHost: x\r\n\r\n", "127.0.0.2")
                        .value_or(QByteArray())
                        .startsWith("HTTP/1.1 401"));
    EXPECT_EQ(Exchange("GET /?key=guess10 HTTP/1.1\r\nHost: x\r\n\r\n", "127.0.0.2"), QByteArray());
    // The stream's slot was freed: what the viewer still reads ends.
    std::optional<QByteArray> more;
    do
        more = viewer.ReadSome();
    while (more && !more->isEmpty());
    EXPECT_TRUE(more) << "the stream ended with the server's close";
    const QByteArray keyed = "GET /?key=" + kEncoded + " HTTP/1.1\r\nHost: x\r\n\r\n";
    // Refused unread, as a banned peer is: the close may even be a reset.
    const auto locked = Exchange(keyed, "127.0.0.2");
    EXPECT_TRUE(!locked || locked->isEmpty()) << "locked out, even with the key";
    EXPECT_TRUE(Exchange(keyed, "127.0.0.1").value_or(QByteArray()).endsWith(picture));

    skipped += cViewerKey::LockMilliseconds;
    EXPECT_TRUE(Exchange(keyed, "127.0.0.2").value_or(QByteArray()).endsWith(picture)) << "the lock has ended";
    ASSERT_TRUE(QTest::qWaitFor([&] { return lines.size() >= 11; }, 3000));
    QTest::qWait(100);
    EXPECT_EQ(lines.count(QStringLiteral("refused for a minute: 10 wrong keys from 127.0.0.2")), 1)
        << lines.join('|').toStdString();
    EXPECT_EQ(lines.count(QStringLiteral("refused: wrong key from 127.0.0.2")), 10);
}
