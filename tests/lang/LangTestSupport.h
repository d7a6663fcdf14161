#pragma once
// Helpers of the loader's tests: a private config folder and libraries laid out in folders.

#include <QDir>
#include <QFile>
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
