#pragma once

#include "mHttpRequest.h"

#include "cAnswerBody.h"
#include "cLingeringClose.h"
#include "cServerThread.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

// The socket layer of the server. Every object here lives on the server's I/O
// thread and is used there only; events are plain callbacks run on that thread.

// Socket states as the program reads them: 0 is closed, and only 0 is tested.
constexpr int sckClosed = 0;
constexpr int sckListening = 2;
constexpr int sckConnected = 7;

// The listening socket: on one address, or on every local address, IPv6 and
// IPv4 where the machine has IPv6, IPv4 alone where it has none; each incoming connection
// is offered once as ConnectionRequest(requestId), the accepted descriptor. A
// request that is neither accepted by a slot nor held while the event is
// handled is closed without a byte sent.
class cWinsockListener
{
public:
    explicit cWinsockListener(asio::io_context &context);
    ~cWinsockListener();

    int LocalPort() const { return m_lLocalPort; }
    void setLocalPort(int lPort) { m_lLocalPort = lPort; }
    // True when listening on LocalPort; otherwise ErrorString() says why,
    // and a socket listening before listens on, LocalPort back at its port.
    // On sAddress (a numeric address or a host name) alone when given, else
    // on every address. A port this process may not open (below 1024) is
    // opened by the port helper, looked for beside the program in sProgramDir.
    bool Listen(const std::string &sProgramDir, const QString &sAddress = QString());
    // Listens on LocalPort (of sAddress, numeric, when given) with a socket the
    // port helper opened; false when there is none, and ErrorString() says why.
    bool ListenThroughHelper(const std::string &sProgramDir, const std::string &sAddress = std::string());
    // Listens on a socket opened and listening already, which it takes over
    // from the one listening before.
    bool Adopt(int descriptor);
    void Close();
    int State() const { return m_stream.is_open() ? sckListening : sckClosed; }
    QString ErrorString() const { return m_sError; }

    // The address of the peer behind a pending request: IPv4 peers in dotted
    // decimal (also when they came through the IPv6 socket), IPv6 peers in their usual text.
    QString PendingPeerAddress(int requestId) const;
    bool IsPending(int requestId) const { return m_pending.count(requestId) > 0; }
    // What the peer behind a pending request has sent so far (its first
    // bytes, read without taking them); nullopt when it has gone: reset, or
    // closed without asking. A peer that asked and then ended its sending
    // has not gone: it still reads its answer.
    std::optional<QByteArray> PendingArrived(int requestId) const;
    // Keeps a request pending after its event, to be accepted or refused later.
    void Hold(int requestId) { m_held.insert(requestId); }
    // Closes a pending request without a byte sent.
    void Refuse(int requestId);
    // A slot took the request over.
    void Release(int requestId);
    // While paused nothing more is accepted: newcomers wait in the system's
    // queue, where they cost no descriptor.
    void Pause() { m_paused = true; }
    void Resume();
    bool Paused() const { return m_paused; }
    // Whether the next descriptor the system hands out lies in the reserve.
    bool NextDescriptorInReserve();

    std::function<void(int requestId)> ConnectionRequest;

private:
    bool OpenAndAdopt(const std::string &sProgramDir, const QString &sAddress);
    void WaitForConnections();
    void AcceptAll();
    void ShedOne();
    void Offer(int descriptor, QString sPeer);

    asio::posix::stream_descriptor m_stream;
    asio::steady_timer m_retry;
    int m_reserve = -1; // kept free so a crowd beyond the descriptor limit can be shed
    bool m_paused = false;
    bool m_watching = false; // a wait for connections is under way
    int m_lLocalPort = 0;
    QString m_sError;
    std::map<int, QString> m_pending; // request id -> peer address
    std::set<int> m_held;
};

// A piece of an answer: bytes of a shared, never-changed body.
struct AnswerPiece
{
    std::shared_ptr<const cAnswerBody> body;
    qsizetype offset = 0;
    qsizetype length = 0;
    bool endsAnswer = true;
};

// One connection slot of the pool. Free exactly when State() is 0.
class cWinsockSlot
{
public:
    // lingering: where a closed connection whose peer may still send goes to
    // be ended gently; none: closed outright.
    cWinsockSlot(asio::io_context &context, int lIndex, cLingeringClose *lingering = nullptr);
    ~cWinsockSlot();

    // The request mark ("" or "ok") and the start of a request not yet decided.
    QString Tag;
    QByteArray Head;
    HttpHeadScan HeadScan;
    // The connection is answered as HTTP/1.1, decided on its first arrival;
    // and its answer is a live stream, a picture for every capture.
    bool Http = false;
    bool Streaming = false;
    // Its request waits for the next picture to be published.
    bool AwaitsPicture = false;

