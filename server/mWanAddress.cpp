#include "mWanAddress.h"

#include "cTools.h"
#include "mNumbers.h"

WanLink RenewWANAddress(const QString &sIPServer, const QString &sPort, const QString &sPreviousTag,
                        const std::function<QString(const QString &)> &fetch)
{
    WanLink link;
    link.sTag = sPreviousTag;
    if (sIPServer.size() > 7)
        link.sTag = QStringLiteral("http://") + Tools().pTrimString(fetch(sIPServer));

    // The port is compared as a number (so "080" is 80); a text that is no
    // number counts as another port.
    bool ok = false;
    const double port = NumericValue(sPort, &ok);
    link.sCaption = (ok && port == 80) ? link.sTag : link.sTag + QLatin1Char(':') + sPort;
    return link;
}

QString PreviewUrl(const QString &sPort)
{
    // Here the port is compared as text: "080" keeps its port.
    if (sPort == QLatin1String("80"))
        return QStringLiteral("http://127.0.0.1");
    return QStringLiteral("http://127.0.0.1:") + sPort;
}
