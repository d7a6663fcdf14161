// The server against clients the browser tests do not use: peers that
// half-close, never read, flood, stay silent in crowds, or split their request.
#include "QtPrinters.h"
#include "ServerTestSupport.h"
#include "cWebServer.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <optional>
#include <random>
#include <thread>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// This process's soft descriptor limit lowered to some headroom above the
// highest descriptor open now, until restored.
class LowDescriptorLimit
{
public:
    explicit LowDescriptorLimit(int headroom)
    {
        // UndefinedBehaviorSanitizer checks an object's type through a pipe,
        // which a process out of descriptors cannot open: the comparisons the
        // socket layer makes are checked once here, and remembered.
        [[maybe_unused]] volatile bool sink = false;
        for (const asio::error_code code : {asio::error_code(asio::error::eof), asio::error_code(asio::error::operation_aborted)})
            sink = code == asio::error::eof;
        const int highest = ::dup(0);
        ::close(highest);
        if (highest < 0 || getrlimit(RLIMIT_NOFILE, &m_saved) != 0)
            return;
        rlimit low = m_saved;
        low.rlim_cur = rlim_t(highest + headroom);
        m_bLowered = setrlimit(RLIMIT_NOFILE, &low) == 0;
    }
    ~LowDescriptorLimit() { Restore(); }
    LowDescriptorLimit(const LowDescriptorLimit &) = delete;
    LowDescriptorLimit &operator=(const LowDescriptorLimit &) = delete;

    bool Lowered() const { return m_bLowered; }
    void Restore()
    {
        if (std::exchange(m_bLowered, false))
            setrlimit(RLIMIT_NOFILE, &m_saved);
    }

private:
    rlimit m_saved{};
    bool m_bLowered = false;
};

class ServerClients : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RaiseDescriptorLimit();
        port = FreePort();
        ServerWindow window;
        window.txtMaxCon = [this] { return maxcon; };
        window.txtPort = [this] { return QString::number(port); };
        window.chkUptime = [] { return true; };
        window.picturePath = [this] { return folder.filePath(QStringLiteral("lastpic.jpg")); };
        window.retUptimePage = [] { return QStringLiteral("<HTML>page</HTML>"); };
        window.logConnection = [this](bool, const QString &) { logThreads << QThread::currentThread(); };
        window.pictureRequested = [this] { requestThreads << QThread::currentThread(); };
        server = std::make_unique<cWebServer>(std::move(window));
    }

    std::optional<QByteArray> Get(const QByteArray &request = "GET / HTTP/1.0\r\n\r\n", bool bHalfClose = false)
    {
        RawClient client;
        if (!client.Connect(port) || !client.Send(request))
            return std::nullopt;
        if (bHalfClose)
            client.HalfClose();
        return client.ReadAll();
    }

    QTemporaryDir folder;
    QString maxcon = QStringLiteral("200");
    int port = 0;
    QList<QThread *> logThreads;
    QList<QThread *> requestThreads;
    std::unique_ptr<cWebServer> server;
};

} // namespace

TEST_F(ServerClients, AHalfClosingPeerGetsTheWholePictureAndPage)
{
    ASSERT_TRUE(server->StartServer(QString()));
    const QByteArray picture = RandomBytes(250000);
    server->PublishPicture(Shared(picture));
    EXPECT_EQ(Get("GET / HTTP/1.0\r\n\r\n", true), picture);
    EXPECT_EQ(Get("GET /uptime HTTP/1.0\r\n\r\n", true), QByteArray("<HTML>page</HTML>"));
    EXPECT_EQ(Get("GET / HTTP/1.0\r\n\r\n", false), picture);

    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty())
        GTEST_SKIP() << "curl is not installed";
    QProcess fetch;
    fetch.start(curl, {QStringLiteral("-s"), QStringLiteral("--http0.9"), QStringLiteral("--max-time"),
                       QStringLiteral("20"), QStringLiteral("http://127.0.0.1:%1/").arg(port)});
    ASSERT_TRUE(fetch.waitForFinished(30000));
    EXPECT_TRUE(fetch.readAllStandardOutput() == picture);
}

