#include "QtPrinters.h"
#include "ServerTestSupport.h"
#include "cWebServer.h"

#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <sys/resource.h>

namespace {

// A server on a free port with its window's settings in plain members.
class WebServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        port = QString::number(FreePort());
        ServerWindow window;
        window.txtMaxCon = [this] { return maxcon; };
        window.txtPort = [this] { return port; };
        window.chkUptime = [this] { return uptime; };
        window.chkHeaders = [this] { return headers; };
        window.picturePath = [this] { return folder.filePath(QStringLiteral("lastpic.jpg")); };
        window.retUptimePage = [] { return QStringLiteral("<HTML>page</HTML>"); };
        window.logConnection = [this](bool accepted, const QString &address) {
            log << (accepted ? QStringLiteral("accepted ") : QStringLiteral("rejected ")) + address;
        };
        window.pictureRequested = [this] { ++pictureRequests; };
        server = std::make_unique<cWebServer>(std::move(window));
    }

    void WritePicture(const QByteArray &bytes)
    {
        QFile file(folder.filePath(QStringLiteral("lastpic.jpg")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    std::unique_ptr<QTcpSocket> Connect(const char *from = nullptr)
    {
        auto client = std::make_unique<QTcpSocket>();
        if (from)
            client->bind(QHostAddress(QString::fromLatin1(from)));
        client->connectToHost(QHostAddress::LocalHost, quint16(port.toInt()));
        client->waitForConnected(2000);
        QTest::qWait(20); // the server takes it from its event loop
        return client;
    }

    // Sends a request and reads until the server closes; nullopt when it stays open.
    std::optional<QByteArray> Ask(QTcpSocket &client, const QByteArray &request, int waitMs = 3000)
    {
        client.write(request);
        QByteArray answer;
        const bool closed = QTest::qWaitFor(
            [&] {
                answer += client.readAll();
                return client.state() == QAbstractSocket::UnconnectedState;
            },
            waitMs);
        answer += client.readAll();
        return closed ? std::optional<QByteArray>(answer) : std::nullopt;
    }

    std::optional<QByteArray> Get(const QByteArray &request = "GET / HTTP/1.0\r\n\r\n")
    {
        auto client = Connect();
        return Ask(*client, request);
    }

    static bool ClosedWithoutData(QTcpSocket &client)
    {
        QByteArray got;
        const bool closed = QTest::qWaitFor(
            [&] {
                got += client.readAll();
                return client.state() == QAbstractSocket::UnconnectedState;
            },
            3000);
        return closed && got.isEmpty();
    }

    QTemporaryDir folder;
    QString maxcon = QStringLiteral("200");
    QString port;
    bool uptime = true;
    bool headers = false;
    QStringList log;
    int pictureRequests = 0;
    std::unique_ptr<cWebServer> server;
};

} // namespace

TEST_F(WebServer, PictureAnswerIsTheFileExactlyWithoutHeader)
{
    ASSERT_TRUE(server->StartServer(QString()));
    EXPECT_EQ(Get(), QByteArray()) << "no picture yet: an empty answer, then the close";

    for (int size : {125000, 60000, 180001}) {
        const QByteArray picture = RandomBytes(size);
        WritePicture(picture);
        const auto answer = Get("GET /cam.jpg?1234 HTTP/1.1\r\nHost: x\r\n\r\n");
        ASSERT_TRUE(answer.has_value());
        EXPECT_TRUE(*answer == picture) << size;
    }
    EXPECT_EQ(pictureRequests, 4);
}

TEST_F(WebServer, APictureSomebodyPlantedIsNeverSent)
{
    ASSERT_TRUE(server->StartServer(QString()));
    const QString picture = folder.filePath(QStringLiteral("lastpic.jpg"));
    QTemporaryDir owner;
    QFile secret(owner.filePath(QStringLiteral("secret.jpg")));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("the owner's own picture");
    secret.close();

    // A link to another file: not followed, an empty answer, the link left in place.
    ASSERT_TRUE(QFile::link(secret.fileName(), picture));
    EXPECT_EQ(Get(), QByteArray());
    EXPECT_TRUE(QFileInfo(picture).isSymLink());
    QFile::remove(picture);

    // A pipe: the server never waits on it and goes on answering.
    ASSERT_EQ(mkfifo(QFile::encodeName(picture).constData(), 0600), 0);
    EXPECT_EQ(Get(), QByteArray());
    QFile::remove(picture);
    WritePicture("JPEG");
    EXPECT_EQ(Get(), QByteArray("JPEG"));

    if (geteuid() != 0)
        GTEST_SKIP() << "a file owned by another user needs root to set up";
    ASSERT_EQ(chown(QFile::encodeName(picture).constData(), 65534, 65534), 0);
    EXPECT_EQ(Get(), QByteArray());
}

TEST_F(WebServer, OnlyGetIsServedAndTheStatusPageFollowsItsOption)
{
    ASSERT_TRUE(server->StartServer(QString()));
    WritePicture("JPEG");
    EXPECT_EQ(Get("GET /Uptime HTTP/1.0\r\n\r\n"), QByteArray("<HTML>page</HTML>"));
    EXPECT_EQ(Get("GET /uptime.html\r\n"), QByteArray("<HTML>page</HTML>"));
    for (const char *refused : {"get / HTTP/1.0\r\n\r\n", "POST / HTTP/1.0\r\n\r\n", "HEAD /\r\n\r\n", "GE\r\n"})
        EXPECT_EQ(Get(refused), QByteArray()) << refused;
    EXPECT_EQ(pictureRequests, 2) << "the page re-arms the capture timer too";

    uptime = false;
    server->Refresh();
    EXPECT_EQ(Get("GET /uptime HTTP/1.0\r\n\r\n"), QByteArray()) << "owed nothing, it holds no slot";

    // A second arrival that is no request ends the connection, once the
    // answer it is owed has gone out whole; at once when it is owed nothing.
    auto split = Connect();
    split->write("GET / HTTP/1.0\r\n");
    QTest::qWait(50);
    EXPECT_EQ(Ask(*split, "Host: x\r\n\r\n"), QByteArray("JPEG"));
}

TEST_F(WebServer, SlotsLimitTheConnectionsAndTheLowestFreeSlotWins)
{
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    // Every slot holds a live stream its viewer takes whole.
    headers = true;
    ASSERT_TRUE(server->StartServer(QString()));
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < 201; ++i) {
        held.push_back(Connect());
        held.back()->write("GET /stream HTTP/1.0\r\n\r\n");
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->SlotState(200) == sckConnected; }, 3000));
    QTest::qWait(50);
    log.clear();
    auto extra = Connect();
    EXPECT_TRUE(ClosedWithoutData(*extra)) << "the 202nd is not taken";
    QTest::qWait(100); // longer than the window's news pause
    EXPECT_TRUE(log.isEmpty());

    // A peer that goes away frees its slot (a reset: a stream's viewer
    // may half-close and still watch).
    const linger reset{1, 0};
    setsockopt(int(held[5]->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    held[5]->abort();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->SlotState(5) == sckClosed; }, 3000));
    held[5] = Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->SlotState(5) == sckConnected; }, 3000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.size() == 1; }, 3000));
    QTest::qWait(100); // longer than the window's news pause
    EXPECT_EQ(log.size(), 1) << "one line: the latest event only";

    server->tmtTimeout_Timer();
    EXPECT_EQ(held[5]->state(), QAbstractSocket::ConnectedState) << "just accepted: its request may be on its way";
    QTest::qWait(int(cWebServer::SilentMilliseconds) + 100);
    server->tmtTimeout_Timer(); // the silent connection goes, requests in progress stay
    EXPECT_TRUE(ClosedWithoutData(*held[5]));
    EXPECT_EQ(held[6]->state(), QAbstractSocket::ConnectedState);
}

