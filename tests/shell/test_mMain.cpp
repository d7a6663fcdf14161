#include "mMain.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

TEST(PictureName, OnlyAPlainFileNameIsTakenFromTheWording)
{
    EXPECT_EQ(PictureBaseName(QStringLiteral("bild")), QStringLiteral("bild"));
    EXPECT_EQ(PictureBaseName(QStringLiteral("senaste bild")), QStringLiteral("senaste bild"));
    for (const QString &bad : {QStringLiteral("../../x"), QStringLiteral("a/b"), QStringLiteral("/etc/x"),
                               QStringLiteral("."), QStringLiteral(".."), QString(), QString(300, QLatin1Char('n')),
                               QStringLiteral("a") + QChar(0) + QStringLiteral("b")})
        EXPECT_EQ(PictureBaseName(bad), QStringLiteral("lastpic")) << bad.toStdString();
}

// The real program with a wording library whose picture name is "../../x":
// the pictures are still written in the private folder, under the built-in name.
TEST(PictureName, AHostileWordingWritesNothingOutsideThePrivateFolder)
{
    QTemporaryDir root;
    const QString bin = root.filePath(QStringLiteral("bin"));
    const QString tmp = root.filePath(QStringLiteral("tmp"));
    ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(tmp) && QDir().mkpath(root.filePath(QStringLiteral("home"))));
    ASSERT_TRUE(QFile::copy(QStringLiteral(VORSK_EXECUTABLE), bin + QStringLiteral("/vorsk")));
    ASSERT_TRUE(QFile::copy(QStringLiteral(HOSTILE_LIBRARY), bin + QStringLiteral("/libvorskres.so")));

    QProcess vorsk;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("home/.config")));
    environment.insert(QStringLiteral("TMPDIR"), tmp);
    environment.insert(QStringLiteral("VORSK_CAMERA"), QStringLiteral("test"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    vorsk.setProcessEnvironment(environment);
    vorsk.start(bin + QStringLiteral("/vorsk"), {});
    ASSERT_TRUE(vorsk.waitForStarted());
    const QString picture = QStringLiteral("%1/vorsk-%2/default/lastpic.jpg").arg(tmp).arg(getuid());
    for (int i = 0; i < 100 && !QFile::exists(picture) && vorsk.state() == QProcess::Running; ++i)
        QThread::msleep(100);
    EXPECT_TRUE(QFile::exists(picture)) << vorsk.readAllStandardError().toStdString();
    vorsk.terminate();
    EXPECT_TRUE(vorsk.waitForFinished(10000));

    for (QDirIterator it(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString file = it.next();
        EXPECT_FALSE(QFileInfo(file).fileName().startsWith(QStringLiteral("x."))) << file.toStdString();
    }
}