// Shell scripts write the request line and the blank line one by one (bash's
// printf to /dev/tcp does): the second piece must not cut the answer short.
TEST_F(ServerClients, ARequestSentInPiecesGetsItsWholeAnswer)
{
    ASSERT_TRUE(server->StartServer(QString()));
    const QByteArray picture = RandomBytes(400000, 9);
    server->PublishPicture(Shared(picture));
    for (const QByteArray &rest : {QByteArray("\r\n"), QByteArray("Host: x\r\nUser-Agent: sh\r\n\r\n")}) {
        RawClient client;
        client.SmallReceiveBuffer();
        ASSERT_TRUE(client.Connect(port) && client.Send("GET / HTTP/1.0\r\n"));
        QTest::qWait(30);
        ASSERT_TRUE(client.Send(rest));
        QTest::qWait(30);
        const auto got = client.ReadAll();
        ASSERT_TRUE(got.has_value()) << "the answer was cut off by a reset";
        EXPECT_TRUE(*got == picture) << got->size() << " of " << picture.size();
    }
}

// Whatever a peer still sends after its answer is let go, in bounded time,
// and its slot is free at once.
TEST_F(ServerClients, APeerStillSendingAfterItsAnswerIsLetGoInTime)
{
    ASSERT_TRUE(server->StartServer(QString()));
    const QByteArray picture = RandomBytes(300000, 10);
    server->PublishPicture(Shared(picture));
    RawClient client;
    ASSERT_TRUE(client.Connect(port) && client.Send("GET / HTTP/1.0\r\n"));
    QTest::qWait(50);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->SlotState(0) == sckClosed; }, 2000));
    const auto start = std::chrono::steady_clock::now();
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() - start < std::chrono::seconds(6)) {
        ended = !client.Send(QByteArray(1000, 'x'));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(ended) << "the server never let the connection go";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

TEST_F(ServerClients, PicturesOfEverySizeAreServedWhole)
{
    ASSERT_TRUE(server->StartServer(QString()));
    for (qsizetype size : {qsizetype(1), qsizetype(60000), qsizetype(60001), qsizetype(4718592), qsizetype(20000000)}) {
        const QByteArray picture = RandomBytes(size, unsigned(size));
        server->PublishPicture(Shared(picture));
        const auto answer = Get();
        ASSERT_TRUE(answer.has_value()) << size;
        EXPECT_TRUE(*answer == picture) << size << " bytes sent as " << answer->size();
    }
    // The window-less harnesses answer from the file, just as whole.
    server->PublishPicture(nullptr);
    const QByteArray big = RandomBytes(20000000, 7);
    QFile file(folder.filePath(QStringLiteral("lastpic.jpg")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(big);
    file.close();
    EXPECT_TRUE(Get() == big);
}

TEST_F(ServerClients, AFloodingNonReaderIsCutOffWithMemoryBounded)
{
    ASSERT_TRUE(server->StartServer(QString()));
    server->PublishPicture(Shared(RandomBytes(4718592)));
    const long before = ResidentKiB();
    RawClient flood;
    flood.SmallReceiveBuffer();
    ASSERT_TRUE(flood.Connect(port));
    for (int i = 0; i < 200 && flood.Send("GET / HTTP/1.0\r\n\r\n"); ++i)
        QTest::qWait(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->SlotState(0) == sckClosed; }, 5000));
    EXPECT_LT(ResidentKiB() - before, 64 * 1024) << "answers were copied per request";
    EXPECT_EQ(server->SlotBytesToWrite(0), 0);
    EXPECT_FALSE(Get() == std::nullopt) << "the server goes on serving";
}

TEST_F(ServerClients, TwoHundredNonReadersShareOnePicture)
{
    maxcon = QStringLiteral("200");
    ASSERT_TRUE(server->StartServer(QString()));
    server->PublishPicture(Shared(RandomBytes(3300000)));
    const long before = ResidentKiB();
    std::vector<std::unique_ptr<RawClient>> readers;
    for (int i = 0; i < 201; ++i) {
        readers.push_back(std::make_unique<RawClient>());
        readers.back()->SmallReceiveBuffer();
        ASSERT_TRUE(readers.back()->Connect(port));
        ASSERT_TRUE(readers.back()->Send("GET / HTTP/1.0\r\n\r\n"));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->SlotBytesToWrite(200) > 0; }, 5000));
    EXPECT_LT(ResidentKiB() - before, 100 * 1024) << "201 copies of 3.3 MB would be 660 MB";
}