TEST_F(WebServer, BannedPeersAreRefusedAndLimitZeroServesOneAtATime)
{
    maxcon = QStringLiteral("0");
    ASSERT_TRUE(server->StartServer(QStringLiteral("127.0.0.2\n127.0.0.20 \n")));
    auto banned = Connect("127.0.0.2");
    EXPECT_TRUE(ClosedWithoutData(*banned));
    EXPECT_TRUE(QTest::qWaitFor([&] { return log.value(0) == QStringLiteral("rejected 127.0.0.2"); }, 3000)) << qPrintable(log.join(QLatin1Char('|')));

    uptime = false;
    server->Refresh();
    auto first = Connect();
    EXPECT_TRUE(QTest::qWaitFor([&] { return log.value(1) == QStringLiteral("accepted 127.0.0.1"); }, 3000)) << qPrintable(log.join(QLatin1Char('|')));
    first->write("GET /uptime\r\n");
    QTest::qWait(50);
    auto second = Connect();
    EXPECT_TRUE(ClosedWithoutData(*second)) << "slot 0 is busy with a request";
    EXPECT_EQ(Ask(*first, "GET /\r\n"), QByteArray());
    EXPECT_EQ(Get(), QByteArray()) << "slot 0 is free again";
}

// IPv6 peers are served, logged and banned by their usual text; IPv4 peers,
// which arrive through the same socket, keep their dotted form.
TEST_F(WebServer, IPv6AndIPv4PeersBothAndEachByItsOwnAddress)
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHostIPv6))
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    probe.close();
    WritePicture("JPEG");
    auto fromV6 = [&] {
        auto client = std::make_unique<QTcpSocket>();
        client->connectToHost(QHostAddress::LocalHostIPv6, quint16(port.toInt()));
        EXPECT_TRUE(client->waitForConnected(2000));
        return client;
    };
    auto latest = [&](const QString &line) {
        return QTest::qWaitFor([&] { return !log.isEmpty() && log.last() == line; }, 3000);
    };

    ASSERT_TRUE(server->StartServer(QStringLiteral("::1\n")));
    auto banned = fromV6();
    EXPECT_TRUE(ClosedWithoutData(*banned));
    EXPECT_TRUE(latest(QStringLiteral("rejected ::1"))) << qPrintable(log.join(QLatin1Char('|')));
    EXPECT_EQ(Get(), QByteArray("JPEG"));
    EXPECT_TRUE(latest(QStringLiteral("accepted 127.0.0.1"))) << qPrintable(log.join(QLatin1Char('|')));

    server->StopServer();
    ASSERT_TRUE(server->StartServer(QStringLiteral("127.0.0.1\n")));
    auto served = fromV6();
    EXPECT_EQ(Ask(*served, "GET / HTTP/1.0\r\n\r\n"), QByteArray("JPEG"));
    EXPECT_TRUE(latest(QStringLiteral("accepted ::1"))) << qPrintable(log.join(QLatin1Char('|')));
    auto refused = Connect();
    EXPECT_TRUE(ClosedWithoutData(*refused)) << "an IPv4 peer is still banned by its dotted address";
    EXPECT_TRUE(latest(QStringLiteral("rejected 127.0.0.1"))) << qPrintable(log.join(QLatin1Char('|')));
}

