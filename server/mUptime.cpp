#include "mUptime.h"

#include <cstdint>

namespace {

std::int32_t seconds = 0;
std::int32_t minutes = 0;
std::int32_t hours = 0;
std::int32_t days = 0;

} // namespace

QString UptimeTick(QString daysWord, QString hoursWord, QString minutesWord, QString secsWord)
{
    if (++seconds == 60) {
        seconds = 0;
        ++minutes;
    }
    if (minutes == 60) {
        minutes = 0;
        ++hours;
    }
    if (hours == 24) {
        hours = 0;
        ++days;
    }
    return QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 ")
        .arg(QString::number(days), daysWord, QString::number(hours), hoursWord,
             QString::number(minutes), minutesWord, QString::number(seconds), secsWord);
}

void UptimeReset()
{
    seconds = 0;
    minutes = 0;
    hours = 0;
    days = 0;
}
