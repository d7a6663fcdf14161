#include "mStatusJson.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

namespace {

QJsonValue TimeOrNull(const std::optional<std::time_t> &time)
{
    return time ? QJsonValue(IsoTime(*time)) : QJsonValue(QJsonValue::Null);
}

} // namespace

QString IsoTime(std::time_t time)
{
    return QDateTime::fromSecsSinceEpoch(time, QTimeZone::utc()).toString(Qt::ISODate);
}

QByteArray StatusJson(const ServerFacts &facts)
{
    const QJsonObject camera{
        {QStringLiteral("id"), facts.face.sCameraId},
        {QStringLiteral("state"), facts.face.cameraGoneSince ? QStringLiteral("gone") : QStringLiteral("live")},
        {QStringLiteral("since"), TimeOrNull(facts.face.cameraGoneSince)},
    };
    const QJsonObject connections{
        {QStringLiteral("accepted"), qint64(facts.counts.accepted)},
        {QStringLiteral("refused_over_limit"), qint64(facts.counts.overLimit)},
        {QStringLiteral("banned"), qint64(facts.counts.banned)},
        {QStringLiteral("refused_key"), qint64(facts.counts.keyRefused)},
    };
    const QJsonObject status{
        {QStringLiteral("version"), facts.face.sVersion},
        {QStringLiteral("uptime"), facts.uptimeSeconds},
        {QStringLiteral("pictures"), facts.face.pictures},
        {QStringLiteral("last_picture"), TimeOrNull(facts.lastPicture)},
        {QStringLiteral("camera"), camera},
        {QStringLiteral("stream_viewers"), facts.streamViewers},
        {QStringLiteral("connections"), connections},
    };
    return QJsonDocument(status).toJson(QJsonDocument::Compact) + '\n';
}
