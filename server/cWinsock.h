#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <map>
#include <memory>

class QTcpServer;
class QTcpSocket;

// Socket states as the program reads them: 0 is closed, and only 0 is tested.
constexpr int sckClosed = 0;
constexpr int sckListening = 2;
constexpr int sckConnected = 7;
constexpr int sckClosing = 8;

// The listening socket: on every local IPv4 address; each incoming connection
// is offered once as ConnectionRequest(requestId). A request that no slot
// accepts while the signal is handled is closed without a byte sent.
class cWinsockListener : public QObject
{
    Q_OBJECT

public:
    explicit cWinsockListener(QObject *parent = nullptr);
    ~cWinsockListener() override;

    int LocalPort() const { return m_lLocalPort; }
    void setLocalPort(int lPort) { m_lLocalPort = lPort; }
    // True when listening; otherwise ErrorString() says why. A port this
    // process may not open (below 1024) is opened by the port helper instead.
    bool Listen();
    // Listens on LocalPort with a socket the port helper opened; false when
    // there is none, and ErrorString() says why.
    bool ListenThroughHelper();
    void Close();
    int State() const;
    QString ErrorString() const { return m_sError; }

    // The IPv4 address of the peer behind a pending request, dotted decimal.
    static QString PendingPeerAddress(qintptr requestId);

signals:
    void ConnectionRequest(qintptr requestId);

private:
    class Server;
    void OnIncoming(qintptr descriptor);
    // Listens on a socket already listening; it is closed when that fails.
    bool Adopt(int descriptor);

    std::unique_ptr<Server> m_server;
    int m_lLocalPort = 0;
    QString m_sError;
};

// One connection slot of the pool. Free exactly when State() is 0.
class cWinsockSlot : public QObject
{
    Q_OBJECT

public:
    explicit cWinsockSlot(int lIndex, QObject *parent = nullptr);
    ~cWinsockSlot() override;

    int Index() const { return m_lIndex; }
    QString Tag;

    int State() const;
    QString RemoteHostIP() const;
    // Takes over a pending request of the listener; false when it is not pending.
    bool Accept(qintptr requestId);
    // All data received and not yet fetched; consumed.
    QByteArray GetData();
    // Queued after earlier data; SendComplete follows once all of it went out
    // (at once, when nothing at all is queued).
    void SendData(const QByteArray &data);
    // Ends the connection; harmless when closed.
    void Close();

    // Queued bytes not yet handed to the network.
    qint64 BytesToWrite() const;
    // Milliseconds since the connection last moved (accepted, received, sent).
    qint64 MillisecondsSinceProgress() const;

signals:
    void DataArrival(int lIndex, qint64 bytesTotal);
    void SendComplete(int lIndex);

private:
    void Progress();

    int m_lIndex;
    QTcpSocket *m_socket = nullptr;
    qint64 m_lastProgress = 0;
};

// The slot array: element 0 exists from the start; others are created by
// index and destroyed again (element 0 cannot be).
class cWinsockArray : public QObject
{
    Q_OBJECT

public:
    explicit cWinsockArray(QObject *parent = nullptr);

    // False when the index exists already (it stays unchanged) or is negative.
    bool Load(int lIndex);
    bool Unload(int lIndex);
    // The slot at an index, null when it does not exist.
    cWinsockSlot *Item(int lIndex) const;
    int UBound() const;

signals:
    void DataArrival(int lIndex, qint64 bytesTotal);
    void SendComplete(int lIndex);

private:
    std::map<int, std::unique_ptr<cWinsockSlot>> m_slots;
};
