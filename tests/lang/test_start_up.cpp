#include "LangTestSupport.h"

#include <QProcess>

namespace {

struct ProgramRun
{
    int exitCode;
    QString errors;
};

// Runs a copy of the program from folder, with its own config folder and no display.
ProgramRun RunProgram(const QString &folder, const QString &config)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    program.setProcessEnvironment(environment);
    program.start(QDir(folder).filePath(QStringLiteral("vorsk")), {});
    if (!program.waitForFinished(60000)) {
        program.kill();
        program.waitForFinished();
        ADD_FAILURE() << "the program did not end";
    }
    const bool crashed = program.exitStatus() != QProcess::NormalExit;
    return {crashed ? -1 : program.exitCode(),
            QString::fromLocal8Bit(program.readAllStandardError())};
}

} // namespace

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
