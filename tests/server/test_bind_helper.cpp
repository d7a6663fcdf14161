#include "QtPrinters.h"
#include "TestFiles.h"
#include "cWebServer.h"
#include "cWinsock.h"
#include "mBindHelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

const std::string kHelper = VORSK_BIND_HELPER;

int FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::AnyIPv4, 0);
    return probe.serverPort();
}

bool Readable(int fd, int waitMs)
{
    pollfd ready{fd, POLLIN, 0};
    return poll(&ready, 1, waitMs) == 1;
}

// A plain connect() from 127.0.0.1; the descriptor, or -1.
int ConnectLocally(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

QString WriteScript(const QTemporaryDir &dir, const QString &name, const QByteArray &body)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("#!/bin/sh\n" + body + "\n");
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

// --- the helper program -------------------------------------------------------

TEST(BindHelper, HandsOverAListeningSocketThatAcceptsConnections)
{
    const int port = FreePort();
    const BoundSocket bound = BindThroughHelper(kHelper, port, 5000);
    ASSERT_GE(bound.descriptor, 0) << bound.reason;
    EXPECT_TRUE(fcntl(bound.descriptor, F_GETFD) & FD_CLOEXEC) << "the socket must not leak into other children";

    const int client = ConnectLocally(port);
    ASSERT_GE(client, 0) << "no connection to the handed-over port";
    ASSERT_TRUE(Readable(bound.descriptor, 2000)) << "the connection never reached the listener";
    const int accepted = accept4(bound.descriptor, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(accepted, 0);
    ASSERT_EQ(write(client, "ping", 4), 4);
    char echo[4] = {};
    ASSERT_TRUE(Readable(accepted, 2000));
    EXPECT_EQ(read(accepted, echo, sizeof echo), 4);
    EXPECT_EQ(std::string(echo, 4), "ping");
    for (int fd : {accepted, client, bound.descriptor})
        ::close(fd);
}

// With an address, the socket listens there alone.
TEST(BindHelper, ListensOnTheAddressAskedFor)
{
    const int port = FreePort();
    const BoundSocket bound = BindThroughHelper(kHelper, port, 5000, "127.0.0.2");
    ASSERT_GE(bound.descriptor, 0) << bound.reason;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    EXPECT_TRUE(getsockname(bound.descriptor, reinterpret_cast<sockaddr *>(&local), &length) == 0 &&
                local.sin_family == AF_INET && ntohl(local.sin_addr.s_addr) == 0x7F000002u);
    EXPECT_LT(ConnectLocally(port), 0) << "127.0.0.1 is not listened on";
    ::close(bound.descriptor);
}

TEST(BindHelper, APortInUseComesBackAsItsErrnoWithoutADescriptor)
{
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::AnyIPv4, 0));
    const BoundSocket bound = BindThroughHelper(kHelper, squatter.serverPort(), 5000);
    EXPECT_EQ(bound.descriptor, -1);
    EXPECT_EQ(bound.error, EADDRINUSE) << bound.reason;
    EXPECT_FALSE(bound.reason.empty());
}

TEST(BindHelper, WrongArgumentsEndAtOnceWithOneLineSaid)
{
    const QList<QStringList> wrong = {
        {},
        {"80"},
        {"80", "3", "more"},
        {"80", "3", "localhost"}, // names are the program's to resolve
        {"80", "3", "fe80::1%"},
        {"0", "3"},
        {"70000", "3"},
        {"80x", "3"},
        {"-80", "3"},
        {"+80", "3"},
        {" 80", "3"},
        {"", "3"},
        {"99999999999999999999", "3"},
        {"8080", "999"},        // a closed descriptor
        {"8080", "1"},          // open, but a pipe: no AF_UNIX socket
        {"8080", "3x"},
        {"8080", "99999999999"},
    };
    for (const QStringList &arguments : wrong) {
        const QString shown = arguments.join(QLatin1Char(' '));
        QProcess helper;
        helper.start(QString::fromStdString(kHelper), arguments);
        ASSERT_TRUE(helper.waitForFinished(3000)) << "hangs with: " << shown.toStdString();
        EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit) << shown.toStdString();
        EXPECT_EQ(helper.exitCode(), 2) << shown.toStdString();
        const QByteArray said = helper.readAllStandardError();
        EXPECT_TRUE(said.endsWith('\n') && said.count('\n') == 1) << shown.toStdString() << ": " << said.toStdString();
    }
}

