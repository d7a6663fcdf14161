#include "PictureMeasures.h"
#include "ProgramRun.h"
#include "mHttpDate.h"

#include <QElapsedTimer>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>

// The camera as people meet it, through the real program: network cameras
// whose frames come out of a demuxer or a decoder, and a camera that is
// missing at the start, goes away and comes back.

namespace {

// The header-less picture the server answers with.
QImage FetchPicture(quint16 port)
{
    return QImage::fromData(Fetch(port, "GET / HTTP/1.0\r\n\r\n"), "JPEG");
}

// The picture is 160 x 120; the caption's box starts 17 pixels above the
// bottom edge and the line about the camera sits on it.
constexpr int kWidth = 160, kHeight = 120;
constexpr int kPictureBottom = 80, kLineTop = 88, kCaptionTop = 103;

} // namespace

class CameraLife : public ProgramRun
{
protected:
    void SetUp() override
    {
        ProgramRun::SetUp();
        m_sLauncher = QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0"));
        if (m_sLauncher.isEmpty())
            GTEST_SKIP() << "gst-launch-1.0 is missing (Debian package gstreamer1.0-tools)";
    }

    void TearDown() override
    {
        for (QProcess *process : {&m_sender, &m_vorsk, &m_other})
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(2000);
            }
    }

    // A settings file of 160 x 120 pictures taken at most five times a
    // second (or at the interval given), with lines of its own under [server].
    QString Settings(quint16 port, bool bHeaders = false, const QString &sInterval = QStringLiteral("0.2"),
                     const QString &sServer = QString())
    {
        const QString path = m_root.filePath(QStringLiteral("cam-%1.conf").arg(port));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[prefs]\nport=%1\nwidth=%2\nheight=%3\ninterval=%5\n[server]\nheaders=%4\n%6\n")
                       .arg(port)
                       .arg(kWidth)
                       .arg(kHeight)
                       .arg(bHeaders ? QStringLiteral("True") : QStringLiteral("False"), sInterval, sServer)
                       .toUtf8());
        return path;
    }

    // A program of GStreamer's own sending frames, as a network camera would.
    void StartSender(const QString &sPipeline)
    {
        m_sender.start(m_sLauncher, QStringList{QStringLiteral("-q")} + QProcess::splitCommand(sPipeline));
        ASSERT_TRUE(m_sender.waitForStarted());
    }

    void StopSender()
    {
        m_sender.kill();
        m_sender.waitForFinished(2000);
    }

    // Vorsk without a display on its own settings, serving once it says so.
    void StartVorsk(QProcess &vorsk, const QString &sCamera, quint16 port, bool bHeaders = false,
                    const QString &sConfig = QString())
    {
        QProcessEnvironment environment = m_environment;
        environment.insert(QStringLiteral("VORSK_CAMERA"), sCamera);
        vorsk.setProcessEnvironment(environment);
        vorsk.start(QStringLiteral(VORSK_EXECUTABLE), {QStringLiteral("--headless"), QStringLiteral("--config"),
                                                        sConfig.isEmpty() ? Settings(port, bHeaders) : sConfig});
        ASSERT_TRUE(vorsk.waitForStarted());
        QString out;
        for (int i = 0; i < 100 && !out.contains(QStringLiteral("serving on port")); ++i) {
            vorsk.waitForReadyRead(100);
            out += QString::fromLocal8Bit(vorsk.readAllStandardOutput());
        }
        ASSERT_TRUE(out.contains(QStringLiteral("serving on port")))
            << sCamera.toStdString() << ": " << vorsk.readAllStandardError().toStdString();
    }

    void EndVorsk(QProcess &vorsk)
    {
        ::kill(pid_t(vorsk.processId()), SIGTERM);
        EXPECT_TRUE(vorsk.waitForFinished(5000));
        EXPECT_EQ(vorsk.exitCode(), 0);
    }

    // Asks for the picture (each request asks for a new one) until it is as
    // wanted, for up to ten seconds; the last picture had.
    template <typename Wanted>
    QImage PictureWhen(quint16 port, Wanted wanted)
    {
        QImage picture;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            picture = FetchPicture(port);
            if (picture.size() == QSize(kWidth, kHeight) && wanted(picture))
                break;
            QThread::msleep(100);
        }
        return picture;
    }

    QString m_sLauncher;
    QProcess m_sender;
    QProcess m_other;
};