TEST_F(WebServer, StuckSlotsAreReclaimedAndFloodsDropped)
{
    server->setStallMilliseconds(200);
    ASSERT_TRUE(server->StartServer(QString()));
    uptime = false;
    server->Refresh();
    auto waiting = Connect();
    waiting->write("GET /uptime\r\n"); // marked, but never answered
    QTest::qWait(300);
    server->tmtTimeout_Timer();
    EXPECT_TRUE(ClosedWithoutData(*waiting));

    // A peer that asks again and again but never reads.
    WritePicture(RandomBytes(1 << 20));
    auto flood = std::make_unique<QTcpSocket>();
    flood->setReadBufferSize(1);
    flood->connectToHost(QHostAddress::LocalHost, quint16(port.toInt()));
    ASSERT_TRUE(flood->waitForConnected(2000));
    QTest::qWait(20);
    for (int i = 0; i < 40 && flood->state() == QAbstractSocket::ConnectedState; ++i) {
        flood->write("GET / HTTP/1.0\r\n\r\n");
        QTest::qWait(20);
    }
    EXPECT_EQ(server->SlotState(0), sckClosed);
    EXPECT_EQ(server->SlotBytesToWrite(0), 0) << "nothing is kept for it";

    // Many connections at once: the server keeps serving.
    std::vector<std::unique_ptr<QTcpSocket>> crowd;
    for (int i = 0; i < 400; ++i) {
        crowd.push_back(std::make_unique<QTcpSocket>());
        crowd.back()->connectToHost(QHostAddress::LocalHost, quint16(port.toInt()));
    }
    QTest::qWait(int(cWebServer::SilentMilliseconds) + 100);
    crowd.clear();
    server->tmtTimeout_Timer();
    WritePicture("JPEG");
    EXPECT_EQ(Get(), QByteArray("JPEG"));
}

