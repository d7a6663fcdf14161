#include "cLogFile.h"

#include "TestFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Many lines through a small bound: the newest are in the file, the older in
// name.1 to name.3, nothing beyond, and no file past the bound.
TEST(cLogFile, TurnsOverAtItsBoundKeepingThreeOlderFiles)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state/vorsk/default.log"));
    cLogFile log(path, {}, 400);
    log.setEnabled(true);
    for (int i = 0; i < 100; ++i)
        log.Write(QStringLiteral("line %1\r\n").arg(i, 3, 10, QLatin1Char('0')));
    const QStringList files = QDir(dir.filePath(QStringLiteral("state/vorsk"))).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(files, (QStringList{QStringLiteral("default.log"), QStringLiteral("default.log.1"),
                                  QStringLiteral("default.log.2"), QStringLiteral("default.log.3")}));
    for (const QString &file : files)
        EXPECT_LE(FileContents(dir.filePath(QStringLiteral("state/vorsk/") + file)).size(), 400);
    EXPECT_TRUE(FileContents(path).endsWith(" line 099\n")) << FileContents(path).toStdString();
}

// A log file that cannot be written is told once, however many lines follow;
// once it works again, a new failure is told again. A file removed is made anew.
TEST(cLogFile, AFileThatCannotBeWrittenIsToldOncePerFailure)
{
    QTemporaryDir dir;
    const QString blocker = dir.filePath(QStringLiteral("state"));
    QStringList told;
    cLogFile log(blocker + QStringLiteral("/vorsk/default.log"),
                 [&told](const QString &, const QString &sReason) { told << sReason; });
    log.setEnabled(true);
    for (const bool bBlocked : {true, false, true}) {
        QDir(blocker).removeRecursively();
        QFile::remove(blocker);
        QFile file(blocker);
        ASSERT_TRUE(!bBlocked || file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 3; ++i)
            log.Write(QStringLiteral("a line"));
    }
    EXPECT_EQ(told.size(), 2) << told.join(QLatin1Char('|')).toStdString();
}
