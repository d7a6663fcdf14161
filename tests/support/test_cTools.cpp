#include "QtPrinters.h"
#include "TmpDirOverride.h"
#include "cTools.h"
#include "vorskres.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t ModeOf(const QString &path)
{
    struct stat st{};
    lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

QString OwnFolderName()
{
    return QStringLiteral("vorsk-%1").arg(getuid());
}

} // namespace

TEST(cTools, TempFolderIsPrivateToTheUser)
{
    QTemporaryDir base;
    TmpDirOverride env(base.path() + QLatin1Char('/')); // a trailing slash collapses
    const QString own = base.path() + QLatin1Char('/') + OwnFolderName();
    const QString expected = own + QStringLiteral("/default/");
    EXPECT_EQ(Tools().RetSysDir(LDV_TempFolder), expected);
    EXPECT_EQ(ModeOf(own), 0700u);
    EXPECT_EQ(ModeOf(expected), 0700u);
    EXPECT_EQ(Tools().RetSysDir(LDV_TempFolder), expected);

    // Removed by a cleaner of temporary files: made again.
    ASSERT_TRUE(QDir(own).removeRecursively());
    EXPECT_EQ(Tools().RetSysDir(LDV_TempFolder), expected);
    EXPECT_EQ(ModeOf(own), 0700u);
    EXPECT_EQ(ModeOf(expected), 0700u);

    EXPECT_EQ(Tools().RetSysDir(LDV_SystemFolder), QString());
    EXPECT_EQ(Tools().RetSysDir(LDV_WindowsFolder), QString());
    EXPECT_EQ(Tools().RetSysDir(3), QString());
}

// Whatever another user may have had a hand in is left alone: the pictures go
// to a fresh folder of this user's beside it, the same one for the whole run.
TEST(cTools, TempFolderOthersCouldTouchIsNeverUsed)
{
    QTemporaryDir base, elsewhere;
    TmpDirOverride env(base.path());
    const QString wellKnown = base.path() + QLatin1Char('/') + OwnFolderName();
    auto expectFresh = [&](const char *what) {
        const QString folder = Tools().RetSysDir(LDV_TempFolder);
        EXPECT_TRUE(folder.startsWith(wellKnown + QLatin1Char('.'))) << what << ": " << folder.toStdString();
        EXPECT_EQ(ModeOf(folder), 0700u) << what;
        EXPECT_TRUE(QDir(folder).isEmpty()) << what;
        EXPECT_EQ(Tools().RetSysDir(LDV_TempFolder), folder) << what << ": kept for the run";
        ASSERT_TRUE(QDir(folder).removeRecursively());
    };

    ASSERT_TRUE(QFile::link(elsewhere.path(), wellKnown));
    expectFresh("a link");
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty()) << "nothing written through the link";
    QFile::remove(wellKnown);

    QFile plain(wellKnown);
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    expectFresh("a file");
    QFile::remove(wellKnown);

    // Left open to others: what they put there is never trusted, and the folder is left as it is.
    ASSERT_TRUE(QDir().mkdir(wellKnown));
    ASSERT_EQ(chmod(QFile::encodeName(wellKnown).constData(), 0777), 0);
    QFile planted(wellKnown + QStringLiteral("/lastpic.bmp"));
    ASSERT_TRUE(planted.open(QIODevice::WriteOnly));
    planted.close();
    expectFresh("a loose folder");
    EXPECT_EQ(ModeOf(wellKnown), 0777u);
    ASSERT_TRUE(QDir(wellKnown).removeRecursively());

    if (geteuid() != 0)
        GTEST_SKIP() << "files owned by another user need root to set up";
    ASSERT_TRUE(QDir().mkdir(wellKnown));
    ASSERT_EQ(chmod(QFile::encodeName(wellKnown).constData(), 0700), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/etc/passwd"), wellKnown + QStringLiteral("/lastpic.jpg")));
    ASSERT_EQ(lchown(QFile::encodeName(wellKnown + QStringLiteral("/lastpic.jpg")).constData(), 65534, 65534), 0);
    expectFresh("a closed folder holding another owner's entry");
    ASSERT_TRUE(QDir(wellKnown).removeRecursively());

    ASSERT_TRUE(QDir().mkdir(wellKnown));
    ASSERT_EQ(chown(QFile::encodeName(wellKnown).constData(), 65534, 65534), 0);
    expectFresh("another owner's folder");
}

TEST(cTools, TextHelpers)
{
    const cTools &tools = Tools();
    EXPECT_EQ(tools.pTrimString(QStringLiteral("\t 81.2.3.4\r\n")), QStringLiteral("81.2.3.4"));
    EXPECT_EQ(tools.pTrimString(QStringLiteral("   ")), QString());
    EXPECT_EQ(tools.pTrimString(QStringLiteral(" a b ")), QStringLiteral("a b"));
    EXPECT_EQ(tools.pTrimString(QStringLiteral("\x01å\x7f")), QStringLiteral("å\x7f"));

    EXPECT_EQ(tools.CntWord(QStringLiteral("Start|Starts the server"), QStringLiteral("|")), 1);
    EXPECT_EQ(tools.CntWord(QStringLiteral("Start"), QStringLiteral("|")), 0);
    EXPECT_EQ(tools.CntWord(QStringLiteral("aaa"), QStringLiteral("aa")), 1);
    EXPECT_EQ(tools.CntWord(QStringLiteral("aaaa"), QStringLiteral("aa")), 2);
    EXPECT_EQ(tools.CntWord(QStringLiteral("Aa"), QStringLiteral("a")), 1);
    EXPECT_EQ(tools.CntWord(QStringLiteral("abc"), QString()), 0);
}

