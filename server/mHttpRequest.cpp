#include "mHttpRequest.h"

#include "mHttpDate.h"

#include <QList>

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

using Status = HttpRequest::Status;

// A method is a token: letters, digits and a few marks.
bool IsTokenChar(char c)
{
    static const QByteArray kMarks = QByteArrayLiteral("!#$%&'*+-.^_`|~");
    const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    return alphanumeric || kMarks.contains(c);
}

bool IsToken(const QByteArray &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), IsTokenChar);
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

// The path with its %XX escapes decoded; nothing for a broken escape or a
// decoded NUL, which no file name or answer may hold.
std::optional<QByteArray> Decoded(const QByteArray &path)
{
    auto hex = [&](qsizetype at) { return at < path.size() && std::isxdigit(static_cast<unsigned char>(path[at])); };
    for (qsizetype at = path.indexOf('%'); at >= 0; at = path.indexOf('%', at + 1))
        if (!hex(at + 1) || !hex(at + 2) || path.mid(at + 1, 2) == "00")
            return std::nullopt;
    return path.contains('%') ? QByteArray::fromPercentEncoding(path) : path;
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
        // The authority ends at the path, the query or the fragment.
        qsizetype end = scheme + 3;
        while (end < path.size() && path[end] != '/' && path[end] != '?' && path[end] != '#')
            ++end;
        path = end < path.size() && path[end] == '/' ? path.mid(end) : "/" + path.mid(end);
    }
    const qsizetype end = path.indexOf('?') >= 0 ? path.indexOf('?') : path.indexOf('#');
    return Decoded(end < 0 ? path : path.left(end));
}

QByteArray QueryOf(const QByteArray &target)
{
    const qsizetype mark = target.indexOf('?');
    if (mark < 0)
        return {};
    const qsizetype fragment = target.indexOf('#', mark);
    return target.mid(mark + 1, fragment < 0 ? -1 : fragment - mark - 1);
}

QByteArray WithoutReturn(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// The header fields as a server must check them: each a name, a colon with
// no space before it, and a value; no line folded onto the one before; one
// Host, and a Host at all from HTTP/1.1 on. Of the values the server reads
// If-Modified-Since only; a date it cannot read is no condition at all.
bool ReadFields(const QList<QByteArray> &lines, bool hostRequired, HttpRequest &request)
{
    int hosts = 0;
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !IsToken(line.left(colon)) || line.contains('\0'))
            return false;
        const QByteArray name = line.left(colon).toLower();
        if (name == "host")
            ++hosts;
        else if (name == "if-modified-since" && !request.ifModifiedSince)
            request.ifModifiedSince = ParseHttpDate(QByteArrayView(line).sliced(colon + 1));
        else if (name == "origin")
            request.origin = line.mid(colon + 1).trimmed();
        else if (name == "if-none-match")
            request.ifNoneMatch = (request.ifNoneMatch ? *request.ifNoneMatch + ',' : QByteArray()) +
                                  line.mid(colon + 1);
    }
    return hosts == 1 || (hosts == 0 && !hostRequired);
}

// The targets of the two methods that ask for no path: "OPTIONS *" and
// "CONNECT host:port". Their requests are well formed; the server serves
// neither method.
bool OtherMethodTarget(const QByteArray &method, const QByteArray &target)
{
    return IsVisible(target) && ((method == "OPTIONS" && target == "*") ||
                                 (method == "CONNECT" && target.contains(':') && !target.contains('/')));
}

// The request line; minor is the minor version of an HTTP/1 request.
HttpRequest ReadRequestLine(const QByteArray &line, int &minor)
{
    HttpRequest request;
    const QList<QByteArray> words = line.split(' ');
    const bool wellFormed = (words.size() == 2 || words.size() == 3) && IsToken(words[0]);
    const auto path = wellFormed ? PathOf(words[1]) : std::nullopt;
    if (!path && !(wellFormed && words.size() == 3 && OtherMethodTarget(words[0], words[1]))) {
        request.status = Status::Bad;
        return request;
    }
    request.method = words[0];
    request.path = path.value_or(QByteArray());
    request.query = path ? QueryOf(words[1]) : QByteArray();
    if (words.size() == 2) {
        request.status = request.method == "GET" ? Status::Simple : Status::Bad;
        return request;
    }
    const auto major = MajorVersion(words[2]);
    request.status = !major ? Status::Bad : *major == 1 ? Status::Complete : Status::WrongVersion;
    minor = major ? words[2][7] - '0' : 0;
    return request;
}

} // namespace

