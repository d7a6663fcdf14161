#include "cViewerKey.h"

#include "cWinsock.h"

#include <QCryptographicHash>
#include <QList>
#include <QUrl>

#include <algorithm>

#include <arpa/inet.h>

namespace {

// Past this many addresses on record, those whose minute is over are let go,
// looked for at most once a second.
constexpr std::size_t kRecordsKept = 256;
constexpr qint64 kForgetEvery = 1000;

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QByteArray WithoutReturn(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// The request line's target: its second word.
QByteArray TargetOf(const QByteArray &line)
{
    const QList<QByteArray> words = line.split(' ');
    return words.size() >= 2 ? words[1] : QByteArray();
}

// The first Authorization field's value among the header fields, up to the blank line.
std::optional<QByteArray> AuthorizationOf(const QList<QByteArray> &lines)
{
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = WithoutReturn(lines[i]);
        if (line.isEmpty())
            break;
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).toLower() == "authorization")
            return line.mid(colon + 1).trimmed();
    }
    return std::nullopt;
}

// The keys a request's head gives: its ?key= and its Basic password, each when there.
QList<QByteArray> KeysGiven(const QByteArray &head, bool bHttp)
{
    // One blank line before the request line is passed over, as the request reader does.
    const qsizetype start = head.startsWith("\r\n") ? 2 : head.startsWith('\n') ? 1 : 0;
    const QList<QByteArray> lines = head.mid(start).split('\n');
    QList<QByteArray> keys;
    if (const auto key = TargetKey(TargetOf(WithoutReturn(lines.value(0)))))
        keys.append(*key);
    if (const auto field = bHttp ? AuthorizationOf(lines) : std::nullopt)
        if (const auto key = BasicPassword(*field))
            keys.append(*key);
    return keys;
}

} // namespace

QByteArray PercentDecoded(const QByteArray &value)
{
    QByteArray decoded;
    decoded.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const int high = value[i] == '%' && i + 2 < value.size() ? HexValue(value[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(value[i + 2]) : -1;
        if (low < 0) {
            decoded += value[i];
            continue;
        }
        decoded += char(high * 16 + low);
        i += 2;
    }
    return decoded;
}

std::optional<QByteArray> TargetKey(const QByteArray &target)
{
    const qsizetype query = target.indexOf('?');
    if (query < 0)
        return std::nullopt;
    const qsizetype fragment = target.indexOf('#', query);
    const QByteArray text = target.mid(query + 1, fragment < 0 ? -1 : fragment - query - 1);
    for (const QByteArray &pair : text.split('&'))
        if (pair.startsWith("key="))
            return PercentDecoded(pair.mid(4));
    return std::nullopt;
}

std::optional<QByteArray> BasicPassword(const QByteArray &value)
{
    const qsizetype space = value.indexOf(' ');
    if (space < 0 || value.left(space).toLower() != "basic")
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(value.mid(space + 1).trimmed(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    const qsizetype colon = decoded ? decoded.decoded.indexOf(':') : -1;
    if (colon < 0)
        return std::nullopt;
    return decoded.decoded.mid(colon + 1);
}

// Both sides are hashed first, so the comparison runs over the same 32 bytes
// whatever the guess, its length included.
bool SameKey(const QByteArray &guess, const QByteArray &password)
{
    const QByteArray a = QCryptographicHash::hash(guess, QCryptographicHash::Sha256);
    const QByteArray b = QCryptographicHash::hash(password, QCryptographicHash::Sha256);
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

cViewerKey::cViewerKey(Clock clock) : m_clock(std::move(clock)) {}

cViewerKey::Verdict cViewerKey::Judge(const QByteArray &password, const QByteArray &head, bool bHttp,
                                      const QString &sAddress)
{
    if (password.isEmpty())
        return Verdict::Admitted;
    const QList<QByteArray> keys = KeysGiven(head, bHttp);
    if (keys.isEmpty())
        return Verdict::Missing;
    const QString recorded = RecordedAs(sAddress);
    if (!CanCount(recorded))
        return Verdict::Uncounted;
    bool admitted = false;
    for (const QByteArray &key : keys)
        admitted = SameKey(key, password) || admitted;
    if (admitted)
        return Verdict::Admitted;
    return CountWrong(recorded, int(keys.size())) ? Verdict::LockedNow : Verdict::Wrong;
}

qint64 cViewerKey::Now() const
{
    return m_clock ? m_clock() : ServerMilliseconds();
}

void cViewerKey::ForgetOld(qint64 now)
{
    if (m_records.size() <= kRecordsKept || now - m_lastForget < kForgetEvery)
        return;
    m_lastForget = now;
    std::erase_if(m_records, [now](const auto &entry) {
        return now - entry.second.firstWrong >= LockMilliseconds && now >= entry.second.lockedUntil;
    });
}

bool cViewerKey::CanCount(const QString &sRecorded)
{
    ForgetOld(Now());
    return m_records.size() < MostRecorded || m_records.contains(sRecorded);
}

bool cViewerKey::CountWrong(const QString &sAddress, int lKeys)
{
    const QString recorded = RecordedAs(sAddress);
    if (!CanCount(recorded))
        return false;
    const qint64 now = Now();
    Record &record = m_records[recorded];
    if (record.wrong == 0 || now - record.firstWrong >= LockMilliseconds)
        record = Record{now, 0, record.lockedUntil};
    record.wrong += lKeys;
    if (record.wrong < MaxWrongKeys || now < record.lockedUntil)
        return false;
    record = Record{now, 0, now + LockMilliseconds};
    return true;
}

bool cViewerKey::Locked(const QString &sAddress)
{
    const auto found = m_records.find(RecordedAs(sAddress));
    if (found == m_records.end() || found->second.lockedUntil == 0)
        return false;
    if (Now() < found->second.lockedUntil)
        return true;
    m_records.erase(found);
    return false;
}

QByteArray cViewerKey::PrivateHead(QByteArray head)
{
    head.replace("\r\nCache-Control: public, ", "\r\nCache-Control: private, ");
    head.replace("\r\nCache-Control: no-cache\r\n", "\r\nCache-Control: private, no-cache\r\n");
    return head;
}

QString cViewerKey::LinkWithKey(const QString &sLink, const QString &sPassword)
{
    if (sPassword.isEmpty())
        return sLink;
    const QString key = QString::fromLatin1(QUrl::toPercentEncoding(sPassword));
    return sLink + (sLink.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + QStringLiteral("?key=") + key;
}

QString cViewerKey::RecordedAs(const QString &sAddress)
{
    in6_addr address{};
    if (inet_pton(AF_INET6, sAddress.toLatin1().constData(), &address) != 1)
        return sAddress;
    std::fill(address.s6_addr + 8, address.s6_addr + 16, 0);
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &address, text, sizeof text);
    return QString::fromLatin1(text) + QStringLiteral("/64");
}

QString cViewerKey::RefusedText(Verdict verdict, const QString &sAddress)
{
    switch (verdict) {
    case Verdict::Missing:
        return QStringLiteral("refused: no key from ") + sAddress;
    case Verdict::Uncounted:
        return QStringLiteral("refused: too many guessing addresses to count the keys of ") + sAddress;
    default:
        return QStringLiteral("refused: wrong key from ") + sAddress;
    }
}

QString cViewerKey::LockedText(const QString &sAddress)
{
    return QStringLiteral("refused for a minute: %1 wrong keys from %2").arg(MaxWrongKeys).arg(RecordedAs(sAddress));
}