TEST(cTools, VersionNames)
{
    auto name = [](std::uint32_t platform, std::uint32_t major, std::uint32_t minor, const char *pack) {
        return WinVerName(OSVersionRecord{major, minor, 1234, platform, QString::fromLatin1(pack)});
    };
    EXPECT_EQ(name(1, 4, 10, " A "), QStringLiteral("Windows 98 SE"));
    EXPECT_EQ(name(1, 4, 10, " B"), QStringLiteral("Windows 98"));
    EXPECT_EQ(name(1, 4, 0, " B"), QStringLiteral("Windows 95"));
    EXPECT_EQ(name(1, 4, 0, " C"), QStringLiteral("Windows95 OSR2"));
    EXPECT_EQ(name(1, 4, 90, ""), QStringLiteral("Windows Me"));
    EXPECT_EQ(name(0, 9, 9, ""), QStringLiteral("Windows 3.1 with Win 32s"));
    EXPECT_EQ(name(2, 3, 7, ""), QStringLiteral("Windows NT 3.51"));
    EXPECT_EQ(name(2, 4, 0, ""), QStringLiteral("WindowsNT 4.0"));
    EXPECT_EQ(name(2, 5, 0, ""), QStringLiteral("Windows 2000"));
    EXPECT_EQ(name(2, 5, 1, ""), QStringLiteral("Windows XP"));
    EXPECT_EQ(name(2, 5, 2, ""), QString());
    EXPECT_EQ(name(2, 6, 1, ""), QString());
}

TEST(cTools, LoadFileReadsCreatesAndRefuses)
{
    QTemporaryDir dir;
    const QString existing = dir.filePath(QStringLiteral("page.html"));
    {
        QFile file(existing);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<p>up</p>\r\n");
    }
    EXPECT_EQ(Tools().LoadFile(existing), QStringLiteral("<p>up</p>\r\n"));

    const QString missing = dir.filePath(QStringLiteral("new.txt"));
    EXPECT_EQ(Tools().LoadFile(missing), QString());
    EXPECT_TRUE(QFile::exists(missing));

    EXPECT_EQ(Tools().LoadFile(dir.filePath(QStringLiteral("no/such.txt"))), QStringLiteral("Cant find file!"));

    const QString huge = dir.filePath(QStringLiteral("huge.bin"));
    {
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64(65) * 1024 * 1024)); // sparse
    }
    EXPECT_EQ(Tools().LoadFile(huge), QString());
}

namespace {

CaptionFont DejaVu(const char *size)
{
    CaptionFont font;
    font.szFont = QStringLiteral("DejaVu Sans");
    font.FontSize = QString::fromLatin1(size);
    return font;
}

bool HasColour(const QImage &image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour)
                return true;
    return false;
}

} // namespace

TEST(cTools, CaptionBoxAndTextLandWhereTheTwipsSay)
{
    QImage surface(320, 240, QImage::Format_RGB888);
    surface.fill(Qt::white);
    double newX = -1, newY = -1;
    // Background blue (0x00BBGGRR), text red, at (300, 1650) twips = (20, 110) pixels.
    ASSERT_TRUE(Tools().pDrawTextOnImage(QStringLiteral(" 2026/12/06 - 9:05:07 "), 300, 1650, 0x0000FF,
                                         0xFF0000, false, DejaVu("8.25"), surface, newX, newY));
    EXPECT_EQ(newX, 0);
    const double heightTwips = newY - 1650;
    EXPECT_GT(heightTwips, 150); // an 8.25 pt line is about 13 pixels high
    EXPECT_LT(heightTwips, 300);
    const int bottom = int((1650 + heightTwips) / 15);

    const QRgb blue = qRgb(0, 0, 255);
    EXPECT_EQ(surface.pixel(19, 111), qRgb(255, 255, 255)); // left of the box
    EXPECT_EQ(surface.pixel(21, 111), blue);                // inside, over the leading space
    EXPECT_EQ(surface.pixel(21, 109), qRgb(255, 255, 255)); // above the box
    EXPECT_EQ(surface.pixel(21, bottom - 1), blue);
    EXPECT_EQ(surface.pixel(21, bottom + 1), qRgb(255, 255, 255));
    bool redText = false;
    for (int x = 20; x < 200 && !redText; ++x)
        for (int y = 110; y < bottom && !redText; ++y)
            redText = qRed(surface.pixel(x, y)) > 200 && qBlue(surface.pixel(x, y)) < 60;
    EXPECT_TRUE(redText);
    EXPECT_EQ(surface.size(), QSize(320, 240));

    QImage clear(320, 240, QImage::Format_RGB888);
    clear.fill(Qt::white);
    ASSERT_TRUE(Tools().pDrawTextOnImage(QStringLiteral(" 12:00 "), 300, 1650, 0x0000FF, 0xFF0000, true,
                                         DejaVu("10"), clear, newX, newY));
    EXPECT_FALSE(HasColour(clear, blue));
}

TEST(cTools, CaptionWithAFontSizeThatIsNoNumberDrawsNothing)
{
    QImage surface(64, 32, QImage::Format_RGB888);
    surface.fill(Qt::white);
    const QImage before = surface.copy();
    double newX = 7, newY = 7;
    EXPECT_FALSE(Tools().pDrawTextOnImage(QStringLiteral("x"), 0, 0, 0, 0xFF0000, false, DejaVu("big"), surface,
                                          newX, newY));
    EXPECT_EQ(surface, before);
    EXPECT_EQ(newY, 7);
}