HttpRequest ReadRequestHead(const QByteArray &head, bool peerDone)
{
    HttpRequest request;
    // A CR is only ever the start of a line end.
    for (qsizetype at = head.indexOf('\r'); at >= 0; at = head.indexOf('\r', at + 1))
        if (at + 1 < head.size() && head[at + 1] != '\n') {
            request.status = Status::Bad;
            return request;
        }
    // One blank line before the request line is passed over, as clients may
    // send one after an earlier request; a second is no request.
    qsizetype start = head.startsWith("\r\n") ? 2 : head.startsWith('\n') ? 1 : 0;
    if (head.mid(start).startsWith('\n') || head.mid(start).startsWith("\r\n")) {
        request.status = Status::Bad;
        return request;
    }
    const qsizetype lineEnd = head.indexOf('\n', start);
    if (lineEnd < 0) {
        // What cannot begin with a method is no request, however it goes on
        // (a TLS greeting on the plain port, say): it is told at once.
        const QByteArray first = head.mid(start, head.indexOf(' ', start) < 0 ? -1 : head.indexOf(' ', start) - start);
        const bool methodSoFar = first.isEmpty() || IsToken(first);
        request.status = head.size() > kMaxRequestHead ? Status::TargetTooLong
                         : peerDone || !methodSoFar    ? Status::Bad
                                                       : Status::Incomplete;
        return request;
    }
    if (lineEnd >= kMaxRequestHead) {
        request.status = Status::TargetTooLong;
        return request;
    }
    int minor = 0;
    request = ReadRequestLine(WithoutReturn(head.mid(start, lineEnd - start)), minor);
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
    if (request.status == Status::Complete && !ReadFields(fields, minor >= 1, request))
        request.status = Status::Bad;
    return request;
}

bool HeadToRead(const QByteArray &head, bool peerDone, HttpHeadScan &scan)
{
    if (peerDone || head.size() > kMaxRequestHead)
        return true;
    for (; scan.scanned < head.size(); ++scan.scanned) {
        const char c = head[scan.scanned];
        if (std::exchange(scan.afterReturn, c == '\r') && c != '\n')
            return true; // a bare CR
        if (c == '\r')
            continue;
        if (c != '\n') {
            ++scan.lineLength;
            scan.requestLineBegun = true;
            if (scan.inMethod && c == ' ')
                scan.inMethod = false;
            else if (scan.inMethod && !IsTokenChar(c))
                return true; // no method
            continue;
        }
        const bool blank = std::exchange(scan.lineLength, 0) == 0;
        if (!scan.requestLineBegun) {
            if (++scan.leadingBlanks > 1)
                return true;
        } else if (!std::exchange(scan.requestLineEnded, true) || blank) {
            // The request line's end (a request without a version ends
            // there), or the blank line after the header fields.
            ++scan.scanned;
            return true;
        }
    }
    return false;
}

bool IsKnownMethod(const QByteArray &method)
{
    static const QList<QByteArray> kMethods = {"GET",     "HEAD",    "POST",  "PUT",  "DELETE",
                                               "CONNECT", "OPTIONS", "TRACE", "PATCH"};
    return kMethods.contains(method);
}

bool ClientHoldsPicture(const HttpRequest &request, const QByteArray &etag, std::time_t modified,
                        bool soleInItsSecond)
{
    if (request.ifNoneMatch) {
        const QByteArray opaque = etag.startsWith("W/") ? etag.mid(2) : etag;
        for (QByteArray tag : request.ifNoneMatch->split(',')) {
            tag = tag.trimmed();
            if (tag == "*" || (tag.startsWith("W/") ? tag.mid(2) : tag) == opaque)
                return true;
        }
        return false;
    }
    return request.ifModifiedSince &&
           (modified < *request.ifModifiedSince || (modified == *request.ifModifiedSince && soleInItsSecond));
}
