// A flood of equal lines leaves one line a second and a count.
#include "cLogFold.h"

#include <QStringList>

#include <gtest/gtest.h>

TEST(LogFold, AFloodLeavesOneLineASecondWithItsCount)
{
    qint64 now = 0;
    QStringList written;
    cLogFold fold([&](const QString &line) { written << line; }, QStringLiteral("(%1 more)"), [&] { return now; });
    for (int i = 0; i < 500; ++i, now += 1)
        fold.Line(QStringLiteral("Rejected 10.0.0.1"));
    fold.Line(QStringLiteral("Accepted 10.0.0.2"));
    now = 1200;
    fold.Flush();
    fold.Line(QStringLiteral("Accepted 10.0.0.2"));
    fold.Line(QStringLiteral("Accepted 10.0.0.2"));
    fold.Flush(true);
    QStringList expected(20, QStringLiteral("Rejected 10.0.0.1"));
    expected << QStringLiteral("Accepted 10.0.0.2") << QStringLiteral("Rejected 10.0.0.1 (480 more)")
             << QStringLiteral("Accepted 10.0.0.2") << QStringLiteral("Accepted 10.0.0.2");
    EXPECT_EQ(written, expected);
}
