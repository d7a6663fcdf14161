#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

// The clock the caption reads; every field is read from it separately.
using ClockFn = std::function<QDateTime()>;

// The caption of a first start, without stored settings.
inline const QString kDefaultCaption = QStringLiteral("{YY}/{MM}/{DD} - {HH}:{MI}:{SS}");

// The caption template with its time tokens {YY} {MM} {DD} {HH} {MI} {SS}
// replaced, e.g. "{YY}/{MM}/{DD} - {HH}:{MI}:{SS}" -> "2026/12/06 - 9:05:07".
QString retImageText(const QString &sTemplate, const ClockFn &now = QDateTime::currentDateTime);

// The time stamp of the last picture, e.g. "2026-12-06 - 9:05:07".
QString retTimeStamp(const ClockFn &now = QDateTime::currentDateTime);