    int State() const { return m_fd < 0 ? sckClosed : sckConnected; }
    int Index() const { return m_lIndex; }
    QString RemoteHostIP() const { return m_sRemoteHostIP; }
    // Takes over a pending request of the listener.
    bool Accept(cWinsockListener &listener, int requestId);
    // The data of the latest arrival, consumed.
    QByteArray GetData();
    // Queued after earlier data; SendComplete follows once all of it went out
    // (at once, when nothing at all is queued).
    void SendData(const QByteArray &data);
    void SendData(AnswerPiece piece);
    // Ends the connection; harmless when closed. With bytes still queued it is
    // reset, so the peer sees its answer was cut.
    void Close();
    // The peer has ended its sending side (it may still read).
    bool PeerDone() const { return m_bPeerDone; }
    // Nothing queued and no SendComplete to come.
    bool Idle() const { return m_queue.empty() && !m_bCompletePending; }

    qint64 BytesToWrite() const { return m_unsent; }
    // What the peer has not taken yet: the bytes queued here and those the
    // kernel still holds for it (sent, not yet acknowledged).
    qint64 BytesNotTaken() const;
    int AnswersQueued() const { return m_answersQueued; }
    // Milliseconds since the connection last moved (accepted, a request, sent).
    qint64 MillisecondsSinceProgress() const;
    // Milliseconds since the connection was accepted.
    qint64 MillisecondsConnected() const;
    void Progress();

    // Data has arrived, or the peer has ended its sending (PeerDone).
    std::function<void(int lIndex)> DataArrival;
    std::function<void(int lIndex)> SendComplete;
    // The slot was taken (false) or became free (true).
    std::function<void(int lIndex, bool bFree)> FreeChanged;

private:
    void ReadFirst();
    bool Watch();
    void CloseDescriptor();
    void WaitReadable();
    void WaitWritable();
    void ReadArrival(const asio::error_code &error, std::size_t lBytes);
    void Keep(const char *data, qsizetype lBytes);
    bool ReadRest(qsizetype lTotal);
    void PeerGone();
    void ScheduleFlush();
    void Flush();
    // Hands the front of the queue to the kernel: bytes sent, or -1 with errno.
    ssize_t SendSome();
    void Sent(qsizetype lBytes);
    // Reads and lets go what the peer has sent and nobody read; true when there was any.
    bool Drain();
    void Reset();
    bool Fresh(unsigned long long generation) const { return generation == m_generation && m_fd >= 0; }

    // Gone with the slot: what was posted for it looks here first.
    std::shared_ptr<char> m_alive = std::make_shared<char>();

    int m_lIndex;
    cLingeringClose *m_lingering;
    asio::posix::stream_descriptor m_stream;
    int m_fd = -1;
    unsigned long long m_generation = 0;
    QString m_sRemoteHostIP;
    QByteArray m_arrival;
    // Asio reads into it first: a request that fits costs one read and no
    // change of the descriptor's watch.
    std::array<char, 2048> m_firstRead{};
    std::deque<AnswerPiece> m_queue;
    qint64 m_unsent = 0;
    int m_answersQueued = 0;
    bool m_bCompletePending = false;
    bool m_bPeerDone = false;
    // The last bytes the peer sent: a request that ended with its blank line
    // is most likely all the peer sends.
    QByteArray m_tail;
    bool m_bWriting = false;
    bool m_bReading = false;
    bool m_bFlushScheduled = false;
    qint64 m_accepted = 0;
    qint64 m_lastProgress = 0;
};

// The slot array: element 0 exists from the start; others are created by
// index and destroyed again (element 0 cannot be).
class cWinsockArray
{
public:
    explicit cWinsockArray(asio::io_context &context);

    // False when the index exists already (it stays unchanged) or is negative.
    bool Load(int lIndex);
    bool Unload(int lIndex);
    // The slot at an index, null when it does not exist.
    cWinsockSlot *Item(int lIndex) const;
    int UBound() const { return int(m_slots.size()) - 1; }
    // The lowest free slot from 0 to lLast, null when all are taken.
    cWinsockSlot *LowestFree(int lLast) const;
    cLingeringClose &Lingering() { return m_lingering; }

    std::function<void(int lIndex)> DataArrival;
    std::function<void(int lIndex)> SendComplete;

private:
    asio::io_context &m_context;
    std::set<int> m_free; // so the lowest free slot is found without a scan; outlives the slots
    cLingeringClose m_lingering; // outlives the slots, which hand it their connections
    std::vector<std::unique_ptr<cWinsockSlot>> m_slots;
};

// Milliseconds on a steady clock, for the slots' ages.
qint64 ServerMilliseconds();
