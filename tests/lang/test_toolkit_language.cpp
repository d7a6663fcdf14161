#include "mToolkitLanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QFile>
#include <QTranslator>

#include <gtest/gtest.h>

namespace {

QString Yes()
{
    return QCoreApplication::translate("QPlatformTheme", "&Yes");
}

} // namespace

// The toolkit's buttons speak the wording's language: Swedish Yes is "Ja".
TEST(ToolkitLanguage, QtsOwnTextsFollowTheWording)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFile::exists(folder + QStringLiteral("/qt_sv.qm")) && !QFile::exists(folder + QStringLiteral("/qtbase_sv.qm")))
        GTEST_SKIP() << "Qt's translations are not installed (qt6-translations-l10n; scripts/setup installs it)";
    ASSERT_EQ(Yes(), QStringLiteral("&Yes"));
    {
        const auto swedish = LoadToolkitTranslation(QStringLiteral("sv"));
        ASSERT_NE(swedish, nullptr);
        EXPECT_EQ(Yes(), QStringLiteral("&Ja"));
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&No"), QStringLiteral("&Nej"));
        EXPECT_NE(QCoreApplication::translate("QColorDialog", "&Basic colors"), QStringLiteral("&Basic colors"));
    }
    EXPECT_EQ(Yes(), QStringLiteral("&Yes")) << "gone with its object";

    const auto english = LoadToolkitTranslation(QStringLiteral("en"));
    EXPECT_EQ(Yes(), QStringLiteral("&Yes"));
    for (const char *hostile : {"../../tmp/x", "sv/../sv", "", "sv\n"})
        EXPECT_EQ(LoadToolkitTranslation(QString::fromLatin1(hostile)), nullptr) << hostile;
    EXPECT_EQ(Yes(), QStringLiteral("&Yes"));
}
