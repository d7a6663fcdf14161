#include "ProgramRun.h"

#include <QImage>

using CommandLine = ProgramRun;

TEST_F(CommandLine, VersionAndHelpNeedNoDisplay)
{
    EXPECT_EQ(Run({QStringLiteral("--version")}), 0);
    EXPECT_EQ(Out(), QStringLiteral("Vorsk 3.0.30\n"));
    EXPECT_EQ(Err(), QString());

    EXPECT_EQ(Run({QStringLiteral("--help")}), 0);
    const QString help = Out();
    for (const char *option :
         {"vorsk [options]", "--help", "--version", "--headless", "--config <FILE>", "--camera <ID>"})
        EXPECT_TRUE(help.contains(QString::fromLatin1(option))) << option;
    EXPECT_FALSE(QFile::exists(UserSettings()));
}

TEST_F(CommandLine, AnOptionItDoesNotKnowIsAUsageError)
{
    EXPECT_EQ(Run({QStringLiteral("--frobnicate")}), 2);
    const QString error = Err();
    EXPECT_TRUE(error.contains(QStringLiteral("frobnicate"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("--help"))) << error.toStdString();

    EXPECT_EQ(Run({QStringLiteral("stray")}), 2);
    EXPECT_TRUE(Err().contains(QStringLiteral("stray")));
    EXPECT_EQ(Run({QStringLiteral("--config")}), 2);
}

TEST_F(CommandLine, AMissingSettingsFileEndsItAndIsNotCreated)
{
    const QString missing = m_root.filePath(QStringLiteral("cams/door.conf"));
    EXPECT_EQ(Run({QStringLiteral("--config"), missing}), 1);
    EXPECT_TRUE(Err().contains(missing));
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_FALSE(QDir(m_root.filePath(QStringLiteral("cams"))).exists());

    EXPECT_EQ(Run({QStringLiteral("--config"), Home()}), 1);
    EXPECT_TRUE(Err().contains(Home()));
}

TEST_F(CommandLine, ASettingsFileItMayNotReadEndsIt)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads a file of mode 000";
    const QString locked = m_root.filePath(QStringLiteral("locked.conf"));
    QFile file(locked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[prefs]\nport=8080\n");
    file.close();
    ASSERT_TRUE(file.setPermissions({}));
    EXPECT_EQ(Run({QStringLiteral("--config"), locked}), 1);
    EXPECT_TRUE(Err().contains(locked));
    EXPECT_EQ(file.size(), 18);
}

// The window takes its settings from the named file and writes them back
// there, leaving the user's own file alone; --camera wins over VORSK_CAMERA.
TEST_F(CommandLine, TheWindowUsesTheNamedFileAndCamera)
{
    const QString config = m_root.filePath(QStringLiteral("door.conf"));
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[prefs]\nwidth=64\nheight=48\n");
    file.close();
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_environment.insert(QStringLiteral("VORSK_CAMERA"), m_root.filePath(QStringLiteral("no-such-camera")));

    Start({QStringLiteral("--config"), config, QStringLiteral("--camera"), QStringLiteral("test")});
    ASSERT_TRUE(WaitForPicture()) << Err().toStdString();
    EXPECT_EQ(QImage(Picture()).size(), QSize(64, 48));
    m_vorsk.terminate();
    ASSERT_TRUE(m_vorsk.waitForFinished(10000));
    EXPECT_EQ(m_vorsk.exitCode(), 0);

    EXPECT_TRUE(FileContents(config).contains("maxcon=200"));
    EXPECT_FALSE(QFile::exists(UserSettings()));
}

// Without a display the window is not tried: one line naming --headless and
// status 1, nothing from Qt. Qt's own options reach the window as in any Qt
// program (here the off-screen platform, a style, a title), and are refused
// with --headless, where they mean nothing.
TEST_F(CommandLine, TheWindowNeedsADisplayAndTakesQtsOptions)
{
    EXPECT_EQ(Run({}), 1);
    const QString error = Err();
    EXPECT_EQ(error.count(QLatin1Char('\n')), 1) << error.toStdString();
    EXPECT_TRUE(error.startsWith(QStringLiteral("vorsk: no display"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("--headless"))) << error.toStdString();
    EXPECT_EQ(Out(), QString());

    Start({QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("-style=Fusion"),
           QStringLiteral("--qwindowtitle"), QStringLiteral("Door"), QStringLiteral("-reverse")});
    ASSERT_TRUE(WaitForPicture()) << Err().toStdString();
    m_vorsk.terminate();
    ASSERT_TRUE(m_vorsk.waitForFinished(10000));
    EXPECT_EQ(m_vorsk.exitCode(), 0) << Err().toStdString();
    EXPECT_TRUE(FileContents(UserSettings()).contains("[prefs]")) << "the window ended in order";

    EXPECT_EQ(Run({QStringLiteral("--headless"), QStringLiteral("-platform"), QStringLiteral("xcb")}), 2);
    EXPECT_TRUE(Err().contains(QStringLiteral("-platform"))) << "named";
}
