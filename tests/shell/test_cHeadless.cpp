#include "ProgramRun.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

class Headless : public ProgramRun
{
protected:
    void WriteSettings(const QByteArray &contents)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(UserSettings()).path()));
        QFile file(UserSettings());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    bool WaitForLine(const QString &text)
    {
        for (int i = 0; i < 50 && !m_sOut.contains(text); ++i) {
            m_vorsk.waitForReadyRead(100);
            m_sOut += Out();
        }
        return m_sOut.contains(text);
    }

    QString m_sOut;
};

// No display at all, as in a service without a session: the picture and the
// status page are served, each connection is logged with a time stamp, a
// request takes a new picture one interval later and counts it, SIGTERM ends
// it at once with 0, nothing goes to stderr (no word from Qt of a missing
// runtime folder), and the settings file, with the server's own group, is as
// it was.
TEST_F(Headless, ServesWithoutADisplayAndEndsInOrder)
{
    m_environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    const quint16 port = FreePort();
    const QByteArray settings =
        QStringLiteral("[prefs]\nport=%1\nwidth=64\nheight=48\ninterval=1\n\n[server]\nheaders=False\n")
            .arg(port).toUtf8();
    WriteSettings(settings);
    Start({QStringLiteral("--headless")});
    ASSERT_TRUE(WaitForLine(QStringLiteral("port %1").arg(port))) << Err().toStdString();

    QImage picture;
    ASSERT_TRUE(picture.loadFromData(Fetch(port, "GET / HTTP/1.0\r\n\r\n"), "JPEG"));
    EXPECT_EQ(picture.size(), QSize(64, 48));
    EXPECT_TRUE(Fetch(port, "GET /uptime HTTP/1.0\r\n\r\n").contains("Total hits</FONT></B><BR>0<"));
    const QRegularExpression logLine(QStringLiteral("\\d{4}-\\d\\d-\\d\\dT[\\d:]{8} [^\\n]*127\\.0\\.0\\.1\\n"));
    for (int i = 0; i < 50 && m_sOut.count(logLine) < 2; ++i) {
        m_vorsk.waitForReadyRead(100);
        m_sOut += Out();
    }
    EXPECT_EQ(m_sOut.count(logLine), 2) << m_sOut.toStdString();
    QThread::msleep(1500);
    EXPECT_TRUE(Fetch(port, "GET /uptime HTTP/1.0\r\n\r\n").contains("Total hits</FONT></B><BR>1<"));

    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(m_vorsk.processId()), SIGTERM);
    ASSERT_TRUE(m_vorsk.waitForFinished(1000));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(m_vorsk.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_vorsk.exitCode(), 0);
    EXPECT_EQ(Err(), QString());
    EXPECT_EQ(FileContents(UserSettings()), settings);
}

TEST_F(Headless, APortInUseEndsItWithOne)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    WriteSettings(QStringLiteral("[prefs]\nport=%1\n").arg(holder.serverPort()).toUtf8());
    EXPECT_EQ(Run({QStringLiteral("--headless")}), 1);
    EXPECT_TRUE(Err().contains(QString::number(holder.serverPort())));
}

// SIGINT ends it as SIGTERM does; with --config it reads that file and
// creates no settings file of the user's.
TEST_F(Headless, InterruptEndsItInOrder)
{
    const QString config = m_root.filePath(QStringLiteral("door.conf"));
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("[prefs]\nport=%1\n").arg(FreePort()).toUtf8());
    file.close();
    for (const int number : {SIGINT}) {
        m_sOut.clear();
        Start({QStringLiteral("--headless"), QStringLiteral("--config"), config});
        ASSERT_TRUE(WaitForLine(QStringLiteral("serving on port"))) << Err().toStdString();
        ::kill(pid_t(m_vorsk.processId()), number);
        ASSERT_TRUE(m_vorsk.waitForFinished(1000)) << number;
        EXPECT_EQ(m_vorsk.exitStatus(), QProcess::NormalExit) << number;
        EXPECT_EQ(m_vorsk.exitCode(), 0) << number;
    }
    EXPECT_FALSE(QFile::exists(UserSettings()));
}