TEST_F(WebServer, RestartKeepsConnectionsAndTakesTheNewPortAndBanList)
{
    ASSERT_TRUE(server->StartServer(QString()));
    auto kept = Connect();
    server->StopServer();
    EXPECT_TRUE(ClosedWithoutData(*Connect())) << "stopped: nothing is accepted";

    const QString oldPort = port;
    port = QString::number(FreePort());
    ASSERT_TRUE(server->StartServer(QStringLiteral("127.0.0.1")));
    EXPECT_EQ(kept->state(), QAbstractSocket::ConnectedState);
    auto refused = Connect();
    EXPECT_TRUE(ClosedWithoutData(*refused));
    EXPECT_TRUE(QTest::qWaitFor([&] { return log.value(log.size() - 1) == QStringLiteral("rejected 127.0.0.1"); }, 3000))
        << qPrintable(log.join(QLatin1Char('|')));

    // A port that is taken is reported, not shown as success.
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::AnyIPv4, 0));
    port = QString::number(squatter.serverPort());
    EXPECT_FALSE(server->StartServer(QString()));
    EXPECT_FALSE(server->ListenError().isEmpty());
    port = QStringLiteral("99999");
    EXPECT_FALSE(server->StartServer(QString()));
}

// The connection that made systemd start the program waits on the socket it
// hands over, its request sent: it is answered like any other. Many starts,
// as it used to be taken in the instant before serving began.
TEST_F(WebServer, ARequestWaitingOnAHandedSocketIsAnswered)
{
    const QByteArray picture = RandomBytes(5000);
    server->PublishPicture(Shared(picture), true);
    for (int i = 0; i < 2000; ++i) {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), length), 0);
        ASSERT_EQ(::listen(listener, 8) | getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);
        RawClient client;
        ASSERT_TRUE(client.Connect(ntohs(address.sin_port)) && client.Send("GET / HTTP/1.0\r\n\r\n"));
        server->setHandedSocket(listener);
        ASSERT_TRUE(server->StartServer(QString()));
        EXPECT_EQ(client.ReadAll(), picture) << "start " << i;
        server->StopServer();
    }
}

// What throws on the I/O thread ends the work at hand, never the thread.
TEST(ServerThread, AnErrorOnTheThreadEndsOnlyTheWorkAtHand)
{
    cServerThread thread;
    asio::post(thread.Context(), [] { throw std::system_error(std::make_error_code(std::errc::no_space_on_device)); });
    asio::post(thread.Context(), [] { throw std::bad_alloc(); });
    EXPECT_EQ(thread.Run([] { return 42; }), 42);
}

// A slot unloaded in the same turn that queued an answer on it: the flush
// posted for it finds it gone and leaves it be. Reading the freed slot shows
// only under AddressSanitizer (scripts/test-sanitize).
TEST(ServerThread, AFlushPostedForAnUnloadedSlotLeavesItBe)
{
    cServerThread thread;
    cWinsockListener listener(thread.Context());
    cWinsockArray pool(thread.Context());
    std::atomic<bool> unloaded{false};
    const int port = thread.Run([&] {
        pool.Load(1);
        listener.setLocalPort(0);
        listener.ConnectionRequest = [&](int requestId) {
            // Only the first connection is taken; one offered after the slot
            // is gone (seen on a busy machine) is refused.
            cWinsockSlot *slot = pool.Item(1);
            if (!slot)
                return;
            slot->Accept(listener, requestId);
            slot->SendData(QByteArray(1000, 'x'));
            unloaded = pool.Unload(1);
        };
        return listener.Listen(std::string()) ? listener.LocalPort() : 0;
    });
    ASSERT_GT(port, 0);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(port));
    ASSERT_TRUE(client.waitForConnected(2000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return unloaded.load(); }, 2000));
    thread.Run([&] { listener.Close(); }); // runs after the flush posted before it
    thread.Stop();
}

// A connection the system refuses to watch (here: watched already, so the
// slot's watch fails) is closed: its peer sees the end at once instead of a
// socket nobody holds.
TEST(ServerThread, AConnectionThatCannotBeWatchedIsClosedNotLeaked)
{
    asio::io_context context;
    cWinsockListener listener(context);
    cWinsockSlot slot(context, 0);
    listener.setLocalPort(0);
    ASSERT_TRUE(listener.Listen(std::string()));
    std::optional<asio::posix::stream_descriptor> watcher;
    listener.ConnectionRequest = [&](int requestId) {
        watcher.emplace(context, requestId);
        slot.Accept(listener, requestId);
    };
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(listener.LocalPort()));
    ASSERT_TRUE(client.waitForConnected(2000));
    client.write("G"); // a head begun: the slot must watch for the rest
    ASSERT_TRUE(QTest::qWaitFor([&] { return context.poll(), watcher && slot.State() == sckClosed; }, 2000));
    watcher->release();
    EXPECT_TRUE(client.state() == QAbstractSocket::UnconnectedState || client.waitForDisconnected(2000));
}