TEST_F(ServerClients, EveryLimitTextLetsTheSweepFreeTheSlotItScans)
{
    ASSERT_TRUE(server->StartServer(QString()));
    server->PublishPicture(Shared("JPEG"));
    for (const char *limit : {"", "-1", "0", "abc", "+"}) {
        maxcon = QString::fromLatin1(limit);
        server->Refresh();
        RawClient silent;
        ASSERT_TRUE(silent.Connect(port));
        ASSERT_TRUE(QTest::qWaitFor([&] { return server->SlotState(0) == sckConnected; }, 3000));
        QTest::qWait(int(cWebServer::SilentMilliseconds) + 50);
        server->tmtTimeout_Timer();
        EXPECT_TRUE(silent.ClosedWithoutData()) << "limit '" << limit << "'";
        EXPECT_EQ(server->SlotState(0), sckClosed);
        EXPECT_EQ(Get(), QByteArray("JPEG")) << "limit '" << limit << "'";
    }
}

TEST_F(ServerClients, RunningOutOfDescriptorsShedsTheCrowdAndServesAfterIt)
{
    ASSERT_TRUE(server->StartServer(QString()));
    server->PublishPicture(Shared("JPEG"));
    std::vector<std::unique_ptr<RawClient>> crowd;
    for (int i = 0; i < 80; ++i)
        crowd.push_back(std::make_unique<RawClient>());
    LowDescriptorLimit limit(10);
    ASSERT_TRUE(limit.Lowered());

    for (auto &client : crowd)
        client->Connect(port);
    QTest::qWait(300);
    crowd.clear();
    QTest::qWait(int(cWebServer::SilentMilliseconds) + 50);
    server->tmtTimeout_Timer();
    const auto answer = Get();
    limit.Restore();
    EXPECT_EQ(answer, QByteArray("JPEG")) << "the listener went on after the limit";
    EXPECT_EQ(Get(), QByteArray("JPEG"));
}