TEST(BindHelper, AHelperThatFailsItsJobIsAClearFailureNeverAHang)
{
    QTemporaryDir dir;
    const auto run = [](const QString &helper, int waitMs = 3000) {
        return BindThroughHelper(helper.toStdString(), FreePort(), waitMs);
    };

    BoundSocket bound = run(WriteScript(dir, "dies", "exit 3"));
    EXPECT_EQ(bound.descriptor, -1);
    EXPECT_NE(bound.reason.find("without an answer"), std::string::npos) << bound.reason;
    EXPECT_NE(bound.reason.find("exit status 3"), std::string::npos) << bound.reason;

    QElapsedTimer clock;
    clock.start();
    bound = run(WriteScript(dir, "hangs", "exec sleep 30"), 300);
    EXPECT_LT(clock.elapsed(), 3000) << "the wait for the helper is not bounded";
    EXPECT_EQ(bound.descriptor, -1);
    EXPECT_NE(bound.reason.find("in time"), std::string::npos) << bound.reason;

    for (const char *body : {"printf 'not a status word' >&3", "printf 'ab' >&3", "printf '\\000\\000\\000\\000' >&3",
                             "printf '\\015\\000\\000\\000\\015' >&3"}) {
        bound = run(WriteScript(dir, "babbles", body));
        EXPECT_EQ(bound.descriptor, -1) << body;
        EXPECT_EQ(bound.error, 0) << body;
        EXPECT_NE(bound.reason.find("makes no sense"), std::string::npos) << body << ": " << bound.reason;
    }

    bound = run(dir.filePath("absent"));
    EXPECT_EQ(bound.descriptor, -1);
    EXPECT_NE(bound.reason.find("cannot run"), std::string::npos) << bound.reason;
}

// The helper may hold the right to bind low ports, so everything it loads must
// be beyond a user's reach: the C and C++ runtimes from the system, no search
// path of its own, and no reading of the environment or of files.
TEST(BindHelper, LoadsNothingAUserCouldPlace)
{
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"), {"-d", "--dyn-syms", "-W", QString::fromStdString(kHelper)});
    if (!readelf.waitForStarted(5000))
        GTEST_SKIP() << "readelf is missing (binutils)";
    ASSERT_TRUE(readelf.waitForFinished(10000));
    ASSERT_EQ(readelf.exitCode(), 0) << readelf.readAllStandardError().toStdString();
    const QString dump = QString::fromUtf8(readelf.readAllStandardOutput());

    const QStringList runtimes = {"libc.so.6", "libstdc++.so.6", "libm.so.6", "libgcc_s.so.1"};
    int needed = 0;
    for (const auto &match : QRegularExpression(R"(\(NEEDED\).*\[(.+)\])").globalMatch(dump)) {
        ++needed;
        EXPECT_TRUE(runtimes.contains(match.captured(1))) << "loads " << match.captured(1).toStdString();
    }
    EXPECT_GT(needed, 0) << "no NEEDED entry found: " << dump.toStdString();
    EXPECT_FALSE(dump.contains("(RPATH)") || dump.contains("(RUNPATH)")) << "has a library search path of its own";

    const QStringList forbidden = {"getenv", "secure_getenv", "dlopen", "fopen", "fopen64", "open", "open64",
                                   "openat", "execve", "execv", "execvp", "system", "popen"};
    for (const auto &match : QRegularExpression(R"(\bUND\s+([A-Za-z_][A-Za-z0-9_]*))").globalMatch(dump))
        EXPECT_FALSE(forbidden.contains(match.captured(1))) << "calls " << match.captured(1).toStdString();
}

// --- where the program finds it, and how it is installed ----------------------

