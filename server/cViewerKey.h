#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <map>
#include <optional>

// Who may watch: with a password set, a request is let in when it carries
// it, as ?key= in its target (percent-encoded or not) or, as HTTP, as the
// password of Basic credentials with any user name. An address that gives a
// wrong key too often in a minute is locked out for the next minute; IPv6
// peers are counted by their /64, the least a household or a server is given.
// Used on the server's I/O thread only.
class cViewerKey
{
public:
    // Wrong keys an address may give within LockMilliseconds before it is locked out that long.
    static constexpr int MaxWrongKeys = 10;
    static constexpr qint64 LockMilliseconds = 60000;
    // The most addresses the record of wrong keys holds. When it is full, keys
    // from an address not on it are refused uncompared, so a crowd of
    // addresses never guesses uncounted.
    static constexpr std::size_t MostRecorded = 65536;

    enum class Verdict {
        Admitted,
        Missing,   // no key given
        Wrong,     // counted against the address
        LockedNow, // wrong, and the address is locked out from now on
        Uncounted, // the record is full and the address not on it
    };

    // Milliseconds on a clock that only goes forward.
    using Clock = std::function<qint64()>;
    explicit cViewerKey(Clock clock = {});
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // A request from an address, its head being its request line and, as
    // HTTP, its header fields, against the password (UTF-8): every request is
    // admitted while the password is empty, else one whose key (?key=, or the
    // Basic password) is it. Each key given counts as one guess.
    Verdict Judge(const QByteArray &password, const QByteArray &head, bool bHttp, const QString &sAddress);

    // Wrong keys from an address; true when they lock the address out.
    bool CountWrong(const QString &sAddress, int lKeys = 1);
    // Whether an address is locked out now; a lock that has ended is forgotten.
    bool Locked(const QString &sAddress);
    // What the record counts an address as: an IPv6 address as its /64, any other as it is.
    static QString RecordedAs(const QString &sAddress);

    // An answer head whose Cache-Control lets no shared cache keep it.
    static QByteArray PrivateHead(QByteArray head);

    // A link to the server that carries the password, when there is one.
    static QString LinkWithKey(const QString &sLink, const QString &sPassword);

    // The log's lines: a refused request, and the lock of an address.
    static QString RefusedText(Verdict verdict, const QString &sAddress);
    static QString LockedText(const QString &sAddress);

private:
    struct Record
    {
        qint64 firstWrong = 0;
        int wrong = 0;
        qint64 lockedUntil = 0;
    };
    qint64 Now() const;
    void ForgetOld(qint64 now);
    bool CanCount(const QString &sRecorded);

    Clock m_clock;
    std::map<QString, Record> m_records;
    qint64 m_lastForget = 0;
};

// The %XX escapes of a query value decoded; an escape that is none stays as it is.
QByteArray PercentDecoded(const QByteArray &value);

// The value of ?key= in a request target, percent-decoded; none when absent.
std::optional<QByteArray> TargetKey(const QByteArray &target);

// The password of an Authorization field's value "Basic <base64 of user:password>"; none when it is no such value.
std::optional<QByteArray> BasicPassword(const QByteArray &value);

// Whether a guess is the password, taking the same time whatever the guess holds.
bool SameKey(const QByteArray &guess, const QByteArray &password);
