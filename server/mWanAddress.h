#pragma once

#include <QString>

#include <functional>

// The public link of the server: sTag is "http://" and the public address,
// sCaption the link shown to the user, with the port when it is not 80.
struct WanLink
{
    QString sTag;
    QString sCaption;
};

// Looks the public address up with fetch (given the service URL) when the
// service URL is longer than 7 characters, else keeps sPreviousTag, and builds
// the link for the port text. An answer that is no IPv4 or IPv6 address
// counts as no answer.
WanLink RenewWANAddress(const QString &sIPServer, const QString &sPort, const QString &sPreviousTag,
                        const std::function<QString(const QString &)> &fetch);

// The server's own address for the preview in the browser: 127.0.0.1, or the
// listen address when one is set (an IPv6 one in brackets).
QString PreviewUrl(const QString &sPort, const QString &sListen = QString());
