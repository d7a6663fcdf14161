#include "mWanAddress.h"

#include "cTools.h"
#include "mNumbers.h"

#include <arpa/inet.h>

namespace {

// The host part of a link for the service's answer: the answer, trimmed, when
// it is an IPv4 address in dotted form or an IPv6 address (in brackets, as a
// URL has it); nothing for any other answer, as for none at all. The service
// is asked over plain HTTP, so its answer may come from anyone on the way.
QString AddressForLink(const QString &sAnswer)
{
    const QByteArray text = Tools().pTrimString(sAnswer).toLatin1();
    if (text.size() > INET6_ADDRSTRLEN)
        return {};
    unsigned char address[sizeof(in6_addr)];
    if (inet_pton(AF_INET, text.constData(), address) == 1)
        return QString::fromLatin1(text);
    if (inet_pton(AF_INET6, text.constData(), address) == 1)
        return QLatin1Char('[') + QString::fromLatin1(text) + QLatin1Char(']');
    return {};
}

} // namespace

WanLink RenewWANAddress(const QString &sIPServer, const QString &sPort, const QString &sPreviousTag,
                        const std::function<QString(const QString &)> &fetch)
{
    WanLink link;
    link.sTag = sPreviousTag;
    if (sIPServer.size() > 7)
        link.sTag = QStringLiteral("http://") + AddressForLink(fetch(sIPServer));

    // The port is compared as a number (so "080" is 80); a text that is no
    // number counts as another port.
    bool ok = false;
    const double port = NumericValue(sPort, &ok);
    link.sCaption = (ok && port == 80) ? link.sTag : link.sTag + QLatin1Char(':') + sPort;
    return link;
}

QString PreviewUrl(const QString &sPort, const QString &sListen)
{
    QString host = sListen.isEmpty() ? QStringLiteral("127.0.0.1") : sListen;
    if (host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('[')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    // Here the port is compared as text: "080" keeps its port.
    if (sPort == QLatin1String("80"))
        return QStringLiteral("http://") + host;
    return QStringLiteral("http://") + host + QLatin1Char(':') + sPort;
}