// Frames out of a demuxer, a decoder and another Vorsk's live stream over
// HTTP: each camera gives its real picture, at the size set.
TEST_F(CameraLife, NetworkCamerasPublishTheirRealPicture)
{
    const quint16 senderPort = FreePort(), streamPort = FreePort(), port = FreePort();
    StartSender(QStringLiteral("videotestsrc is-live=true ! video/x-raw,width=320,height=240,framerate=15/1 ! "
                               "jpegenc ! multipartmux ! tcpserversink host=127.0.0.1 port=%1")
                    .arg(senderPort));
    StartVorsk(m_other, QStringLiteral("test"), streamPort, true);
    const QString tcp = QStringLiteral("gst:tcpclientsrc host=127.0.0.1 port=%1 ! multipartdemux").arg(senderPort);
    const QString cameras[] = {
        tcp,
        tcp + QStringLiteral(" ! jpegdec"),
        QStringLiteral("gst:videotestsrc is-live=true ! video/x-raw,width=320,height=240 ! jpegenc ! decodebin"),
        QStringLiteral("gst:souphttpsrc location=http://127.0.0.1:%1/stream is-live=true ! multipartdemux")
            .arg(streamPort),
    };
    for (const QString &camera : cameras) {
        StartVorsk(m_vorsk, camera, port);
        const QImage picture = PictureWhen(port, [](const QImage &) { return true; });
        EXPECT_EQ(picture.size(), QSize(kWidth, kHeight)) << camera.toStdString();
        EXPECT_GT(MeanLevel(picture, 0, kPictureBottom), 80) << camera.toStdString() << ": the test bars, not dark";
        EndVorsk(m_vorsk);
        EXPECT_FALSE(m_vorsk.readAllStandardError().contains("No picture")) << camera.toStdString();
    }
    EndVorsk(m_other);
}

// A camera over TCP: missing when the service starts, sending, gone, back.
// While there is no picture, a viewer sees it said: dark, or the last frame
// dimmed, with the line above the caption; the camera is taken back when it
// returns, without a restart.
TEST_F(CameraLife, ACameraMissingOrGoneIsSaidSoAndTakenBack)
{
    const quint16 senderPort = FreePort(), port = FreePort();
    const QString sender = QStringLiteral("videotestsrc is-live=true pattern=white ! "
                                          "video/x-raw,format=I420,width=320,height=240,framerate=15/1 ! "
                                          "tcpserversink host=127.0.0.1 port=%1")
                               .arg(senderPort);
    StartVorsk(m_vorsk,
               QStringLiteral("gst:tcpclientsrc host=127.0.0.1 port=%1 ! "
                              "rawvideoparse width=320 height=240 format=i420 framerate=15/1")
                   .arg(senderPort),
               port);
    const QImage dark = FetchPicture(port);
    ASSERT_EQ(dark.size(), QSize(kWidth, kHeight));
    EXPECT_LT(MeanLevel(dark, 0, kPictureBottom), 10);
    EXPECT_GT(BrightPixels(dark, kLineTop, kCaptionTop), 20) << "the line";

    auto white = [](const QImage &picture) { return MeanLevel(picture, 0, kPictureBottom) > 220; };
    auto dimmed = [](const QImage &picture) {
        const double level = MeanLevel(picture, 0, kPictureBottom);
        return level > 110 && level < 140;
    };
    for (int round = 0; round < 2; ++round) {
        StartSender(sender);
        QElapsedTimer back;
        back.start();
        EXPECT_TRUE(white(PictureWhen(port, white))) << round << ": live again";
        std::printf("round %d: live %lld ms after the camera's return\n", round, back.elapsed());
        StopSender();
        const QImage gone = PictureWhen(port, dimmed);
        EXPECT_TRUE(dimmed(gone)) << round << ": the last frame, dimmed";
        EXPECT_GT(BrightPixels(gone, kLineTop, kCaptionTop), 20) << round << ": the line";
    }
    EndVorsk(m_vorsk);
    const QString out = QString::fromLocal8Bit(m_vorsk.readAllStandardOutput());
    EXPECT_EQ(out.count(QStringLiteral("the camera is open")), 1) << out.toStdString();
}