// Settings written by hand in the documented forms hold as written: the ban
// list joined with ";" bans its last address too (a banned peer gets nothing
// and is logged as refused), and a caption with ";" and ", " is drawn whole:
// the same picture as from the quoted form, another than from its first word.
TEST_F(Headless, HandWrittenSettingsHoldAsWritten)
{
    // A still camera, so that only the caption can tell two pictures apart.
    m_environment.insert(QStringLiteral("VORSK_CAMERA"),
                         QStringLiteral("gst:videotestsrc pattern=solid-color foreground-color=0xff336699 "
                                        "! video/x-raw,width=160,height=120"));
    const quint16 port = FreePort();
    auto pictureWith = [&](const char *imagetext) {
        WriteSettings(QStringLiteral("[prefs]\nport=%1\nwidth=160\nheight=120\nbanlist=10.1.2.3;127.0.0.1\n"
                                     "imagetext=%2\n")
                          .arg(port)
                          .arg(QLatin1String(imagetext))
                          .toUtf8());
        m_sOut.clear();
        Start({QStringLiteral("--headless")});
        EXPECT_TRUE(WaitForLine(QStringLiteral("port %1").arg(port))) << Err().toStdString();
        EXPECT_EQ(Fetch(port, "GET / HTTP/1.0\r\n\r\n"), QByteArray());
        EXPECT_TRUE(WaitForLine(QStringLiteral("127.0.0.1")));
        EXPECT_FALSE(m_sOut.contains(QStringLiteral("Accepted"))) << m_sOut.toStdString();
        const QByteArray picture = FileContents(Picture());
        m_vorsk.terminate();
        EXPECT_TRUE(m_vorsk.waitForFinished(2000));
        QFile::remove(Picture());
        return picture;
    };
    const QByteArray asWritten = pictureWith("Door; side, front");
    ASSERT_TRUE(QImage::fromData(asWritten, "JPEG").size() == QSize(160, 120));
    EXPECT_EQ(pictureWith("\"Door; side, front\""), asWritten);
    EXPECT_NE(pictureWith("Door"), asWritten);
}

// Port 0 lets the system choose: the log names the port really listened on,
// and the status page of the first second shows the uptime as the window does.
TEST_F(Headless, TheLogNamesThePortListenedOnAndTheFirstPageIsWhole)
{
    WriteSettings("[prefs]\nport=0\n");
    Start({QStringLiteral("--headless")});
    ASSERT_TRUE(WaitForLine(QStringLiteral("serving on port"))) << Err().toStdString();
    const QRegularExpression serving(QStringLiteral("serving on port (\\d+)"));
    const quint16 port = quint16(serving.match(m_sOut).captured(1).toUInt());
    ASSERT_GT(port, 0) << m_sOut.toStdString();
    EXPECT_TRUE(Fetch(port, "GET /uptime HTTP/1.0\r\n\r\n").contains("Server uptime</FONT></B><BR>-<BR>"));
    m_vorsk.terminate();
    EXPECT_TRUE(m_vorsk.waitForFinished(2000));
}

