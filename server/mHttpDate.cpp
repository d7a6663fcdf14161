#include "mHttpDate.h"

#include <QList>
#include <array>
#include <cstdio>

namespace {

constexpr std::array<const char *, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char *, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::optional<int> Number(QByteArrayView text, qsizetype minDigits, qsizetype maxDigits)
{
    if (text.size() < minDigits || text.size() > maxDigits)
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<int> Month(QByteArrayView text)
{
    for (int i = 0; i < int(kMonths.size()); ++i)
        if (text == QByteArrayView(kMonths[size_t(i)]))
            return i;
    return std::nullopt;
}

struct Fields
{
    std::optional<int> day, month, year, hour, minute, second;
};

// "08:49:37"
bool ReadClock(QByteArrayView text, Fields &fields)
{
    const QList<QByteArray> parts = text.toByteArray().split(':');
    if (parts.size() != 3)
        return false;
    fields.hour = Number(parts[0], 2, 2);
    fields.minute = Number(parts[1], 2, 2);
    fields.second = Number(parts[2], 2, 2);
    return true;
}

// Seconds since 1970 of a date in the Gregorian calendar, without the C
// library's time zone.
std::optional<std::time_t> Seconds(const Fields &f)
{
    if (!f.day || !f.month || !f.year || !f.hour || !f.minute || !f.second)
        return std::nullopt;
    const int year = *f.year, month = *f.month + 1, day = *f.day;
    constexpr std::array<int, 12> kLengths = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1970 || day < 1 || day > kLengths[size_t(month - 1)] || (month == 2 && day == 29 && !leap) ||
        *f.hour > 23 || *f.minute > 59 || *f.second > 60)
        return std::nullopt;
    // Days from the civil date (the proleptic Gregorian calendar).
    const int y = year - (month <= 2 ? 1 : 0);
    const long long era = y / 400;
    const long long yearOfEra = y - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long days = era * 146097 + dayOfEra - 719468;
    return std::time_t(days * 86400 + *f.hour * 3600LL + *f.minute * 60LL + *f.second);
}

} // namespace

QByteArray HttpDate(std::time_t when)
{
    // Answers of the same second share one text.
    thread_local std::time_t lastWhen = -1;
    thread_local QByteArray lastText;
    if (when == lastWhen)
        return lastText;
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[size_t(parts.tm_wday % 7)],
                  parts.tm_mday, kMonths[size_t(parts.tm_mon % 12)], parts.tm_year + 1900, parts.tm_hour,
                  parts.tm_min, parts.tm_sec);
    lastWhen = when;
    lastText = QByteArray(text);
    return lastText;
}

std::optional<std::time_t> ParseHttpDate(QByteArrayView text)
{
    const QList<QByteArray> words = text.trimmed().toByteArray().simplified().split(' ');
    Fields fields;
    if (words.size() == 6 && words[0].endsWith(',') && words[5] == "GMT") {
        // Sun, 06 Nov 1994 08:49:37 GMT
        fields.day = Number(words[1], 1, 2);
        fields.month = Month(words[2]);
        fields.year = Number(words[3], 4, 4);
        if (!ReadClock(words[4], fields))
            return std::nullopt;
    } else if (words.size() == 4 && words[0].endsWith(',') && words[3] == "GMT") {
        // Sunday, 06-Nov-94 08:49:37 GMT: a two-digit year before 70 is this century.
        const QList<QByteArray> date = words[1].split('-');
        if (date.size() != 3 || !ReadClock(words[2], fields))
            return std::nullopt;
        fields.day = Number(date[0], 1, 2);
        fields.month = Month(date[1]);
        fields.year = Number(date[2], 2, 2);
        if (fields.year)
            *fields.year += *fields.year < 70 ? 2000 : 1900;
    } else if (words.size() == 5) {
        // Sun Nov  6 08:49:37 1994
        fields.month = Month(words[1]);
        fields.day = Number(words[2], 1, 2);
        fields.year = Number(words[4], 4, 4);
        if (!ReadClock(words[3], fields))
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    return Seconds(fields);
}
