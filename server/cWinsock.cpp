#include "cWinsock.h"

#include "mBindHelper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Requests offered by a listener and not yet taken by a slot.
std::set<qintptr> &PendingRequests()
{
    static std::set<qintptr> pending;
    return pending;
}

// Long enough for a loaded machine to start a tiny program, short enough that
// a helper that hangs cannot freeze the window.
constexpr int kBindHelperWaitMs = 5000;

qint64 NowMilliseconds()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

QString DottedIPv4(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

} // namespace

class cWinsockListener::Server : public QTcpServer
{
public:
    explicit Server(cWinsockListener &owner) : m_owner(owner) {}

protected:
    void incomingConnection(qintptr descriptor) override { m_owner.OnIncoming(descriptor); }

private:
    cWinsockListener &m_owner;
};

cWinsockListener::cWinsockListener(QObject *parent) : QObject(parent) {}

cWinsockListener::~cWinsockListener() = default;

bool cWinsockListener::Listen()
{
    Close();
    if (m_lLocalPort < 0 || m_lLocalPort > 65535) {
        m_sError = QStringLiteral("%1 is no port number").arg(m_lLocalPort);
        return false;
    }
    m_server = std::make_unique<Server>(*this);
    // Room for a crowd arriving at once, so nobody waits for a SYN to be resent.
    m_server->setListenBacklogSize(SOMAXCONN);
    if (m_server->listen(QHostAddress::AnyIPv4, quint16(m_lLocalPort))) {
        m_sError.clear();
        return true;
    }
    const QString sRefused = m_server->errorString();
    const bool bNeedsRight = m_server->serverError() == QAbstractSocket::SocketAccessError;
    m_server.reset();
    if (bNeedsRight && ListenThroughHelper())
        return true;
    m_sError = bNeedsRight ? QStringLiteral("%1 (%2)").arg(sRefused, m_sError) : sRefused;
    return false;
}

bool cWinsockListener::ListenThroughHelper()
{
    Close();
    const QString sProgramDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    const std::string sHelper = FindBindHelper(sProgramDir.toStdString());
    if (sHelper.empty()) {
        m_sError = QStringLiteral("the port helper vorsk-bind is not installed");
        return false;
    }
    const BoundSocket bound = BindThroughHelper(sHelper, m_lLocalPort, kBindHelperWaitMs);
    if (bound.descriptor < 0) {
        m_sError = QStringLiteral("port helper: %1").arg(QString::fromStdString(bound.reason));
        return false;
    }
    return Adopt(bound.descriptor);
}

bool cWinsockListener::Adopt(int descriptor)
{
    auto server = std::make_unique<Server>(*this);
    if (!server->setSocketDescriptor(descriptor)) {
        ::close(descriptor);
        m_sError = server->errorString();
        return false;
    }
    m_server = std::move(server);
    m_sError.clear();
    return true;
}

void cWinsockListener::Close()
{
    m_server.reset();
}

int cWinsockListener::State() const
{
    return m_server && m_server->isListening() ? sckListening : sckClosed;
}

QString cWinsockListener::PendingPeerAddress(qintptr requestId)
{
    if (!PendingRequests().count(requestId))
        return {};
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(int(requestId), reinterpret_cast<sockaddr *>(&peer), &length) != 0)
        return {};
    return DottedIPv4(QHostAddress(reinterpret_cast<const sockaddr *>(&peer)));
}

void cWinsockListener::OnIncoming(qintptr descriptor)
{
    PendingRequests().insert(descriptor);
    emit ConnectionRequest(descriptor);
    // Nobody took it: the peer gets no byte, only the close.
    if (PendingRequests().erase(descriptor))
        ::close(int(descriptor));
}

cWinsockSlot::cWinsockSlot(int lIndex, QObject *parent) : QObject(parent), m_lIndex(lIndex) {}

cWinsockSlot::~cWinsockSlot()
{
    Close();
}

int cWinsockSlot::State() const
{
    if (!m_socket)
        return sckClosed;
    switch (m_socket->state()) {
    case QAbstractSocket::ConnectedState:
        return sckConnected;
    case QAbstractSocket::ClosingState:
        return sckClosing;
    default:
        return sckClosed;
    }
}

QString cWinsockSlot::RemoteHostIP() const
{
    return m_socket ? DottedIPv4(m_socket->peerAddress()) : QString();
}

bool cWinsockSlot::Accept(qintptr requestId)
{
    if (!PendingRequests().count(requestId))
        return false;
    Close();
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(requestId)) {
        delete socket;
        return false;
    }
    PendingRequests().erase(requestId);
    m_socket = socket;
    Progress();
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (socket != m_socket)
            return;
        Progress();
        emit DataArrival(m_lIndex, socket->bytesAvailable());
    });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
        if (socket != m_socket)
            return;
        Progress();
        if (socket->bytesToWrite() == 0)
            emit SendComplete(m_lIndex);
    });
    // A peer that went away frees its slot.
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        if (socket == m_socket) {
            Close();
            Tag.clear();
        }
    });
    return true;
}

QByteArray cWinsockSlot::GetData()
{
    return m_socket ? m_socket->readAll() : QByteArray();
}

void cWinsockSlot::SendData(const QByteArray &data)
{
    if (!m_socket)
        return;
    if (!data.isEmpty()) {
        m_socket->write(data);
        return;
    }
    if (m_socket->bytesToWrite() == 0) {
        QTcpSocket *socket = m_socket;
        QMetaObject::invokeMethod(
            this,
            [this, socket] {
                if (socket == m_socket)
                    emit SendComplete(m_lIndex);
            },
            Qt::QueuedConnection);
    }
}

void cWinsockSlot::Close()
{
    if (!m_socket)
        return;
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    // Unread input would turn the close into a reset, which can cost the peer
    // the end of an answer it has not read yet.
    socket->readAll();
    socket->abort();
    socket->deleteLater();
}

qint64 cWinsockSlot::BytesToWrite() const
{
    return m_socket ? m_socket->bytesToWrite() : 0;
}

qint64 cWinsockSlot::MillisecondsSinceProgress() const
{
    return NowMilliseconds() - m_lastProgress;
}

void cWinsockSlot::Progress()
{
    m_lastProgress = NowMilliseconds();
}

cWinsockArray::cWinsockArray(QObject *parent) : QObject(parent)
{
    Load(0);
}

bool cWinsockArray::Load(int lIndex)
{
    if (lIndex < 0 || m_slots.count(lIndex))
        return false;
    auto slot = std::make_unique<cWinsockSlot>(lIndex);
    connect(slot.get(), &cWinsockSlot::DataArrival, this, &cWinsockArray::DataArrival);
    connect(slot.get(), &cWinsockSlot::SendComplete, this, &cWinsockArray::SendComplete);
    m_slots.emplace(lIndex, std::move(slot));
    return true;
}

bool cWinsockArray::Unload(int lIndex)
{
    return lIndex != 0 && m_slots.erase(lIndex) > 0;
}

cWinsockSlot *cWinsockArray::Item(int lIndex) const
{
    const auto found = m_slots.find(lIndex);
    return found == m_slots.end() ? nullptr : found->second.get();
}

int cWinsockArray::UBound() const
{
    return m_slots.empty() ? -1 : m_slots.rbegin()->first;
}