namespace {

// One answer of the server at an address, asked from a given local address
// when one is given: everything it sends before it closes.
QByteArray FetchFrom(const QHostAddress &address, quint16 port, const QHostAddress &from = QHostAddress())
{
    QTcpSocket socket;
    if (!from.isNull() && !socket.bind(from))
        return {};
    socket.connectToHost(address, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write("GET / HTTP/1.0\r\n\r\n");
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        answer += socket.readAll();
    return answer + socket.readAll();
}

// A live stream's viewer on a thread of its own that takes every byte as it
// comes, so its slot never stands idle; how many bytes it had.
class StreamViewer
{
public:
    explicit StreamViewer(quint16 port)
        : m_thread([this, port] {
              const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
              const timeval tick{0, 100000};
              ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
              sockaddr_in address{};
              address.sin_family = AF_INET;
              address.sin_port = htons(port);
              address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
              const char request[] = "GET /stream HTTP/1.1\r\nHost: vorsk\r\n\r\n";
              if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                  ::send(fd, request, sizeof request - 1, 0) > 0) {
                  char buffer[65536];
                  while (!m_bStop)
                      if (const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0); got > 0)
                          m_bytes += got;
                      else if (got == 0)
                          break;
              }
              ::close(fd);
          })
    {
    }
    ~StreamViewer()
    {
        m_bStop = true;
        m_thread.join();
    }
    qint64 Bytes() const { return m_bytes; }

private:
    std::atomic<bool> m_bStop{false};
    std::atomic<qint64> m_bytes{0};
    std::thread m_thread;
};

} // namespace

// The limit counts from slot 0: with maxcon=1 two live streams are served at
// once, and a third viewer, after its wait for a slot, is closed unanswered
// and has its line in the service's log (a picture would be served: streams
// give way to it).
TEST_F(Headless, OneMoreThanTheLimitIsServedAndTheNextIsLoggedOverTheLimit)
{
    const quint16 port = FreePort();
    WriteSettings(QStringLiteral("[prefs]\nport=%1\nwidth=64\nheight=48\nmaxcon=1\n\n[server]\nheaders=True\n")
                      .arg(port).toUtf8());
    Start({QStringLiteral("--headless")});
    ASSERT_TRUE(WaitForLine(QStringLiteral("serving on port"))) << Err().toStdString();
    StreamViewer first(port), second(port);
    for (int i = 0; i < 100 && (first.Bytes() == 0 || second.Bytes() == 0); ++i)
        QThread::msleep(50);
    EXPECT_GT(first.Bytes(), 0);
    EXPECT_GT(second.Bytes(), 0);

    EXPECT_EQ(Fetch(port, "GET /stream HTTP/1.0\r\n\r\n"), QByteArray());
    EXPECT_TRUE(WaitForLine(QStringLiteral("127.0.0.1 (over the limit)\n"))) << m_sOut.toStdString();
    EXPECT_EQ(m_sOut.count(QStringLiteral("over the limit")), 1) << m_sOut.toStdString();
    m_vorsk.terminate();
    EXPECT_TRUE(m_vorsk.waitForFinished(5000));
}

// A service's log, stdout being a file as under systemd: every connection,
// accepted or refused as banned, has its line in the file while the program
// runs (no buffer holds them back), and the lines of connections made just
// before SIGTERM are all there after it.
TEST_F(Headless, TheLogInAFileHasEveryConnectionAtOnceAndAfterSigterm)
{
    const quint16 port = FreePort();
    WriteSettings(QStringLiteral("[prefs]\nport=%1\nwidth=64\nheight=48\nbanlist=127.0.0.2\n").arg(port).toUtf8());
    const QString log = m_root.filePath(QStringLiteral("stdout.log"));
    m_vorsk.setStandardOutputFile(log);
    Start({QStringLiteral("--headless")});
    auto lines = [&](const char *address) {
        const QRegularExpression line(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT[\\d:]{8} [^\\n]* %1$")
                                          .arg(QRegularExpression::escape(QLatin1String(address))),
                                      QRegularExpression::MultilineOption);
        return QString::fromLocal8Bit(FileContents(log)).count(line);
    };
    for (int i = 0; i < 100 && !FileContents(log).contains("serving on port"); ++i)
        QThread::msleep(100);
    ASSERT_TRUE(FileContents(log).contains("serving on port")) << Err().toStdString();

    // Ten connections, every third from the banned address.
    auto visit = [&] {
        for (int i = 0; i < 10; ++i) {
            const bool bBanned = i % 3 == 2;
            const QByteArray answer = FetchFrom(QHostAddress::LocalHost, port, QHostAddress(bBanned ? "127.0.0.2" : "127.0.0.1"));
            EXPECT_EQ(answer.isEmpty(), bBanned) << i;
        }
    };
    visit();
    for (int i = 0; i < 50 && lines("127.0.0.1") + lines("127.0.0.2") < 10; ++i)
        QThread::msleep(100);
    EXPECT_EQ(lines("127.0.0.1"), 7) << FileContents(log).toStdString();
    EXPECT_EQ(lines("127.0.0.2"), 3) << FileContents(log).toStdString();

    visit();
    ::kill(pid_t(m_vorsk.processId()), SIGTERM);
    ASSERT_TRUE(m_vorsk.waitForFinished(5000));
    EXPECT_EQ(m_vorsk.exitCode(), 0);
    EXPECT_EQ(lines("127.0.0.1"), 14) << FileContents(log).toStdString();
    EXPECT_EQ(lines("127.0.0.2"), 6) << FileContents(log).toStdString();
    EXPECT_TRUE(FileContents(log).endsWith("stopped\n")) << FileContents(log).toStdString();
}

