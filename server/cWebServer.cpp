#include "cWebServer.h"

#include "mNumbers.h"
#include "mSafeFile.h"

#include <QFile>

#include <cerrno>
#include <limits>

#include <unistd.h>

namespace {

const QByteArray kGet = QByteArrayLiteral("GET");
const QByteArray kUptimeRequest = QByteArrayLiteral("get /uptime");

} // namespace

ServerWindow PictureOnlyWindow(const QString &sPort, const QString &sPicturePath, const QString &sMaxCon)
{
    ServerWindow window;
    window.txtMaxCon = [sMaxCon] { return sMaxCon; };
    window.txtPort = [sPort] { return sPort; };
    window.chkUptime = [] { return true; };
    window.picturePath = [sPicturePath] { return sPicturePath; };
    window.retUptimePage = [] { return QString(); };
    window.logConnection = [](bool, const QString &) {};
    window.pictureRequested = [] {};
    return window;
}

cWebServer::cWebServer(ServerWindow window, QObject *parent) : QObject(parent), m_window(std::move(window))
{
    connect(&objWS2, &cWinsockListener::ConnectionRequest, this, &cWebServer::objWS2_ConnectionRequest);
    connect(&objWS1, &cWinsockArray::DataArrival, this, &cWebServer::objWS1_DataArrival);
    connect(&objWS1, &cWinsockArray::SendComplete, this, &cWebServer::objWS1_SendComplete);
}

// The connection limit as a 16-bit number; a text that is none allows slot 0 only.
int cWebServer::MaxConnections() const
{
    bool ok = false;
    const int limit = WholeNumberValue(m_window.txtMaxCon(), &ok);
    return ok ? std::clamp(limit, 0, int(std::numeric_limits<qint16>::max())) : 0;
}

bool cWebServer::StartServer(const QString &sBanText)
{
    m_cBanList = FillBanList(sBanText);
    for (int i = 1; i <= MaxConnections(); ++i)
        objWS1.Load(i);
    objWS2.Close();
    bool ok = false;
    const int port = WholeNumberValue(m_window.txtPort(), &ok);
    objWS2.setLocalPort(ok ? port : -1);
    return objWS2.Listen();
}

void cWebServer::StopServer()
{
    objWS2.Close();
}

void cWebServer::UnloadSlots()
{
    for (int i = 1; i <= MaxConnections(); ++i)
        objWS1.Unload(i);
}

void cWebServer::objWS2_ConnectionRequest(qintptr requestId)
{
    const int maxcon = MaxConnections();
    cWinsockSlot *slot = nullptr;
    for (int i = 0; i <= maxcon && !slot; ++i)
        if (cWinsockSlot *candidate = objWS1.Item(i); candidate && candidate->State() == sckClosed)
            slot = candidate;
    if (!slot)
        return;
    slot->Close();
    slot->Tag.clear();
    const QString peer = cWinsockListener::PendingPeerAddress(requestId);
    if (IsBanned(*m_cBanList, peer)) {
        m_window.logConnection(false, peer);
        return;
    }
    if (slot->Accept(requestId))
        m_window.logConnection(true, slot->RemoteHostIP());
}

void cWebServer::objWS1_DataArrival(int Index, qint64)
{
    cWinsockSlot *slot = objWS1.Item(Index);
    if (!slot)
        return;
    slot->Tag = QStringLiteral("ok");
    const QByteArray data = slot->GetData();
    if (!data.startsWith(kGet)) {
        slot->Close();
        slot->Tag.clear();
        return;
    }
    m_window.pictureRequested();
    if (data.left(kUptimeRequest.size()).toLower() == kUptimeRequest) {
        if (m_window.chkUptime())
            slot->SendData(m_window.retUptimePage().toLatin1());
    } else {
        SendPicture(*slot);
    }
    // A peer that keeps asking but never reads is let go.
    if (slot->BytesToWrite() > MaxUnsentBytes) {
        slot->Close();
        slot->Tag.clear();
    }
}

// The picture file read afresh, queued in pieces of at most CHUNK_SIZE bytes.
void cWebServer::SendPicture(cWinsockSlot &slot)
{
    const QString path = m_window.picturePath();
    // Only a picture of our own is sent: never a link another user planted,
    // never a pipe that would hold the server.
    const int fd = path.isEmpty() ? -1 : OpenOwnFile(path);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            close(fd);
        // A picture that does not exist yet is created empty: an empty answer.
        else if (!path.isEmpty() && errno == ENOENT)
            CreateEmptyFile(path);
        slot.SendData(QByteArray());
        return;
    }
    qint64 remaining = file.size();
    while (CHUNK_SIZE < remaining) {
        slot.SendData(file.read(CHUNK_SIZE));
        remaining -= CHUNK_SIZE;
    }
    slot.SendData(file.read(remaining));
}

void cWebServer::objWS1_SendComplete(int Index)
{
    if (cWinsockSlot *slot = objWS1.Item(Index)) {
        slot->Close();
        slot->Tag.clear();
    }
}

void cWebServer::tmtTimeout_Timer()
{
    bool ok = false;
    const int maxcon = WholeNumberValue(m_window.txtMaxCon(), &ok);
    for (int i = 0; ok && i <= maxcon && i <= objWS1.UBound(); ++i) {
        cWinsockSlot *slot = objWS1.Item(i);
        if (!slot)
            continue;
        // Silent connections go; so does an answer that stopped moving.
        const qint64 quiet = slot->State() == sckClosed ? 0 : slot->MillisecondsSinceProgress();
        const bool answering = slot->Tag == QStringLiteral("ok");
        if ((!answering && quiet >= SilentMilliseconds) || (answering && quiet > m_stallMilliseconds)) {
            slot->Close();
            slot->Tag.clear();
        }
    }
}
