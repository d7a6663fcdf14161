#pragma once

#include "cBanIP.h"
#include "cWinsock.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// What the server reads from the window and tells it, each time it needs it.
struct ServerWindow
{
    std::function<QString()> txtMaxCon;
    std::function<QString()> txtPort;
    std::function<bool()> chkUptime;
    // Full path of the published picture; empty when there is no place for it.
    std::function<QString()> picturePath;
    std::function<QString()> retUptimePage;
    // A connection was accepted (true) or refused (false) from an address.
    std::function<void(bool, const QString &)> logConnection;
    // A request starting with "GET" arrived: the capture timer is re-armed if idle.
    std::function<void()> pictureRequested;
};

// The window of a server that only serves one picture file: no status page
// text, no log, no capture timer (the load comparison and the browser test).
ServerWindow PictureOnlyWindow(const QString &sPort, const QString &sPicturePath, const QString &sMaxCon);

// The web server: the listener objWS2, the slot pool objWS1 and the ban list,
// with the handlers of their events. Answers are header-less (the simple
// response of HTTP/0.9): the picture file's bytes or the status page, and the
// end of the answer is the close.
class cWebServer : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 CHUNK_SIZE = 60000;
    // Slot mends: an answer that makes no progress for this long is dropped,
    // and so is a connection whose unsent answers grow past the limit.
    static constexpr qint64 StallMilliseconds = 30000;
    static constexpr qint64 MaxUnsentBytes = 4 * 1024 * 1024;
    // The time-out sweep leaves a connection without a request alone until it
    // has been silent this long, so one accepted just before a tick, whose
    // request is already on its way, is not cut off.
    static constexpr qint64 SilentMilliseconds = 500;

    explicit cWebServer(ServerWindow window, QObject *parent = nullptr);

    // Rebuilds the ban list, creates slots 1 to maxcon, and listens on the
    // port. False when the port cannot be listened on (ListenError says why).
    bool StartServer(const QString &sBanText);
    void StopServer();
    QString ListenError() const { return objWS2.ErrorString(); }
    // At shut-down: slots 1 to maxcon go away (element 0 stays).
    void UnloadSlots();

    void objWS2_ConnectionRequest(qintptr requestId);
    void objWS1_DataArrival(int Index, qint64 bytesTotal);
    void objWS1_SendComplete(int Index);
    void tmtTimeout_Timer();

    void setStallMilliseconds(qint64 milliseconds) { m_stallMilliseconds = milliseconds; }

    cWinsockListener objWS2;
    cWinsockArray objWS1;
    std::unique_ptr<cBanIP> m_cBanList = std::make_unique<cBanIP>();

private:
    int MaxConnections() const;
    void SendPicture(cWinsockSlot &slot);

    ServerWindow m_window;
    qint64 m_stallMilliseconds = StallMilliseconds;
};