// [server] listen keeps the server to one address, a name such as localhost
// too; one that is not the machine's ends it with 1 and names it.
TEST_F(Headless, TheListenAddressAloneIsServed)
{
    const quint16 port = FreePort();
    const QHostAddress first(QStringLiteral("127.0.0.1")), second(QStringLiteral("127.0.0.2"));
    for (const auto &[listen, served, shut] :
         {std::tuple{"127.0.0.2", second, first}, std::tuple{"localhost", first, second}}) {
        WriteSettings(QStringLiteral("[prefs]\nport=%1\n[server]\nlisten=%2\n").arg(port).arg(listen).toUtf8());
        Start({QStringLiteral("--headless")});
        ASSERT_TRUE(WaitForLine(QStringLiteral("serving on port %1 at %2").arg(port).arg(listen))) << listen;
        EXPECT_FALSE(FetchFrom(served, port).isEmpty()) << listen;
        EXPECT_TRUE(FetchFrom(shut, port).isEmpty()) << listen;
        m_vorsk.terminate();
        ASSERT_TRUE(m_vorsk.waitForFinished(5000));
    }
    WriteSettings(QStringLiteral("[prefs]\nport=%1\n[server]\nlisten=192.0.2.1\n").arg(port).toUtf8());
    EXPECT_EQ(Run({QStringLiteral("--headless")}), 1);
    EXPECT_TRUE(Err().contains(QStringLiteral("192.0.2.1: "))) << m_sOut.toStdString();
}

