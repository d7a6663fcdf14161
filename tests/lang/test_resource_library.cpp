#include "LangTestSupport.h"
#include "cError.h"
#include "cResourceLibrary.h"
#include "mComponentRegistry.h"

#include <QFileInfo>

namespace {

const QString English = QStringLiteral(VORSKRES_EN_LIBRARY);
const QString Swedish = QStringLiteral(VORSKRES_SV_LIBRARY);

// The reason Open gives when no candidate serves the class.
QString FailureOf(const QStringList &candidates)
{
    try {
        cResourceLibrary::Open(candidates);
    } catch (const cError &error) {
        EXPECT_EQ(error.Number(), 429);
        EXPECT_TRUE(error.Source().endsWith(QLatin1String(".mLanguage")));
        return error.Description();
    }
    ADD_FAILURE() << "opened " << candidates.join(u' ').toStdString();
    return {};
}

} // namespace

TEST(ResourceLibrary, RealLibraryAnswersWithEitherLanguage)
{
    const auto library = cResourceLibrary::Open({English});
    EXPECT_EQ(library->Path(), English);
    EXPECT_EQ(library->LangID(), 0);
    for (qint32 language : {0, 1053}) {
        library->SetLangID(language);
        EXPECT_EQ(library->LangID(), language);
        for (qint32 id : {96, 97, 98, 99, 100, 0, 113, 168, -1, -104, INT32_MIN, INT32_MAX})
            EXPECT_EQ(library->Loadresstring(id), QString()) << id;
        EXPECT_EQ(library->Loadresstring(104), QStringLiteral("&Help"));
        EXPECT_EQ(library->Loadresstring(143).size(), 62);
        EXPECT_EQ(library->Loadresstring(153), QStringLiteral("Show Vorsk Server Window"));
        EXPECT_EQ(library->Loadresstring(152), QStringLiteral("Are you sure you want to quit\\n"
                                                              "this program while the server "
                                                              "is running?"));
    }
    // The library carries 1053 only and does not fall back for another language.
    library->SetLangID(1033);
    EXPECT_EQ(library->Loadresstring(104), QString());
    // An ID whose block number lies past 16 bits never aliases a block of the table.
    library->SetLangID(0);
    EXPECT_EQ(library->Loadresstring(65536 * 16 + 104), QString());
}

TEST(ResourceLibrary, LogoArrivesUprightInItsColours)
{
    const auto library = cResourceLibrary::Open({English});
    const QImage logo = library->LoadResPicture2(101, 0);
    ASSERT_EQ(logo.size(), QSize(309, 75));
    // Qt's own BMP reader is the judge of row order and channel order.
    const QImage expected(QStringLiteral(VORSK_LOGO_BMP));
    ASSERT_EQ(expected.size(), QSize(309, 75));
    EXPECT_EQ(logo.convertToFormat(QImage::Format_RGB32),
              expected.convertToFormat(QImage::Format_RGB32));

    EXPECT_TRUE(library->LoadResPicture2(101, 1).isNull());
    EXPECT_TRUE(library->LoadResPicture2(102, 0).isNull());
}

TEST(ResourceLibrary, LongTextsCrossTheBoundaryWhole)
{
    const auto library = cResourceLibrary::Open({QStringLiteral(VORSKRES_LONG_LIBRARY)});
    const QString first = library->Loadresstring(1);
    EXPECT_EQ(first.size(), 305);
    EXPECT_TRUE(first.startsWith(QLatin1String("Long 000 001 ")));
    EXPECT_TRUE(first.endsWith(QLatin1String("073 074 ")));
    EXPECT_EQ(library->Loadresstring(2), QString(4000, QChar(0xC4)));
}

TEST(ResourceLibrary, SwappedLibraryChangesTheWording)
{
    const TemporaryConfig config;
    QTemporaryDir english;
    QTemporaryDir swedish;
    Place(English, english.path());
    Place(Swedish, swedish.path());

    const auto original = cResourceLibrary::Open(ResourceLibraryCandidates(english.path()));
    const auto translated = cResourceLibrary::Open(ResourceLibraryCandidates(swedish.path()));
    EXPECT_EQ(original->Loadresstring(105), QStringLiteral("&Start server"));
    EXPECT_EQ(translated->Loadresstring(105), QStringLiteral("&Starta servern"));
    EXPECT_EQ(translated->Loadresstring(144),
              QStringLiteral("Kunde inte starta kameran.\\nKontrollera att den är ansluten och "
                             "försök igen."));
    EXPECT_EQ(translated->Loadresstring(99), QString());
    EXPECT_EQ(translated->LoadResPicture2(101, 0).size(), QSize(309, 75));
}

