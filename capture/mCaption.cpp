#include "mCaption.h"

namespace {

QString TwoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

} // namespace

// The fields are read one at a time, minute and second first, so a caption
// made across a change of minute may mix both sides of it.
QString retImageText(const QString &sTemplate, const ClockFn &now)
{
    const QString minutes = TwoDigits(now().time().minute());
    const QString seconds = TwoDigits(now().time().second());
    QString text = sTemplate;
    text.replace(QStringLiteral("{YY}"), QStringLiteral("20") + TwoDigits(now().date().year() % 100));
    text.replace(QStringLiteral("{MM}"), TwoDigits(now().date().month()));
    text.replace(QStringLiteral("{DD}"), TwoDigits(now().date().day()));
    text.replace(QStringLiteral("{HH}"), QString::number(now().time().hour()));
    text.replace(QStringLiteral("{MI}"), minutes);
    text.replace(QStringLiteral("{SS}"), seconds);
    return text;
}

QString retTimeStamp(const ClockFn &now)
{
    const QString minutes = TwoDigits(now().time().minute());
    const QString seconds = TwoDigits(now().time().second());
    const QString date = QStringLiteral("20") + now().date().toString(QStringLiteral("yy-MM-dd"));
    const QString hour = QString::number(now().time().hour());
    return date + QStringLiteral(" - ") + hour + QLatin1Char(':') + minutes + QLatin1Char(':') + seconds;
}
