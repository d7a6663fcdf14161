#include "ServerTestSupport.h"
#include "cWebServer.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const QString kChromium = QStringLiteral("/usr/bin/chromium");

// A picture of 173 x 127 as the camera's file.
QString WritePicture(const QTemporaryDir &folder)
{
    const QString picture = folder.filePath(QStringLiteral("lastpic.jpg"));
    QImage image(173, 127, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image.save(picture, "JPEG") ? picture : QString();
}

// Headless Chromium loads a page with the picture at sSource; the page's title
// says the width it showed, or "failed". Loading is stopped after a while,
// as a live stream has no end of its own.
QByteArray ChromiumShows(const QTemporaryDir &folder, const QString &sSource)
{
    const QString page = folder.filePath(QStringLiteral("page.html"));
    QFile html(page);
    if (!html.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    html.write("<html><body><img id=cam src='" + sSource.toUtf8() +
               "' onload=\"document.title='width '+this.naturalWidth\" "
               "onerror=\"document.title='failed'\">"
               // A live stream's picture is shown long before its load ends.
               "<script>setInterval(function () { var cam = document.getElementById('cam');"
               " if (cam.naturalWidth) document.title = 'width ' + cam.naturalWidth; }, 50);</script>"
               "</body></html>");
    html.close();

    QProcess browser;
    browser.start(kChromium, {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                              QStringLiteral("--user-data-dir=") + folder.filePath(QStringLiteral("profile")),
                              QStringLiteral("--virtual-time-budget=5000"), QStringLiteral("--timeout=8000"), QStringLiteral("--dump-dom"),
                              QStringLiteral("file://") + page});
    // The server answers from its own thread while the browser runs.
    if (!QTest::qWaitFor([&] { return browser.state() == QProcess::NotRunning; }, 60000))
        return {};
    const QByteArray dom = browser.readAllStandardOutput();
    const qsizetype start = dom.indexOf("<title>"), end = dom.indexOf("</title>");
    return start < 0 || end < start ? dom.left(400) : dom.mid(start + 7, end - start - 7);
}

QByteArray JpegOf(Qt::GlobalColor colour)
{
    QImage image(173, 127, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    return buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "JPEG") ? bytes : QByteArray();
}

} // namespace

// A real browser shows the header-less picture. Chromium takes an answer
// without a header only on port 80, which needs root or the right to bind it.
TEST(Browser, ChromiumShowsThePictureFromPortEighty)
{
    if (!QFile::exists(kChromium))
        GTEST_SKIP() << "Debian's chromium is not installed";
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::AnyIPv4, 80))
            GTEST_SKIP() << "port 80 cannot be bound here: " << probe.errorString().toStdString();
    }
    QTemporaryDir folder;
    const QString picture = WritePicture(folder);
    ASSERT_FALSE(picture.isEmpty());
    cWebServer server(PictureOnlyWindow(QStringLiteral("80"), picture, QStringLiteral("200")));
    ASSERT_TRUE(server.StartServer(QString())) << server.ListenError().toStdString();
    EXPECT_EQ(ChromiumShows(folder, QStringLiteral("http://127.0.0.1/?1")), "width 173");
}

