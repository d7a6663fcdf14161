#include "mMetrics.h"

namespace {

// A label value with the three characters the format escapes.
QByteArray LabelValue(const QString &text)
{
    QByteArray value = text.toUtf8();
    value.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return value;
}

struct Family
{
    QByteArray text;

    Family &Head(const char *name, const char *type, const char *help)
    {
        text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
        return *this;
    }
    Family &Sample(const QByteArray &nameAndLabels, double value)
    {
        text += nameAndLabels + ' ' + QByteArray::number(value, 'g', 17) + '\n';
        return *this;
    }
};

} // namespace

QByteArray MetricsText(const ServerFacts &facts)
{
    const ServerCounts &counts = facts.counts;
    Family metrics;
    metrics.Head("vorsk_build_info", "gauge", "The program's version, as its label.")
        .Sample("vorsk_build_info{version=\"" + LabelValue(facts.face.sVersion) + "\"}", 1);
    metrics.Head("vorsk_uptime_seconds", "gauge", "How long the server has been running.")
        .Sample("vorsk_uptime_seconds", double(facts.uptimeSeconds));
    metrics.Head("vorsk_pictures_total", "counter", "Pictures taken by the capture timer since the program started.")
        .Sample("vorsk_pictures_total", double(facts.face.pictures));
    if (facts.lastPicture)
        metrics.Head("vorsk_last_picture_timestamp_seconds", "gauge", "When the picture answered now was taken.")
            .Sample("vorsk_last_picture_timestamp_seconds", double(*facts.lastPicture));
    metrics.Head("vorsk_camera_up", "gauge", "1 while the camera gives pictures, 0 while it gives none.")
        .Sample("vorsk_camera_up", facts.face.cameraGoneSince ? 0 : 1);
    metrics.Head("vorsk_stream_viewers", "gauge", "Viewers of the live stream now.")
        .Sample("vorsk_stream_viewers", facts.streamViewers);
    metrics.Head("vorsk_connections_accepted_total", "counter", "Connections given a slot.")
        .Sample("vorsk_connections_accepted_total", double(counts.accepted));
    metrics.Head("vorsk_connections_refused_total", "counter", "Connections and requests refused, by reason.")
        .Sample("vorsk_connections_refused_total{reason=\"over_limit\"}", double(counts.overLimit))
        .Sample("vorsk_connections_refused_total{reason=\"banned\"}", double(counts.banned))
        .Sample("vorsk_connections_refused_total{reason=\"key\"}", double(counts.keyRefused));
    return metrics.text;
}