// Socket activation as systemd does it, by its own launcher: the first viewer
// starts vorsk, which serves on the socket handed over, to IPv4 and IPv6 peers
// alike, and never opens the port of its settings. A handed socket that is no
// listening TCP socket ends it with 1 and says why.
TEST_F(Headless, ServesOnTheSocketSystemdHandsOver)
{
    const QString launcher = QStandardPaths::findExecutable(QStringLiteral("systemd-socket-activate"));
    if (launcher.isEmpty())
        GTEST_SKIP() << "systemd-socket-activate is not installed (Debian package systemd)";
    const quint16 handed = FreePort();
    quint16 own = FreePort();
    while (own == handed)
        own = FreePort();
    QString sErr;
    // A listen address does not narrow the socket handed over.
    WriteSettings(
        QStringLiteral("[prefs]\nport=%1\nwidth=64\nheight=48\n[server]\nlisten=127.0.0.2\n").arg(own).toUtf8());
    auto launch = [&](const QStringList &options) {
        m_vorsk.setProcessEnvironment(m_environment);
        m_vorsk.start(launcher, options + QStringList{QStringLiteral("-E"), QStringLiteral("HOME"),
                                                      QStringLiteral("-E"), QStringLiteral("XDG_CONFIG_HOME"),
                                                      QStringLiteral("-E"), QStringLiteral("TMPDIR"),
                                                      QStringLiteral("-E"), QStringLiteral("VORSK_CAMERA"),
                                                      QStringLiteral(VORSK_EXECUTABLE), QStringLiteral("--headless")});
        sErr.clear();
        if (!m_vorsk.waitForStarted())
            return false;
        // The launcher says on stderr when it listens.
        for (int i = 0; i < 50 && !sErr.contains(QStringLiteral("Listening on")); ++i) {
            m_vorsk.waitForReadyRead(100);
            sErr += Err();
        }
        return sErr.contains(QStringLiteral("Listening on"));
    };
    ASSERT_TRUE(launch({QStringLiteral("-l"), QString::number(handed)})) << sErr.toStdString();

    QImage picture;
    EXPECT_TRUE(picture.loadFromData(FetchFrom(QHostAddress::LocalHost, handed), "JPEG")) << Err().toStdString();
    EXPECT_EQ(picture.size(), QSize(64, 48));
    ASSERT_TRUE(WaitForLine(QStringLiteral("serving on port %1").arg(handed))) << m_sOut.toStdString();
    QTcpServer ipv6;
    if (ipv6.listen(QHostAddress::LocalHostIPv6, 0)) {
        EXPECT_TRUE(picture.loadFromData(FetchFrom(QHostAddress::LocalHostIPv6, handed), "JPEG"));
        EXPECT_TRUE(WaitForLine(QStringLiteral("::1")));
    }
    EXPECT_TRUE(m_sOut.contains(QStringLiteral(" 127.0.0.1\n"))) << m_sOut.toStdString();
    QTcpSocket ownPort;
    ownPort.connectToHost(QHostAddress::LocalHost, own);
    EXPECT_FALSE(ownPort.waitForConnected(1000)) << "the settings' port is not opened";
    ::kill(pid_t(m_vorsk.processId()), SIGTERM);
    ASSERT_TRUE(m_vorsk.waitForFinished(5000));
    EXPECT_EQ(m_vorsk.exitCode(), 0);

    m_sOut.clear();
    ASSERT_TRUE(launch({QStringLiteral("--datagram"), QStringLiteral("-l"), QString::number(handed)}));
    QUdpSocket knock;
    knock.writeDatagram("knock", QHostAddress::LocalHost, handed);
    ASSERT_TRUE(m_vorsk.waitForFinished(5000));
    EXPECT_EQ(m_vorsk.exitCode(), 1);
    EXPECT_TRUE((sErr + Err()).contains(QStringLiteral("no listening TCP socket"))) << sErr.toStdString();
}