namespace {

// The JPEG parts of a live stream as they came, each by its Content-Length.
QList<QByteArray> StreamParts(const QByteArray &stream)
{
    QList<QByteArray> parts;
    static const QByteArray kLength("Content-Length: ");
    for (qsizetype at = stream.indexOf("\r\n\r\n"); (at = stream.indexOf(kLength, at)) >= 0;) {
        const qsizetype end = stream.indexOf("\r\n\r\n", at);
        const qsizetype length = stream.mid(at + kLength.size(), end - at - kLength.size()).toLongLong();
        if (end < 0 || end + 4 + length > stream.size())
            break;
        parts << stream.mid(end + 4, length);
        at = end + 4 + length;
    }
    return parts;
}

} // namespace

// Two viewers of /stream over a 30 frames a second camera: many more
// pictures than snapshots, each whole and captioned, the same bytes for both.
TEST_F(CameraLife, ALiveStreamGivesEveryViewerTheCamerasFrames)
{
    const quint16 port = FreePort();
    StartVorsk(m_vorsk, QStringLiteral("test"), port, true);
    QTcpSocket viewers[2];
    QByteArray received[2];
    for (QTcpSocket &viewer : viewers) {
        viewer.connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(viewer.waitForConnected(2000));
        viewer.write("GET /stream HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2000)
        for (int i = 0; i < 2; ++i)
            if (viewers[i].waitForReadyRead(20))
                received[i] += viewers[i].readAll();
    const QByteArray status = Fetch(port, "GET /uptime HTTP/1.0\r\n\r\n");
    const qsizetype hits = status.indexOf("Total hits</FONT></B><BR>");
    ASSERT_GE(hits, 0);
    const int snapshots = status.mid(hits + 25, 4).split('<').value(0).toInt();

    const QList<QByteArray> parts[2] = {StreamParts(received[0]), StreamParts(received[1])};
    const QSet<QByteArray> distinct(parts[0].begin(), parts[0].end());
    std::printf("in 2 s: %lld and %lld stream pictures, %lld distinct; %d snapshots\n", qlonglong(parts[0].size()),
                qlonglong(parts[1].size()), qlonglong(distinct.size()), snapshots);
    EXPECT_GT(distinct.size(), 3 * (snapshots + 1)) << "snapshots: " << snapshots;
    for (const QByteArray &part : parts[0]) {
        const QImage picture = QImage::fromData(part, "JPEG");
        ASSERT_EQ(picture.size(), QSize(kWidth, kHeight));
        EXPECT_GT(BrightPixels(picture, kCaptionTop, kHeight), 20) << "the caption";
    }
    int shared = 0;
    for (const QByteArray &part : parts[1])
        shared += distinct.contains(part) ? 1 : 0;
    EXPECT_GE(2 * shared, int(parts[1].size())) << "the pictures are made once for every viewer";
    EndVorsk(m_vorsk);
}

// After a quiet spell the first viewer gets a picture taken for it, not the
// one stored an interval or more before; freshpicture=False keeps that one.
TEST_F(CameraLife, AfterAQuietSpellTheFirstViewerGetsAFreshPicture)
{
    for (const bool fresh : {true, false}) {
        const quint16 port = FreePort();
        StartVorsk(m_vorsk, QStringLiteral("test"), port, true,
                   Settings(port, true, QStringLiteral("2"), fresh ? QString() : QStringLiteral("freshpicture=False")));
        Fetch(port, "GET / HTTP/1.0\r\n\r\n");
        QThread::msleep(4500);
        const qint64 asked = QDateTime::currentSecsSinceEpoch();
        const QByteArray answer = Fetch(port, "GET / HTTP/1.0\r\n\r\n");
        const qsizetype at = answer.indexOf("Last-Modified: ");
        const qint64 taken = ParseHttpDate(answer.mid(at + 15, 29)).value_or(0);
        if (fresh)
            EXPECT_GE(taken, asked) << "taken for this request";
        else
            EXPECT_LE(taken, asked - 1) << "the stored picture, as described";
        EndVorsk(m_vorsk);
    }
}

// A TCP camera whose every third frame is cut short, watched on /stream
// alone: a damaged frame is skipped, never shown as "No picture" nor slowing
// the stream; frozen (SIGSTOP), it is said so in picture and log, and back.
TEST_F(CameraLife, DamagedFramesAreSkippedAndAFrozenCameraIsToldInPictureAndLog)
{
    QImage white(320, 240, QImage::Format_RGB888);
    white.fill(Qt::white);
    const QString frame = m_root.filePath(QStringLiteral("f%1.jpg"));
    ASSERT_TRUE(white.save(frame.arg(0), "JPEG") && white.save(frame.arg(1), "JPEG"));
    QFile damaged(frame.arg(2));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(FileContents(frame.arg(0)).left(1000) + "\xFF\xD9");
    damaged.close();
    const quint16 senderPort = FreePort(), port = FreePort();
    StartSender(QStringLiteral("multifilesrc location=%1/f%d.jpg loop=true caps=image/jpeg ! identity sleep-time=100000 ! "
                               "multipartmux ! tcpserversink host=127.0.0.1 port=%2")
                    .arg(m_root.path())
                    .arg(senderPort));
    StartVorsk(m_vorsk, QStringLiteral("gst:tcpclientsrc host=127.0.0.1 port=%1 ! multipartdemux").arg(senderPort), port,
               true);
    QTcpSocket viewer;
    viewer.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(viewer.waitForConnected(2000));
    viewer.write("GET /stream HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray received;
    auto level = [](const QByteArray &part) { return MeanLevel(QImage::fromData(part, "JPEG"), 0, kPictureBottom); };
    auto dimmed = [&](const QByteArray &part) { return level(part) < 160; };
    // The stream's pictures until the last is as wanted, or the time is over.
    auto watch = [&](int ms, auto wanted) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms && !(!StreamParts(received).isEmpty() && wanted(StreamParts(received).last())))
            if (viewer.waitForReadyRead(50))
                received += viewer.readAll();
        return StreamParts(received);
    };

    const QList<QByteArray> live = watch(3000, [](const QByteArray &) { return false; });
    EXPECT_GE(live.size(), 8) << "about 6.7 good frames a second";
    EXPECT_TRUE(std::none_of(live.begin(), live.end(), dimmed)) << "a damaged frame is no outage";
    for (int i = 0; i < 10; ++i) {
        const QByteArray answer = Fetch(port, "GET / HTTP/1.0\r\n\r\n");
        EXPECT_GT(level(answer.mid(answer.indexOf("\r\n\r\n") + 4)), 200) << "snapshot " << i;
    }
    ::kill(pid_t(m_sender.processId()), SIGSTOP);
    EXPECT_TRUE(dimmed(watch(8000, dimmed).last())) << "the frozen camera's last frame, dimmed";
    ::kill(pid_t(m_sender.processId()), SIGCONT);
    EXPECT_FALSE(dimmed(watch(8000, [&](const QByteArray &part) { return !dimmed(part); }).last())) << "live again";
    EndVorsk(m_vorsk);
    const QString log = QString::fromLocal8Bit(m_vorsk.readAllStandardError());
    EXPECT_EQ(log.count(QStringLiteral("No picture from the camera")), 1) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("gives pictures again")), 1) << log.toStdString();
}