TEST(BindHelperPlace, BesideTheProgramFirstAndOnlyWhenItCanRun)
{
    QTemporaryDir dir;
    const std::string bin = dir.path().toStdString();
    EXPECT_EQ(FindBindHelper(bin), "");
    EXPECT_EQ(FindBindHelper(""), "") << "an unknown program folder must not mean the current one";

    QFile plain(dir.filePath("vorsk-bind"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    plain.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(FindBindHelper(bin), "") << "a file that cannot run is no helper";
    plain.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(FindBindHelper(bin), bin + "/vorsk-bind");

    ASSERT_TRUE(QDir(dir.path()).mkdir("folder-named-like-it"));
    EXPECT_EQ(FindBindHelper(dir.filePath("folder-named-like-it").toStdString()), "");
}

TEST(BindHelperInstall, LaysOutTheHelperWhereTheInstalledProgramFindsIt)
{
    QTemporaryDir prefix;
    QProcess install;
    install.start(QStringLiteral(VORSK_CMAKE), {"--install", VORSK_BUILD_DIR, "--prefix", prefix.path()});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();

    const QString helper = QDir(prefix.path()).filePath(VORSK_BIND_INSTALLED);
    ASSERT_TRUE(QFileInfo(helper).isExecutable()) << helper.toStdString();
    const QString bin = QDir(prefix.path()).filePath(VORSK_BINDIR);
    EXPECT_TRUE(QFileInfo(bin + "/vorsk").isExecutable());
    EXPECT_FALSE(QFileInfo::exists(bin + "/vorsk-bind")) << "the helper belongs to no one's command path";

    const QString found = QString::fromStdString(FindBindHelper(bin.toStdString()));
    EXPECT_EQ(QFileInfo(found).canonicalFilePath(), QFileInfo(helper).canonicalFilePath());
    const BoundSocket bound = BindThroughHelper(helper.toStdString(), FreePort(), 5000);
    EXPECT_GE(bound.descriptor, 0) << "the installed helper does not work: " << bound.reason;
    if (bound.descriptor >= 0)
        ::close(bound.descriptor);
}

TEST(BindHelperInstall, ThePackageGrantsTheRightToTheHelperOnly)
{
    const QString postinst = QString::fromUtf8(FileContents(QStringLiteral(VORSK_POSTINST)));
    ASSERT_FALSE(postinst.isEmpty());
    const QString helper = QStringLiteral("/usr/" VORSK_BIND_INSTALLED);
    int grants = 0;
    for (const QString &line : postinst.split(QLatin1Char('\n'))) {
        const QString command = line.trimmed();
        if (command.startsWith(QLatin1Char('#')) || !command.contains(QRegularExpression(R"(\bsetcap\s+\S*=)")))
            continue;
        ++grants;
        EXPECT_TRUE(command.contains(QStringLiteral("cap_net_bind_service=+ep ") + helper)) << command.toStdString();
        EXPECT_FALSE(command.contains(QStringLiteral("/usr/bin/"))) << command.toStdString();
    }
    EXPECT_EQ(grants, 1);
}

// --- the listener -------------------------------------------------------------

TEST(BindHelperListener, AdoptsTheHelpersSocketAndServesThroughIt)
{
    const int port = FreePort();
    // The socket layer's loop runs here, a step at each look of the test.
    asio::io_context context;
    cWinsockListener listener(context);
    listener.setLocalPort(port);
    ASSERT_TRUE(listener.ListenThroughHelper(QCoreApplication::applicationDirPath().toStdString()))
        << listener.ErrorString().toStdString();
    EXPECT_EQ(listener.State(), sckListening);
    EXPECT_TRUE(listener.ErrorString().isEmpty());

    cWinsockSlot slot(context, 0);
    QString peer;
    listener.ConnectionRequest = [&](int requestId) {
        peer = listener.PendingPeerAddress(requestId);
        slot.Accept(listener, requestId);
    };
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(port));
    ASSERT_TRUE(client.waitForConnected(2000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return context.poll(), slot.State() == sckConnected; }, 2000));
    EXPECT_EQ(peer, QStringLiteral("127.0.0.1"));

    client.write("GET");
    ASSERT_TRUE(QTest::qWaitFor([&] { return context.poll(), slot.GetData() == "GET"; }, 2000));
    slot.SendData("picture");
    QByteArray received;
    EXPECT_TRUE(QTest::qWaitFor([&] { return context.poll(), (received += client.readAll()) == "picture"; }, 2000))
        << received.toStdString();

    listener.Close();
    EXPECT_EQ(listener.State(), sckClosed);
    EXPECT_EQ(ConnectLocally(port), -1) << "still listening after Close";
}

TEST(BindHelperListener, APortTheHelperCannotOpenSaysWhy)
{
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::AnyIPv4, 0));
    asio::io_context context;
    cWinsockListener listener(context);
    listener.setLocalPort(squatter.serverPort());
    EXPECT_FALSE(listener.ListenThroughHelper(QCoreApplication::applicationDirPath().toStdString()));
    EXPECT_EQ(listener.State(), sckClosed);
    EXPECT_TRUE(listener.ErrorString().startsWith(QStringLiteral("port helper: "))) << listener.ErrorString().toStdString();
}