// Answered peers that keep sending linger on descriptors of their own; with
// those nearly spent and every slot taken, a newcomer still waits for its
// picture: the oldest lingering connection is closed for it, or the listener
// pauses, but nobody is turned away without a byte.
TEST_F(ServerClients, ANewcomerAtTheDescriptorLimitWaitsInsteadOfBeingTurnedAway)
{
    maxcon = QStringLiteral("2");
    ASSERT_TRUE(server->StartServer(QString()));
    server->PublishPicture(Shared("JPEG"));
    std::vector<std::unique_ptr<RawClient>> lingering(60), silent(3);
    for (auto &peer : lingering)
        peer = std::make_unique<RawClient>();
    for (auto &peer : silent)
        peer = std::make_unique<RawClient>();
    RawClient newcomer, later;
    LowDescriptorLimit limit(100);
    ASSERT_TRUE(limit.Lowered());

    for (auto &peer : lingering) {
        ASSERT_TRUE(peer->Connect(port) && peer->Send("GET / HTTP/1.0\r\n\r\nand more"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return server->SlotState(0) == sckClosed; }, 2000));
    }
    for (auto &peer : silent)
        ASSERT_TRUE(peer->Connect(port));
    ASSERT_TRUE(newcomer.Connect(port) && newcomer.Send("GET / HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(later.Connect(port) && later.Send("GET / HTTP/1.0\r\n\r\n"));
    const auto first = newcomer.ReadAll(), second = later.ReadAll();
    limit.Restore();
    EXPECT_EQ(first, QByteArray("JPEG"));
    EXPECT_EQ(second, QByteArray("JPEG"));
}

// Silent sockets that reconnect as soon as they are dropped, on a thread of their own.
class SilentCrowd
{
public:
    SilentCrowd(int port, int count) : m_port(port), m_thread([this, count] { Run(count); }) {}
    ~SilentCrowd()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    int Open() const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(m_port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        return fd;
    }
    void Run(int count)
    {
        std::vector<pollfd> sockets;
        for (int i = 0; i < count; ++i)
            sockets.push_back({Open(), POLLIN, 0});
        while (!m_stop) {
            if (::poll(sockets.data(), sockets.size(), 20) <= 0)
                continue;
            for (pollfd &socket : sockets) {
                if (!(socket.revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                char byte;
                if (::recv(socket.fd, &byte, 1, MSG_DONTWAIT) > 0)
                    continue;
                ::close(socket.fd);
                socket.fd = Open();
            }
        }
        for (pollfd &socket : sockets)
            ::close(socket.fd);
    }

    int m_port;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(ServerClients, SilentSocketsGiveTheirSlotsUpToRealClients)
{
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < 2048)
        GTEST_SKIP() << "500 silent sockets and their server sides need 2048 descriptors, the limit is "
                     << files.rlim_cur;
    ASSERT_TRUE(server->StartServer(QString()));
    const QByteArray picture = RandomBytes(9000);
    server->PublishPicture(Shared(picture));
    int served = 0;
    const int requests = 60;
    {
        SilentCrowd crowd(port, 500);
        // The listener offers a silent socket only a second after it connects.
        QTest::qWait(1300);
        for (int i = 0; i < requests; ++i) {
            served += Get() == picture ? 1 : 0;
            if (i % 10 == 9)
                server->tmtTimeout_Timer();
        }
    }
    EXPECT_GE(served * 100, requests * 95) << served << " of " << requests;
}

TEST_F(ServerClients, AFirstArrivalShorterThanGetIsDecidedOnTheFirstLine)
{
    ASSERT_TRUE(server->StartServer(QString()));
    server->PublishPicture(Shared("JPEG"));
    {
        RawClient split;
        ASSERT_TRUE(split.Connect(port));
        ASSERT_TRUE(split.Send("G"));
        QTest::qWait(50);
        ASSERT_TRUE(split.Send("E"));
        QTest::qWait(50);
        ASSERT_TRUE(split.Send("T / HTTP/1.0\r\n\r\n"));
        EXPECT_EQ(split.ReadAll(), QByteArray("JPEG"));
    }
    {
        RawClient wrong;
        ASSERT_TRUE(wrong.Connect(port));
        ASSERT_TRUE(wrong.Send("G"));
        QTest::qWait(50);
        ASSERT_TRUE(wrong.Send("XT / HTTP/1.0\r\n"));
        EXPECT_TRUE(wrong.ClosedWithoutData()) << "closed at once, no sweep needed";
    }
    {
        RawClient stalled;
        ASSERT_TRUE(stalled.Connect(port));
        ASSERT_TRUE(stalled.Send("GE"));
        QTest::qWait(int(cWebServer::SilentMilliseconds) + 50);
        server->tmtTimeout_Timer();
        EXPECT_TRUE(stalled.ClosedWithoutData()) << "still within the sweep's time";
    }
    {
        RawClient ended;
        ASSERT_TRUE(ended.Connect(port));
        ASSERT_TRUE(ended.Send("GE"));
        ended.HalfClose();
        EXPECT_TRUE(ended.ClosedWithoutData()) << "no more can come";
    }
}

TEST_F(ServerClients, AReplacedPictureReachesAPeerWholeNeverMixed)
{
    ASSERT_TRUE(server->StartServer(QString()));
    const QByteArray before = RandomBytes(20000000, 1);
    const QByteArray after = RandomBytes(20000000, 2);
    server->PublishPicture(Shared(before));
    RawClient slow;
    slow.SmallReceiveBuffer();
    ASSERT_TRUE(slow.Connect(port));
    ASSERT_TRUE(slow.Send("GET / HTTP/1.0\r\n\r\n"));
    auto head = slow.Read(1000000);
    ASSERT_TRUE(head.has_value());
    server->PublishPicture(Shared(after));
    const auto rest = slow.ReadAll();
    ASSERT_TRUE(rest.has_value());
    EXPECT_TRUE(*head + *rest == before);
    EXPECT_TRUE(Get() == after);
}

TEST_F(ServerClients, TheWindowHearsOnItsOwnThread)
{
    ASSERT_TRUE(server->StartServer(QStringLiteral("127.0.0.2")));
    server->PublishPicture(Shared("JPEG"));
    EXPECT_EQ(Get(), QByteArray("JPEG"));
    EXPECT_EQ(Get("GET /uptime\r\n"), QByteArray("<HTML>page</HTML>"));
    // Both requests may come in one look of the window: one re-arm, the latest line.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !requestThreads.isEmpty() && !logThreads.isEmpty(); }, 3000));
    for (QThread *thread : logThreads + requestThreads)
        EXPECT_EQ(thread, QThread::currentThread());
}

TEST_F(ServerClients, APeerLeavingMidAnswerEndsOnlyItsConnection)
{
    ASSERT_TRUE(server->StartServer(QString()));
    const QByteArray picture = RandomBytes(20000000, 3);
    server->PublishPicture(Shared(picture));
    for (int i = 0; i < 3; ++i) {
        RawClient leaving;
        leaving.SmallReceiveBuffer();
        ASSERT_TRUE(leaving.Connect(port));
        ASSERT_TRUE(leaving.Send("GET / HTTP/1.0\r\n\r\n"));
        ASSERT_TRUE(leaving.Read(100000).has_value());
    }
    EXPECT_TRUE(Get() == picture);
}

TEST(AnswerBody, APictureIsSealedAgainstEveryChange)
{
    const auto body = cAnswerBody::InFile(QByteArray("JPEG bytes"));
    ASSERT_GE(body->File(), 0);
    EXPECT_EQ(body->Size(), 10);
    EXPECT_EQ(::pwrite(body->File(), "X", 1, 0), -1) << "the bytes could be changed under an answer";
    EXPECT_NE(::ftruncate(body->File(), 2), 0);
    char head[4] = {};
    EXPECT_EQ(::pread(body->File(), head, 4, 0), 4);
    EXPECT_EQ(QByteArray(head, 4), QByteArray("JPEG"));
    EXPECT_EQ(cAnswerBody::InFile(QByteArray())->Size(), 0);
}

// With every slot taken, a banned newcomer costs nobody the slot (the ban is
// looked at first); and after Stop a connection from before that asks only
// then gets nothing and asks for no picture.
TEST_F(ServerClients, NobodyLosesASlotToARefusedPeerAndStopAnswersNothingMore)
{
    maxcon = QStringLiteral("0"); // one slot
    ASSERT_TRUE(server->StartServer(QStringLiteral("127.0.0.2")));
    server->PublishPicture(Shared("JPEG"));
    RawClient client;
    ASSERT_TRUE(client.Connect(port));
    QTest::qWait(3 * cWebServer::YieldMilliseconds); // silent long enough to give way to a real newcomer
    RawClient banned;
    ASSERT_TRUE(banned.Connect(port, "127.0.0.2"));
    EXPECT_TRUE(banned.ClosedWithoutData());
    ASSERT_TRUE(client.Send("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(client.ReadAll(), QByteArray("JPEG")) << "the client kept its slot";

    RawClient early;
    ASSERT_TRUE(early.Connect(port));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->SlotState(0) == sckConnected; }, 2000));
    QTest::qWait(100);
    requestThreads.clear();
    server->StopServer();
    ASSERT_TRUE(early.Send("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(early.ClosedWithoutData());
    QTest::qWait(100);
    EXPECT_TRUE(requestThreads.isEmpty()) << "no picture is taken for it";
}

// Stopping and unloading the slots while a crowd is being answered, again and
// again: work posted for a slot finds it alive or leaves it be.
TEST_F(ServerClients, StoppingAndUnloadingUnderLoadIsSafe)
{
    const QByteArray picture = RandomBytes(300000, 5);
    maxcon = QStringLiteral("20");
    for (int round = 0; round < 10; ++round) {
        ASSERT_TRUE(server->StartServer(QString()));
        server->PublishPicture(Shared(picture));
        std::atomic<bool> stop{false};
        std::vector<std::thread> load;
        for (int t = 0; t < 4; ++t)
            load.emplace_back([&] {
                while (!stop) {
                    RawClient client;
                    if (client.Connect(port) && client.Send("GET / HTTP/1.0\r\n\r\n"))
                        client.Read(20000);
                }
            });
        QTest::qWait(30 + round * 7);
        server->StopServer();
        server->UnloadSlots();
        stop = true;
        for (std::thread &thread : load)
            thread.join();
    }
    ASSERT_TRUE(server->StartServer(QString()));
    EXPECT_TRUE(Get() == picture);
}

// The time-outs run on the server's own thread: with the window's thread
// held up (no tick of its timer at all), a silent connection is let go.
TEST_F(ServerClients, SilentConnectionsGoWhileTheWindowIsHeldUp)
{
    ASSERT_TRUE(server->StartServer(QString()));
    RawClient silent;
    ASSERT_TRUE(silent.Connect(port));
    EXPECT_TRUE(silent.ClosedWithoutData());
}

// With every slot taken, whoever does least with a slot gives it up to a
// newcomer: an answer its peer does not read, a request begun and left
// header-less, and of several that dawdle, one of the address that holds the most.
TEST_F(ServerClients, WithEverySlotTakenWhoDoesLeastGivesWay)
{
    const QByteArray picture = RandomBytes(8 << 20, 9);
    maxcon = QStringLiteral("0");
    ASSERT_TRUE(server->StartServer(QString()));
    server->PublishPicture(Shared(picture));
    RawClient nonReader;
    nonReader.SmallReceiveBuffer();
    ASSERT_TRUE(nonReader.Connect(port) && nonReader.Send("GET / HTTP/1.0\r\n\r\n"));
    QTest::qWait(cWebServer::GiveWayMilliseconds + 300);
    EXPECT_TRUE(Get() == picture) << "an answer that stopped moving gave way";
    EXPECT_FALSE(nonReader.ReadAll().has_value()) << "a cut answer must not end as a whole one does";

    RawClient loris;
    ASSERT_TRUE(loris.Connect(port) && loris.Send("G"));
    QTest::qWait(cWebServer::SilentMilliseconds + 100);
    EXPECT_TRUE(Get() == picture) << "a request begun and left gave way";

    server->StopServer();
    server->UnloadSlots();
    maxcon = QStringLiteral("2");
    server->PublishPicture(Shared("JPEG"));
    ASSERT_TRUE(server->StartServer(QString()));
    RawClient oldest, crowd[2];
    ASSERT_TRUE(oldest.Connect(port, "127.0.0.3"));
    QTest::qWait(50);
    for (RawClient &client : crowd)
        ASSERT_TRUE(client.Connect(port, "127.0.0.2"));
    QTest::qWait(cWebServer::YieldMilliseconds + 100);
    RawClient newcomer;
    ASSERT_TRUE(newcomer.Connect(port) && newcomer.Send("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(newcomer.ReadAll(), QByteArray("JPEG"));
    ASSERT_TRUE(oldest.Send("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(oldest.ReadAll(), QByteArray("JPEG")) << "the slot came from the address holding two";
}

// Peers that go on sending after their answer linger to be closed gently, but
// never in the descriptors kept for the slots and files: near the limit they
// are closed at once, and a descriptor is still to be had.
TEST_F(ServerClients, LingeringPeersLeaveAReserveOfDescriptors)
{
    ASSERT_TRUE(server->StartServer(QString()));
    server->PublishPicture(Shared("JPEG"));
    std::vector<std::unique_ptr<RawClient>> peers;
    for (int i = 0; i < 150; ++i)
        peers.push_back(std::make_unique<RawClient>());
    RawClient good;
    LowDescriptorLimit limit(100);
    ASSERT_TRUE(limit.Lowered());
    for (auto &peer : peers)
        if (peer->Connect(port))
            peer->Send("GET / HTTP/1.0\r\n\r\nand more");
    for (auto &peer : peers)
        peer->ReadSome();
    const int spare = ::dup(0);
    const bool connected = good.Connect(port) && good.Send("GET / HTTP/1.0\r\n\r\n");
    const auto answer = good.ReadAll();
    if (spare >= 0)
        ::close(spare);
    limit.Restore();
    EXPECT_GE(spare, 0) << "the lingering peers took every descriptor";
    EXPECT_TRUE(connected);
    EXPECT_EQ(answer, QByteArray("JPEG"));
}

// Waiters are served by what they ask: a request come whole goes before a
// crowd of heads sent a byte at a time, and one whose peer then ended its
// sending is served too.
TEST_F(ServerClients, AWholeRequestIsServedBeforeACrowdOfSlowHeads)
{
    maxcon = QStringLiteral("0");
    ASSERT_TRUE(server->StartServer(QString()));
    server->PublishPicture(Shared("JPEG"));
    std::vector<std::unique_ptr<RawClient>> loris(12);
    for (auto &peer : loris) {
        peer = std::make_unique<RawClient>();
        ASSERT_TRUE(peer->Connect(port) && peer->Send("GET / HT"));
    }
    EXPECT_EQ(Get(), QByteArray("JPEG"));
    EXPECT_EQ(Get("GET / HTTP/1.0\r\n\r\n", true), QByteArray("JPEG"));
}

// At a descriptor limit where every new one lies in the reserve, the listener
// pauses for a waiter and resumes once nobody waits.
TEST_F(ServerClients, TheListenerResumesAtALowDescriptorLimit)
{
    maxcon = QStringLiteral("0");
    ASSERT_TRUE(server->StartServer(QString()));
    server->PublishPicture(Shared("JPEG"));
    RawClient silent;
    LowDescriptorLimit limit(30);
    ASSERT_TRUE(limit.Lowered());
    ASSERT_TRUE(silent.Connect(port));
    QTest::qWait(20);
    const auto first = Get(), second = Get();
    limit.Restore();
    EXPECT_EQ(first, QByteArray("JPEG"));
    EXPECT_EQ(second, QByteArray("JPEG"));
}

// After Stop an answer under way is finished, and a request sent after it on
// the same connection is answered nothing.
TEST_F(ServerClients, AfterStopAnAnswerEndsAndNoOtherFollows)
{
    ASSERT_TRUE(server->StartServer(QString()));
    const QByteArray picture = RandomBytes(8 << 20, 4);
    server->PublishPicture(Shared(picture));
    RawClient busy;
    busy.SmallReceiveBuffer();
    ASSERT_TRUE(busy.Connect(port) && busy.Send("GET / HTTP/1.0\r\n\r\n"));
    const auto head = busy.Read(100000);
    server->StopServer();
    ASSERT_TRUE(busy.Send("GET / HTTP/1.0\r\n\r\n"));
    const auto rest = busy.ReadAll();
    ASSERT_TRUE(head && rest);
    EXPECT_EQ(head->size() + rest->size(), picture.size());
}
