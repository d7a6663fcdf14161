#include "mCaption.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

ClockFn FixedClock(int year, int month, int day, int hour, int minute, int second)
{
    return [=] { return QDateTime(QDate(year, month, day), QTime(hour, minute, second)); };
}

const QString kDefaultTemplate = QStringLiteral("{YY}/{MM}/{DD} - {HH}:{MI}:{SS}");

} // namespace

TEST(mCaption, TokensAreReplacedExactly)
{
    EXPECT_EQ(retImageText(kDefaultTemplate, FixedClock(2027, 3, 1, 0, 0, 9)), QStringLiteral("2027/03/01 - 0:00:09"));
    EXPECT_EQ(retImageText(kDefaultTemplate, FixedClock(2026, 12, 6, 9, 5, 7)), QStringLiteral("2026/12/06 - 9:05:07"));
    EXPECT_EQ(retImageText(QStringLiteral("{yy} {Hh}"), FixedClock(2026, 1, 1, 1, 1, 1)), QStringLiteral("{yy} {Hh}"));
    EXPECT_EQ(retImageText(QStringLiteral("{HH}{HH}"), FixedClock(2026, 1, 1, 14, 30, 0)), QStringLiteral("1414"));
    EXPECT_EQ(retImageText(QString(), FixedClock(2026, 1, 1, 14, 30, 0)), QString());
    EXPECT_EQ(retImageText(QStringLiteral("Cam {{SS}}"), FixedClock(2026, 1, 1, 14, 30, 5)), QStringLiteral("Cam {05}"));
}

TEST(mCaption, TimeStampAndFieldReadingOrder)
{
    EXPECT_EQ(retTimeStamp(FixedClock(2026, 12, 31, 23, 59, 5)), QStringLiteral("2026-12-31 - 23:59:05"));
    EXPECT_EQ(retTimeStamp(FixedClock(2026, 12, 6, 9, 5, 7)), QStringLiteral("2026-12-06 - 9:05:07"));

    // Each field is read on its own, minute and second first, then year,
    // month, day and hour: across midnight the caption mixes both days.
    std::vector<QDateTime> readings = {
        QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)), // minute
        QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)), // second
        QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0)),      // year
        QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0)),      // month
        QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0)),      // day
        QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0)),      // hour
    };
    std::size_t next = 0;
    ClockFn ticking = [&] { return readings[std::min(next++, readings.size() - 1)]; };
    EXPECT_EQ(retImageText(kDefaultTemplate, ticking), QStringLiteral("2027/01/01 - 0:59:59"));
}
