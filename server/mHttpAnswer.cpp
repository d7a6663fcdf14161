#include "mHttpAnswer.h"

#include "mHttpDate.h"

namespace {

const char *Reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Error";
    }
}

QByteArray StatusLine(int status, std::time_t now)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + Reason(status) + "\r\nDate: " + HttpDate(now) +
           "\r\nServer: Vorsk\r\n";
}

QByteArray PictureFields(std::time_t modified, const QByteArray &etag, int maxAge)
{
    return "Last-Modified: " + HttpDate(modified) + "\r\nETag: " + etag + "\r\nCache-Control: public, max-age=" +
           QByteArray::number(maxAge) + "\r\n";
}

const QByteArray kClose = QByteArrayLiteral("Connection: close\r\n\r\n");

} // namespace

QByteArray PictureHead(qsizetype length, std::time_t modified, const QByteArray &etag, int maxAge, std::time_t now)
{
    // Every viewer of one picture within one second gets the same head: it is
    // written once, and shared.
    struct Made
    {
        qsizetype length = -1;
        std::time_t modified = 0, now = 0;
        QByteArray etag;
        int maxAge = 0;
        QByteArray head;
    };
    thread_local Made last;
    if (length != last.length || modified != last.modified || now != last.now || etag != last.etag ||
        maxAge != last.maxAge) {
        last = {length, modified, now, etag, maxAge,
                StatusLine(200, now) + "Content-Type: image/jpeg\r\nContent-Length: " + QByteArray::number(length) +
                    "\r\n" + PictureFields(modified, etag, maxAge) + kClose};
    }
    return last.head;
}

QByteArray NotModifiedHead(std::time_t modified, const QByteArray &etag, int maxAge, std::time_t now)
{
    return StatusLine(304, now) + PictureFields(modified, etag, maxAge) + kClose;
}

QByteArray PageHead(qsizetype length, std::time_t now)
{
    return FreshTextHead("text/html; charset=ISO-8859-1", length, now);
}

QByteArray FreshTextHead(const QByteArray &contentType, qsizetype length, std::time_t now)
{
    return StatusLine(200, now) + "Content-Type: " + contentType + "\r\nContent-Length: " +
           QByteArray::number(length) + "\r\nCache-Control: no-cache\r\n" + kClose;
}

QByteArray StreamHead(std::time_t now)
{
    return StatusLine(200, now) + "Content-Type: multipart/x-mixed-replace; boundary=" + kStreamBoundary +
           "\r\nCache-Control: no-store\r\n" + kClose;
}

QByteArray StreamFirstBoundary()
{
    return QByteArray("--") + kStreamBoundary + "\r\n";
}

QByteArray StreamPartHead(qsizetype length)
{
    return "Content-Type: image/jpeg\r\nContent-Length: " + QByteArray::number(length) + "\r\n\r\n";
}

// The boundary follows each picture at once, so a reader that finds the end
// of a part by its boundary has the picture without waiting for the next.
QByteArray StreamPartEnd()
{
    return "\r\n" + StreamFirstBoundary();
}

QByteArray ErrorAnswer(int status, std::time_t now, int retryAfter, bool headOnly)
{
    const QByteArray body = QByteArray(Reason(status)) + '\n';
    QByteArray head = StatusLine(status, now) + "Content-Type: text/plain; charset=US-ASCII\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nCache-Control: no-store\r\n";
    if (status == 405)
        head += "Allow: GET, HEAD\r\n";
    if (status == 401)
        head += "WWW-Authenticate: Basic realm=\"Vorsk\", charset=\"UTF-8\"\r\n";
    if (retryAfter > 0)
        head += "Retry-After: " + QByteArray::number(retryAfter) + "\r\n";
    head += kClose;
    return headOnly ? head : head + body;
}