// SIGHUP reads the settings file again in the same process: a live stream from
// before goes on, the new password and ban list hold at once, and the new port
// listens while the old one is closed. A port that cannot be opened, or a file
// that cannot be read, leaves it serving as it was, with a line saying why.
TEST_F(Headless, HangUpReadsTheSettingsAgainWithoutDroppingViewers)
{
    const quint16 first = FreePort();
    quint16 second = FreePort();
    while (second == first)
        second = FreePort();
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    // The lines of what could not be done are on stderr.
    m_vorsk.setProcessChannelMode(QProcess::MergedChannels);
    // Locked: a password, and 127.0.0.2 banned.
    auto reload = [&](quint16 port, bool bLocked, const QString &line) {
        WriteSettings(QStringLiteral("[prefs]\nport=%1\nwidth=64\nheight=48\nbanlist=%2\n\n[server]\nheaders=True\n"
                                     "password=%3\n")
                          .arg(port)
                          .arg(QLatin1String(bLocked ? "127.0.0.2" : ""), QLatin1String(bLocked ? "secret" : ""))
                          .toUtf8());
        if (m_vorsk.state() == QProcess::NotRunning)
            Start({QStringLiteral("--headless")});
        else
            ::kill(pid_t(m_vorsk.processId()), SIGHUP);
        EXPECT_TRUE(WaitForLine(line)) << m_sOut.toStdString();
    };
    reload(first, false, QStringLiteral("serving on port %1").arg(first));
    StreamViewer viewer(first);
    for (int i = 0; i < 100 && viewer.Bytes() == 0; ++i)
        QThread::msleep(50);
    reload(second, true, QStringLiteral("serving on port %1").arg(second));
    const qint64 bytes = viewer.Bytes();
    for (int i = 0; i < 100 && viewer.Bytes() == bytes; ++i)
        QThread::msleep(50);
    EXPECT_GT(viewer.Bytes(), bytes) << "the live stream from before goes on";
    EXPECT_TRUE(Fetch(second, "GET / HTTP/1.0\r\n\r\n").startsWith("HTTP/1.1 401"));
    const QByteArray keyed = Fetch(second, "GET /?key=secret HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(QImage::fromData(keyed.mid(keyed.indexOf("\r\n\r\n") + 4), "JPEG").size() == QSize(64, 48));
    EXPECT_TRUE(Fetch(first, "GET / HTTP/1.0\r\n\r\n").isEmpty()) << "the old port is closed";
    EXPECT_TRUE(FetchFrom(QHostAddress::LocalHost, second, QHostAddress(QStringLiteral("127.0.0.2"))).isEmpty());

    reload(holder.serverPort(), true, QStringLiteral("still serving on port %1").arg(second));
    ASSERT_TRUE(QFile::remove(UserSettings()) && QDir().mkpath(UserSettings()));
    ::kill(pid_t(m_vorsk.processId()), SIGHUP);
    EXPECT_TRUE(WaitForLine(QStringLiteral("the running settings stay"))) << m_sOut.toStdString();
    EXPECT_TRUE(Fetch(second, "GET / HTTP/1.0\r\n\r\n").startsWith("HTTP/1.1 401")) << "the password as it was";
    m_vorsk.terminate();
    EXPECT_TRUE(m_vorsk.waitForFinished(5000));
}

// With savelog=1 every log line, with its time, also goes to the log file of
// the settings file, those of connections made just before SIGTERM too.
TEST_F(Headless, SaveLogfileWritesEveryLineToTheLogFile)
{
    const quint16 port = FreePort();
    WriteSettings(QStringLiteral("[prefs]\nport=%1\nsavelog=1\n").arg(port).toUtf8());
    const QString state = m_root.filePath(QStringLiteral("state"));
    m_environment.insert(QStringLiteral("XDG_STATE_HOME"), state);
    Start({QStringLiteral("--headless")});
    ASSERT_TRUE(WaitForLine(QStringLiteral("serving on port"))) << Err().toStdString();
    for (int i = 0; i < 2; ++i)
        EXPECT_FALSE(Fetch(port, "GET / HTTP/1.0\r\n\r\n").isEmpty());
    m_vorsk.terminate();
    EXPECT_TRUE(m_vorsk.waitForFinished(5000));
    const QString log = QString::fromUtf8(FileContents(state + QStringLiteral("/vorsk/default.log")));
    const QRegularExpression accepted(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT[\\d:]{8} Accepted[^\\n]* 127\\.0\\.0\\.1$"),
        QRegularExpression::MultilineOption);
    EXPECT_EQ(log.count(accepted), 2) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("serving on port")) && log.endsWith(QStringLiteral("stopped\n")));
}

