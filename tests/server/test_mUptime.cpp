#include "mUptime.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

QString TickTimes(int lTicks)
{
    QString text;
    for (int i = 0; i < lTicks; ++i)
        text = UptimeTick(QStringLiteral("Days"), QStringLiteral("Hours"), QStringLiteral("Minutes"),
                          QStringLiteral("Secs"));
    return text;
}

} // namespace

TEST(mUptime, CountsTicksAndCarries)
{
    UptimeReset();
    EXPECT_EQ(TickTimes(1), QStringLiteral("0 Days 0 Hours 0 Minutes 1 Secs "));
    EXPECT_EQ(TickTimes(58), QStringLiteral("0 Days 0 Hours 0 Minutes 59 Secs "));
    EXPECT_EQ(TickTimes(1), QStringLiteral("0 Days 0 Hours 1 Minutes 0 Secs "));
    EXPECT_EQ(TickTimes(3600 - 60), QStringLiteral("0 Days 1 Hours 0 Minutes 0 Secs "));
    EXPECT_EQ(TickTimes(86400 - 3600), QStringLiteral("1 Days 0 Hours 0 Minutes 0 Secs "));
    EXPECT_EQ(TickTimes(86400 + 3661), QStringLiteral("2 Days 1 Hours 1 Minutes 1 Secs "));
    // The words are used as given.
    EXPECT_EQ(UptimeTick(QStringLiteral("d"), QString(), QStringLiteral("m"), QStringLiteral("s")),
              QStringLiteral("2 d 1  1 m 2 s "));

    UptimeReset();
    EXPECT_EQ(TickTimes(1), QStringLiteral("0 Days 0 Hours 0 Minutes 1 Secs "));
}
