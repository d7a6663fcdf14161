#include "LangTestSupport.h"
#include "TestFiles.h"

#include <sys/stat.h>

TEST(StartUp, ProgramWithoutItsWordingSaysSoAndEnds)
{
    QTemporaryDir prefix;
    const QString bin = prefix.filePath(QStringLiteral("bin"));
    Place(QStringLiteral(VORSK_EXECUTABLE), bin, QStringLiteral("vorsk"));
    const QString config = prefix.filePath(QStringLiteral("config"));

    ProgramRun run = RunProgram(bin, config);
    EXPECT_GT(run.exitCode, 0);
    EXPECT_TRUE(run.errors.contains(QLatin1String("cannot start without its wording library")))
        << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains(bin + QStringLiteral("/libvorskres.so: no such file")));

    Place(QStringLiteral(REFUSING_LIBRARY), bin);
    run = RunProgram(bin, config);
    EXPECT_GT(run.exitCode, 0);
    EXPECT_TRUE(run.errors.contains(QLatin1String("the class cResource is not available")))
        << run.errors.toStdString();
}

// A wording library cut short once killed the program with SIGBUS before any message.
TEST(StartUp, ProgramWithACutOrStrangeLibrarySaysItIsMissingAndEnds)
{
    QTemporaryDir prefix;
    const QString bin = prefix.filePath(QStringLiteral("bin"));
    Place(QStringLiteral(VORSK_EXECUTABLE), bin, QStringLiteral("vorsk"));
    const QString config = prefix.filePath(QStringLiteral("config"));
    const QString library = QDir(bin).filePath(QStringLiteral("libvorskres.so"));
    const QByteArray whole = FileContents(QStringLiteral(VORSKRES_LIBRARY));
    const qsizetype size = whole.size();

    const auto expectMissing = [&](const char *what) {
        const ProgramRun run = RunProgram(bin, config);
        EXPECT_EQ(run.exitCode, 1) << what;
        EXPECT_TRUE(run.errors.contains(QLatin1String("cannot start without its wording library")))
            << what << ": " << run.errors.toStdString();
        EXPECT_TRUE(run.errors.contains(library + QStringLiteral(": "))) << what;
    };
    for (const qsizetype at : {qsizetype(0), qsizetype(65), qsizetype(1000), qsizetype(4096),
                               qsizetype(30000), qsizetype(61336), size / 2, size - 1}) {
        WriteFile(library, whole.left(at));
        expectMissing(qPrintable(QStringLiteral("cut at %1").arg(at)));
    }
    ASSERT_TRUE(QFile::remove(library));
    ASSERT_TRUE(QDir().mkdir(library));
    expectMissing("a directory");
    ASSERT_TRUE(QDir().rmdir(library));
    ASSERT_EQ(mkfifo(QFile::encodeName(library).constData(), 0600), 0);
    expectMissing("a FIFO");
}