TEST(ResourceLibrary, LibrariesThatCannotServeAreReportedNotFatal)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("nowhere/libvorskres.so"));
    const QString garbage = dir.filePath(QStringLiteral("libvorskres.so"));
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, '\x7f'));
    file.close();
    const QString refusing = QStringLiteral(REFUSING_LIBRARY);
    const QString empty = QStringLiteral(EMPTY_LIBRARY);

    const QString reason = FailureOf({missing, garbage, refusing, empty, dir.path()});
    EXPECT_TRUE(reason.contains(missing + QStringLiteral(": no such file")));
    EXPECT_TRUE(reason.contains(garbage + QStringLiteral(": ")));
    EXPECT_TRUE(reason.contains(refusing + QStringLiteral(": the class cResource is not available "
                                                          "(error 0x80040111)")));
    EXPECT_TRUE(reason.contains(empty + QStringLiteral(": not a component library")));
    EXPECT_FALSE(FailureOf({}).isEmpty());

    // The first library that serves the class is taken.
    const auto library = cResourceLibrary::Open({missing, garbage, refusing, English});
    EXPECT_EQ(library->Path(), English);
    EXPECT_EQ(library->Loadresstring(104), QStringLiteral("&Help"));
}

TEST(ResourceLibrary, FoundInRegistryBuildTreeAndInstalledLayout)
{
    const TemporaryConfig config;
    QTemporaryDir prefix;
    const QString bin = prefix.filePath(QStringLiteral(INSTALL_BINDIR));
    const QString installed =
        Place(English, prefix.filePath(QStringLiteral(INSTALL_LIBDIR "/vorsk")));
    ASSERT_TRUE(QDir().mkpath(bin));

    QStringList candidates = ResourceLibraryCandidates(bin);
    ASSERT_EQ(candidates.size(), 2);
    EXPECT_EQ(candidates[0], QDir(bin).filePath(QStringLiteral("libvorskres.so")));
    EXPECT_EQ(candidates[1], installed);
    EXPECT_EQ(cResourceLibrary::Open(candidates)->Path(), installed);

    // The build tree: the library lies beside the program.
    const QString programDir = QFileInfo(QStringLiteral(VORSK_EXECUTABLE)).path();
    EXPECT_EQ(cResourceLibrary::Open(ResourceLibraryCandidates(programDir))->Path(),
              QStringLiteral(VORSKRES_LIBRARY));

    // A registered library comes first; a registration that went stale is passed over.
    const QString registered = Place(Swedish, config.Path() + QStringLiteral("/sv"));
    ASSERT_TRUE(
        RegisterComponent(ComponentRegistryFile(), CLSID_cResource, registered.toStdString()));
    candidates = ResourceLibraryCandidates(bin);
    ASSERT_EQ(candidates.size(), 3);
    EXPECT_EQ(candidates[0], registered);
    EXPECT_EQ(cResourceLibrary::Open(candidates)->Loadresstring(104), QStringLiteral("&Hjälp"));
    ASSERT_TRUE(QFile::remove(registered));
    EXPECT_EQ(cResourceLibrary::Open(ResourceLibraryCandidates(bin))->Path(), installed);
}

// Libraries are loaded by their descriptor's name; a name still known to the dynamic loader
// must never come back for another file.
TEST(ResourceLibrary, ALibraryLoadedTwiceNeverStandsInForAnother)
{
    const auto first = cResourceLibrary::Open({English});
    cResourceLibrary::Open({English}).reset();
    const auto translated = cResourceLibrary::Open({Swedish});
    EXPECT_EQ(translated->Loadresstring(105), QStringLiteral("&Starta servern"));
    EXPECT_EQ(first->Loadresstring(105), QStringLiteral("&Start server"));
}
