#include "mSafeFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

TEST(mSafeFile, ReplacesWithoutStampsAndReportsErrno)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("uptime.html"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old old old");
    }
    chmod(QFile::encodeName(path).constData(), 0600);
    ASSERT_EQ(ReplaceFileContents(path, "new", 3, false), 0);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("new"));

    EXPECT_EQ(ReplaceFileContents(dir.filePath(QStringLiteral("gone/x")), "x", 1, true), ENOENT);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("uptime.html")});
}