// On any other port Chromium wants a status line: with HTTP headers chosen it
// shows the picture and the live stream, and behind a password the picture
// through the shared link's key only; without headers, it refuses the picture
// as it always did.
TEST(Browser, ChromiumShowsPictureAndStreamOnAHighPortWithHeaders)
{
    if (!QFile::exists(kChromium))
        GTEST_SKIP() << "Debian's chromium is not installed";
    QTemporaryDir folder;
    const QString picture = WritePicture(folder);
    ASSERT_FALSE(picture.isEmpty());
    const int port = FreePort();
    bool headers = true;
    QString password;
    ServerWindow window = PictureOnlyWindow(QString::number(port), picture, QStringLiteral("200"));
    window.chkHeaders = [&headers] { return headers; };
    window.txtPassword = [&password] { return password; };
    cWebServer server(std::move(window));
    ASSERT_TRUE(server.StartServer(QString())) << server.ListenError().toStdString();
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(port);
    EXPECT_EQ(ChromiumShows(folder, base + QStringLiteral("?1")), "width 173");
    // A camera taking a picture every 200 ms: Chromium shows a part of a
    // stream once the next one begins.
    QFile file(picture);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QTimer camera;
    QObject::connect(&camera, &QTimer::timeout, [&] { server.PublishPicture(std::make_shared<const QByteArray>(bytes)); });
    camera.start(200);
    EXPECT_EQ(ChromiumShows(folder, base + QStringLiteral("stream")), "width 173");
    camera.stop();
    password = QStringLiteral("open sesame");
    server.Refresh();
    EXPECT_EQ(ChromiumShows(folder, base + QStringLiteral("?key=open%20sesame")), "width 173");
    EXPECT_EQ(ChromiumShows(folder, base + QStringLiteral("?key=open")), "failed");
    password.clear();
    headers = false;
    server.Refresh();
    EXPECT_EQ(ChromiumShows(folder, base + QStringLiteral("?2")), "failed");
}

// The page to watch, behind a password, shows the camera at the page's width through
// the key it was opened with, and after a restart the new pictures (red) without a reload.
// Its frame's load is held back by the test's socket, so Chromium's picture waits for the test.
TEST(Browser, LivePageShowsTheCameraAndComesBackAfterARestart)
{
    if (!QFile::exists(kChromium))
        GTEST_SKIP() << "Debian's chromium is not installed";
    QTemporaryDir folder;
    const int port = FreePort();
    int asked = 0;
    ServerWindow window = PictureOnlyWindow(QString::number(port), folder.filePath("lastpic.jpg"), "200");
    window.chkHeaders = [] { return true; };
    window.txtPassword = [] { return QStringLiteral("open sesame"); };
    window.pictureRequested = [&asked] { ++asked; };
    cWebServer server(std::move(window));
    ASSERT_TRUE(server.StartServer(QString())) << server.ListenError().toStdString();
    QByteArray shown = JpegOf(Qt::darkCyan);
    QTimer camera;
    QObject::connect(&camera, &QTimer::timeout, [&] { server.PublishPicture(Shared(shown)); });
    camera.start(200);
    QTcpServer gate;
    QFile page(folder.filePath(QStringLiteral("frame.html")));
    ASSERT_TRUE(gate.listen(QHostAddress::LocalHost, 0) && page.open(QIODevice::WriteOnly));
    page.write(QStringLiteral("<body style='margin:0;overflow:hidden'><iframe style='border:0' width=400 height=400 "
                              "src='http://127.0.0.1:%1/live?key=open%20sesame'></iframe><img src='http://127.0.0.1:%2/'>")
                   .arg(port).arg(gate.serverPort()).toUtf8());
    page.close();
    QProcess browser;
    browser.start(kChromium, {"--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + folder.filePath("profile"),
                              "--window-size=400,400", "--timeout=60000", "--screenshot=" + folder.filePath("shot.png"),
                              "file://" + page.fileName()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked > 0; }, 60000)) << "the page asked for no picture";
    QTest::qWait(1500);
    server.StopServer();
    shown = JpegOf(Qt::red);
    QTest::qWait(1500);
    ASSERT_TRUE(server.StartServer(QString())) << server.ListenError().toStdString();
    const int before = asked;
    // What the page asks for after the restart has two seconds to be shown.
    EXPECT_TRUE(QTest::qWaitFor([&] { return asked > before; }, 15000)) << "the page did not come back";
    QTest::qWait(2000);
    gate.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return browser.state() == QProcess::NotRunning; }, 60000));
    const QImage shot(folder.filePath(QStringLiteral("shot.png")));
    for (const QPoint at : {QPoint(200, 150), QPoint(390, 280)})
        EXPECT_EQ(shot.pixelColor(at).rgb() & 0xF0F0F0, QColor(Qt::red).rgb() & 0xF0F0F0) << shot.pixelColor(at).name().toStdString();
}
