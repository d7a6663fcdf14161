#pragma once

#include <QByteArray>
#include <ctime>

// The status lines and header fields of the server's HTTP/1.1 answers. Every
// answer ends with the close, and says so.

// The boundary between the pictures of a live stream.
inline constexpr char kStreamBoundary[] = "vorskpart";

// 200 for the picture: its length, its time, its entity tag, and how many
// seconds a proxy or browser may keep it (the capture interval).
QByteArray PictureHead(qsizetype length, std::time_t modified, const QByteArray &etag, int maxAge, std::time_t now);
// 304 for a picture the client holds already.
QByteArray NotModifiedHead(std::time_t modified, const QByteArray &etag, int maxAge, std::time_t now);
// 200 for the status page, whose bytes are ISO-8859-1 text.
QByteArray PageHead(qsizetype length, std::time_t now);
// 200 for a text of this type that is told afresh each time (the page to
// watch, the status as JSON, the metrics).
QByteArray FreshTextHead(const QByteArray &contentType, qsizetype length, std::time_t now);
// 200 for a live stream, then the boundary before its first part.
QByteArray StreamHead(std::time_t now);
QByteArray StreamFirstBoundary();
// The head of one part of a live stream, a picture of this length; the
// picture is followed by StreamPartEnd(), the boundary before the next part.
QByteArray StreamPartHead(qsizetype length);
QByteArray StreamPartEnd();

// A refusal with a short text body: 400, 401 (asking for the password), 404,
// 405 (naming the methods answered), 414, 431, 501, 503 (no picture yet, ask
// again after retryAfter seconds), 505. headOnly: the head without the body, for a HEAD request.
QByteArray ErrorAnswer(int status, std::time_t now, int retryAfter = 0, bool headOnly = false);