// An instance's picture folder goes when it ends, also after a start that
// failed; one a killed instance left goes at the next start of any instance.
TEST_F(Headless, PictureFoldersGoWithTheirInstances)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    auto config = [&](const QString &name, quint16 port) {
        QFile file(m_root.filePath(name + QStringLiteral(".conf")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[prefs]\nport=%1\n").arg(port).toUtf8());
        return QStringList{QStringLiteral("--headless"), QStringLiteral("--config"), file.fileName()};
    };
    const QDir base(QStringLiteral("%1/vorsk-%2").arg(Tmp()).arg(getuid()));
    for (const int number : {SIGTERM, SIGKILL}) {
        Start(config(QStringLiteral("ended"), FreePort()));
        ASSERT_TRUE(WaitForPicture()) << Err().toStdString();
        const QString folder = QFileInfo(Picture()).path();
        ::kill(pid_t(m_vorsk.processId()), number);
        EXPECT_TRUE(m_vorsk.waitForFinished(5000));
        EXPECT_EQ(QFileInfo::exists(folder), number == SIGKILL) << number;
    }
    EXPECT_EQ(Run(config(QStringLiteral("failed"), holder.serverPort())), 1);
    EXPECT_EQ(base.entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList()) << "the failed and the killed";
}

// The real program, its camera missing since the start, seen by monitors:
// promtool passes its metrics, a real Prometheus scrapes them and answers a query
// over its API, and a page of an origin in alloworigin (a list) may read the JSON.
TEST_F(Headless, PrometheusScrapesItAndAllowedPagesReadItsStatus)
{
    const QString prometheus = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
    if (prometheus.isEmpty())
        GTEST_SKIP() << "Debian's prometheus is not installed";
    const quint16 port = FreePort(), apiPort = FreePort();
    m_environment.insert(QStringLiteral("VORSK_CAMERA"), m_root.filePath(QStringLiteral("no-such-camera")));
    WriteSettings(QStringLiteral("[prefs]\nport=%1\n[server]\nheaders=True\n"
                                 "alloworigin=https://printer.example, http://ha.local:8123\n").arg(port).toUtf8());
    const qint64 started = QDateTime::currentSecsSinceEpoch();
    Start({QStringLiteral("--headless")});
    ASSERT_TRUE(WaitForLine(QStringLiteral("serving on port"))) << Err().toStdString();
    const QByteArray status = Fetch(port, "GET /status.json HTTP/1.1\r\nHost: x\r\nOrigin: http://ha.local:8123\r\n\r\n");
    EXPECT_TRUE(status.contains("\r\nAccess-Control-Allow-Origin: http://ha.local:8123\r\n")) << status.toStdString();
    const QJsonObject camera = QJsonDocument::fromJson(status.mid(status.indexOf('{'))).object()["camera"].toObject();
    EXPECT_EQ(camera["state"], "gone") << status.toStdString();
    EXPECT_NEAR(QDateTime::fromString(camera["since"].toString(), Qt::ISODate).toSecsSinceEpoch(), started, 10);
    EXPECT_EQ(QProcess::execute(QStringLiteral("bash"), {QStringLiteral("-o"), QStringLiteral("pipefail"), QStringLiteral("-c"),
        QStringLiteral("curl -sSf http://127.0.0.1:%1/metrics | promtool check metrics").arg(port)}), 0);

    QFile config(m_root.filePath(QStringLiteral("prometheus.yml")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global: {scrape_interval: 1s}\nscrape_configs:\n- job_name: vorsk\n"
                                "  static_configs: [{targets: ['127.0.0.1:%1']}]\n").arg(port).toUtf8());
    config.close();
    QProcess scraper; // ends by itself should the test not end it
    scraper.start(QStringLiteral("timeout"), {QStringLiteral("120"), prometheus, "--config.file=" + config.fileName(),
                                              "--storage.tsdb.path=" + m_root.filePath(QStringLiteral("tsdb")),
                                              QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(apiPort)});
    QByteArray answer;
    for (int i = 0; i < 120 && !answer.contains(R"("value":[)"); ++i, QThread::msleep(500))
        answer = Fetch(apiPort, "GET /api/v1/query?query=vorsk_camera_up%7Bjob%3D%22vorsk%22%7D HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(answer.contains(R"("__name__":"vorsk_camera_up")") && answer.endsWith(R"(,"0"]}]}})")) << answer.toStdString();
    scraper.terminate();
    m_vorsk.terminate();
    EXPECT_TRUE(scraper.waitForFinished(10000) && m_vorsk.waitForFinished(5000));
}
