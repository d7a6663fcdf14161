#include "mCrossOrigin.h"

#include <algorithm>

namespace {

const QByteArray kAny = QByteArrayLiteral("*");

bool IsHostChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':' || c == '[' ||
           c == ']';
}

std::optional<QByteArray> OriginOf(const QString &text)
{
    QByteArray origin = text.trimmed().toLower().toUtf8();
    if (origin == kAny)
        return origin;
    while (origin.endsWith('/'))
        origin.chop(1);
    const qsizetype host = origin.startsWith("http://") ? 7 : origin.startsWith("https://") ? 8 : -1;
    if (host < 0 || host == origin.size() || !std::all_of(origin.begin() + host, origin.end(), IsHostChar))
        return std::nullopt;
    return origin;
}

} // namespace

QList<QByteArray> AllowedOrigins(const QStringList &named)
{
    QList<QByteArray> allowed;
    for (const QString &text : named)
        if (const auto origin = OriginOf(text); origin && !allowed.contains(*origin))
            allowed.append(*origin);
    return allowed;
}

QByteArray CrossOriginFields(const QList<QByteArray> &allowed, const std::optional<QByteArray> &origin)
{
    if (allowed.contains(kAny))
        return "Access-Control-Allow-Origin: *\r\n";
    if (allowed.isEmpty())
        return {};
    // A cache keeps one answer for each origin asking.
    const bool granted = origin && allowed.contains(origin->toLower());
    return (granted ? "Access-Control-Allow-Origin: " + origin->toLower() + "\r\n" : QByteArray()) + "Vary: Origin\r\n";
}

QByteArray WithFields(QByteArray head, const QByteArray &fields)
{
    if (!fields.isEmpty() && head.endsWith("\r\n\r\n"))
        head.insert(head.size() - 2, fields);
    return head;
}
