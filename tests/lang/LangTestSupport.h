#pragma once
// Helpers of the loader's tests: a private config folder, libraries laid out in folders and
// the program run as a child.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// Points the per-user config folder (and with it the component registry) at a fresh
// temporary folder while it lives.
class TemporaryConfig
{
public:
    TemporaryConfig() { qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit()); }
    ~TemporaryConfig() { qunsetenv("XDG_CONFIG_HOME"); }
    QString Path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

// Copies file to folder/name, making the folder first.
inline QString Place(const QString &file, const QString &folder,
                     const QString &name = QStringLiteral("libvorskres.so"))
{
    EXPECT_TRUE(QDir().mkpath(folder));
    const QString target = QDir(folder).filePath(name);
    EXPECT_TRUE(QFile::copy(file, target)) << target.toStdString();
    return target;
}

inline void WriteFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(contents), contents.size());
}

struct ProgramRun
{
    int exitCode; // -1 when it crashed
    QString errors;
};

// Runs the program in folder, with its own config folder and no display.
inline ProgramRun RunProgram(const QString &folder, const QString &config)
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