// Whether this thread may bind low ports right now.
bool HoldsBindRight()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    return syscall(SYS_capget, &header, data) == 0 && (data[0].effective & (1u << CAP_NET_BIND_SERVICE));
}

// Sets the right aside for this thread, as a user's vorsk runs; it stays
// permitted and comes back at the end of the scope.
class WithoutBindRight
{
public:
    WithoutBindRight()
    {
        syscall(SYS_capget, &m_header, m_saved);
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[0].effective &= ~(1u << CAP_NET_BIND_SERVICE);
        syscall(SYS_capset, &m_header, lowered);
    }
    ~WithoutBindRight() { syscall(SYS_capset, &m_header, m_saved); }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2] = {};
};

bool HasFileBindRight(const QString &path)
{
    vfs_ns_cap_data caps{};
    const ssize_t size = getxattr(path.toLocal8Bit().constData(), "security.capability", &caps, sizeof caps);
    return size >= ssize_t(XATTR_CAPS_SZ_2) && (caps.magic_etc & VFS_CAP_FLAGS_EFFECTIVE) &&
           (caps.data[0].permitted & (1u << CAP_NET_BIND_SERVICE));
}

int UnprivilegedPortStart()
{
    bool ok = false;
    const int start = FileContents(QStringLiteral("/proc/sys/net/ipv4/ip_unprivileged_port_start")).trimmed().toInt(&ok);
    return ok ? start : 1024;
}

// Why a low port cannot be tried here, or nothing when it can.
std::optional<std::string> WhyNoLowPort(const QString &helper)
{
    if (UnprivilegedPortStart() <= 1)
        return "every port is open to everyone on this machine";
    if (HoldsBindRight())
        return geteuid() == 0 ? std::nullopt
                              : std::optional<std::string>("this process holds the right itself and is not root");
    if (prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1)
        return "no program started from here may gain a right (no_new_privs)";
    if (!HasFileBindRight(helper))
        return "the helper has no right: setcap cap_net_bind_service=+ep " + helper.toStdString();
    return std::nullopt;
}

// A low port a listener lacking the right opens: the fallback to the helper,
// as a user's vorsk serving port 80. Root's helper gets every right when it
// starts; anyone else's needs the right on the file (scripts/run gives it).
TEST(BindHelperListener, ALowPortIsServedThroughTheHelper)
{
    const QString helper = QCoreApplication::applicationDirPath() + QStringLiteral("/vorsk-bind");
    if (const auto why = WhyNoLowPort(helper))
        GTEST_SKIP() << *why;
    std::optional<WithoutBindRight> setAside;
    if (HoldsBindRight())
        setAside.emplace();
    ASSERT_FALSE(HoldsBindRight());

    QTemporaryDir folder;
    const QString picture = folder.filePath(QStringLiteral("lastpic.jpg"));
    QFile file(picture);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("JPEG picture");
    file.close();

    const int start = UnprivilegedPortStart();
    for (int port = start - 1; port > 0 && port >= start - 40; --port) {
        QTcpServer plain;
        ASSERT_FALSE(plain.listen(QHostAddress::AnyIPv4, quint16(port))) << "port " << port << " needs no right";
        ASSERT_EQ(plain.serverError(), QAbstractSocket::SocketAccessError);
        const BoundSocket probe = BindThroughHelper(helper.toStdString(), port, 5000);
        if (probe.error == EADDRINUSE)
            continue;
        ASSERT_GE(probe.descriptor, 0) << probe.reason;
        ::close(probe.descriptor);

        cWebServer server(PictureOnlyWindow(QString::number(port), picture, QStringLiteral("5")));
        ASSERT_TRUE(server.StartServer(QString())) << server.ListenError().toStdString();
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, quint16(port));
        ASSERT_TRUE(client.waitForConnected(2000));
        client.write("GET / HTTP/1.0\r\n\r\n");
        QByteArray answer;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                answer += client.readAll();
                return client.state() == QAbstractSocket::UnconnectedState;
            },
            3000));
        EXPECT_EQ(answer, QByteArray("JPEG picture"));
        return;
    }
    GTEST_SKIP() << "every port tried below " << start << " is in use";
}

} // namespace
