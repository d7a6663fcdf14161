#include "mHttpRequest.h"

#include "mHttpDate.h"

#include <QList>

namespace {

using Status = HttpRequest::Status;

// A method is a token: letters, digits and a few marks.
bool IsToken(const QByteArray &text)
{
    static const QByteArray kMarks = QByteArrayLiteral("!#$%&'*+-.^_`|~");
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alphanumeric && !kMarks.contains(c))
            return false;
    }
    return true;
}

bool IsVisible(const QByteArray &text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
            return false;
    return true;
}

// "HTTP/x.y": the major version, nothing for anything else.
std::optional<int> MajorVersion(const QByteArray &text)
{
    if (text.size() != 8 || !text.startsWith("HTTP/") || text[6] != '.')
        return std::nullopt;
    const char major = text[5], minor = text[7];
    if (major < '0' || major > '9' || minor < '0' || minor > '9')
        return std::nullopt;
    return major - '0';
}

std::optional<QByteArray> PathOf(const QByteArray &target)
{
    if (!IsVisible(target))
        return std::nullopt;
    QByteArray path = target;
    if (!path.startsWith('/')) {
        const qsizetype scheme = path.indexOf("://");
        const QByteArray name = path.left(scheme).toLower();
        if (scheme <= 0 || (name != "http" && name != "https"))
            return std::nullopt;
        const qsizetype slash = path.indexOf('/', scheme + 3);
        path = slash < 0 ? QByteArrayLiteral("/") : path.mid(slash);
    }
    const qsizetype end = path.indexOf('?') >= 0 ? path.indexOf('?') : path.indexOf('#');
    return end < 0 ? path : path.left(end);
}

QByteArray WithoutReturn(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// The header fields the server reads: If-Modified-Since only; a date it cannot
// read is no condition at all.
void ReadFields(const QList<QByteArray> &lines, HttpRequest &request)
{
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || request.ifModifiedSince)
            continue;
        if (line.left(colon).toLower() == "if-modified-since")
            request.ifModifiedSince = ParseHttpDate(QByteArrayView(line).sliced(colon + 1));
    }
}

HttpRequest ReadRequestLine(const QByteArray &line)
{
    HttpRequest request;
    const QList<QByteArray> words = line.split(' ');
    const auto path = words.size() >= 2 ? PathOf(words[1]) : std::nullopt;
    if ((words.size() != 2 && words.size() != 3) || !IsToken(words[0]) || !path) {
        request.status = Status::Bad;
        return request;
    }
    request.method = words[0];
    request.path = *path;
    if (words.size() == 2) {
        request.status = request.method == "GET" ? Status::Simple : Status::Bad;
        return request;
    }
    const auto major = MajorVersion(words[2]);
    request.status = !major ? Status::Bad : *major == 1 ? Status::Complete : Status::WrongVersion;
    return request;
}

} // namespace

HttpRequest ReadRequestHead(const QByteArray &head, bool peerDone)
{
    // Blank lines before the request line are passed over, as clients may
    // send one after an earlier request.
    qsizetype start = 0;
    while (start < head.size() && (head[start] == '\r' || head[start] == '\n'))
        ++start;
    const qsizetype lineEnd = head.indexOf('\n', start);
    HttpRequest request;
    if (lineEnd < 0) {
        // What cannot begin with a method is no request, however it goes on
        // (a TLS greeting on the plain port, say): it is told at once.
        const QByteArray first = head.mid(start, head.indexOf(' ', start) < 0 ? -1 : head.indexOf(' ', start) - start);
        const bool methodSoFar = first.isEmpty() || IsToken(first);
        request.status = head.size() > kMaxRequestHead ? Status::TooLarge
                         : peerDone || !methodSoFar    ? Status::Bad
                                                       : Status::Incomplete;
        return request;
    }
    if (lineEnd >= kMaxRequestHead) {
        request.status = Status::TooLarge;
        return request;
    }
    request = ReadRequestLine(WithoutReturn(head.mid(start, lineEnd - start)));
    if (request.status != Status::Complete)
        return request;
    // The header fields, up to the blank line.
    QList<QByteArray> fields;
    for (qsizetype from = lineEnd + 1;;) {
        const qsizetype end = head.indexOf('\n', from);
        if (end < 0 || end >= kMaxRequestHead) {
            if (head.size() > kMaxRequestHead || end >= kMaxRequestHead)
                request.status = Status::TooLarge;
            else if (!peerDone)
                request.status = Status::Incomplete;
            break;
        }
        const QByteArray line = WithoutReturn(head.mid(from, end - from));
        if (line.isEmpty())
            break;
        fields.append(line);
        from = end + 1;
    }
    if (request.status == Status::Complete)
        ReadFields(fields, request);
    return request;
}
