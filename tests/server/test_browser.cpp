#include "cWebServer.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

// A real browser shows the header-less picture. Chromium takes an answer
// without a header only on port 80, which needs root or the right to bind it.
TEST(Browser, ChromiumShowsThePictureFromPortEighty)
{
    const QString chromium = QStringLiteral("/usr/bin/chromium");
    if (!QFile::exists(chromium))
        GTEST_SKIP() << "Debian's chromium is not installed";
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::AnyIPv4, 80))
            GTEST_SKIP() << "port 80 cannot be bound here: " << probe.errorString().toStdString();
    }
    QTemporaryDir folder;
    const QString picture = folder.filePath(QStringLiteral("lastpic.jpg"));
    QImage image(173, 127, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    ASSERT_TRUE(image.save(picture, "JPEG"));

    cWebServer server(PictureOnlyWindow(QStringLiteral("80"), picture, QStringLiteral("200")));
    ASSERT_TRUE(server.StartServer(QString())) << server.ListenError().toStdString();

    const QString page = folder.filePath(QStringLiteral("page.html"));
    QFile html(page);
    ASSERT_TRUE(html.open(QIODevice::WriteOnly));
    html.write("<html><body><img id=cam src='http://127.0.0.1/?1' "
               "onload=\"document.title='width '+this.naturalWidth\" "
               "onerror=\"document.title='failed'\"></body></html>");
    html.close();

    QProcess browser;
    browser.start(chromium, {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                             QStringLiteral("--user-data-dir=") + folder.filePath(QStringLiteral("profile")),
                             QStringLiteral("--virtual-time-budget=5000"), QStringLiteral("--dump-dom"),
                             QStringLiteral("file://") + page});
    // The server answers from this thread's event loop while the browser runs.
    ASSERT_TRUE(QTest::qWaitFor([&] { return browser.state() == QProcess::NotRunning; }, 60000));
    const QByteArray dom = browser.readAllStandardOutput();
    EXPECT_TRUE(dom.contains("<title>width 173</title>")) << dom.left(400).toStdString();
}
