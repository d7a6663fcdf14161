#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <optional>

// Which other sites' pages may read the pictures and the JSON ([server]
// alloworigin): "*" for any; else origins, each "http://" or "https://" and a
// host with its port if any, taken in lower case without a "/" at the end.
// Anything else named is no origin and is left out.
QList<QByteArray> AllowedOrigins(const QStringList &named);

// The header fields (each ending in CRLF) of an answer a page from origin may
// read: Access-Control-Allow-Origin when the origin is allowed, and Vary where
// the answer depends on the origin. None when no origin is allowed at all.
QByteArray CrossOriginFields(const QList<QByteArray> &allowed, const std::optional<QByteArray> &origin);

// An answer's head with fields added before its blank line.
QByteArray WithFields(QByteArray head, const QByteArray &fields);
