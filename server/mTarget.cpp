#include "mTarget.h"

#include <QList>

Asked WhatTargetAsks(const QByteArray &path, const QByteArray &query)
{
    for (const QByteArray &parameter : query.split('&')) {
        if (parameter == "action=stream")
            return Asked::Stream;
        if (parameter == "action=snapshot")
            return Asked::Picture;
    }
    if (path.toLower().startsWith("/uptime"))
        return Asked::StatusPage;
    if (path == "/stream")
        return Asked::Stream;
    if (path == "/live")
        return Asked::Live;
    if (path == "/status.json")
        return Asked::StatusJson;
    return path == "/metrics" ? Asked::Metrics : Asked::Picture;
}
