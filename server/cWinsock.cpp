#include "cWinsock.h"

#include "mBindHelper.h"
#include "mListenSocket.h"

#include <arpa/inet.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Long enough for a loaded machine to start a tiny program, short enough that
// a helper that hangs cannot hold the server.
constexpr int kBindHelperWaitMs = 5000;
// Connections taken per readiness of the listener, so one crowd cannot keep
// the loop from serving the slots.
constexpr int kAcceptsPerWake = 256;
// What one readiness of a slot reads at most; only the first bytes of an
// arrival count (room for a whole request head), the rest is read to be
// discarded.
constexpr qsizetype kArrivalKept = 16384;
constexpr qsizetype kReadPerWake = 256 * 1024;
// Pieces handed to the kernel in one call.
constexpr int kPiecesPerSend = 64;
constexpr qsizetype kFileBytesPerSend = 4 * 1024 * 1024;
// A descriptor limit reached with no reserve left: the listener tries again after this.
constexpr auto kRetryAfter = std::chrono::milliseconds(50);

// The peer's address as text: dotted decimal for IPv4, IPv4 peers of an IPv6
// socket included.
QString AddressText(const sockaddr_storage &peer)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (peer.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in &>(peer).sin_addr, text, sizeof text);
    } else if (peer.ss_family == AF_INET6) {
        const in6_addr &address = reinterpret_cast<const sockaddr_in6 &>(peer).sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&address))
            inet_ntop(AF_INET, address.s6_addr + 12, text, sizeof text);
        else
            inet_ntop(AF_INET6, &address, text, sizeof text);
    }
    return QString::fromLatin1(text);
}

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The socket address a listen address names, with the port: a numeric one as
// it is (IPv6 in brackets or not), a host name ("localhost" too) through the
// system's resolver, its first IPv4 address before any IPv6 one, since most
// peers, and a proxy in front, come over IPv4.
bool ResolveListenAddress(const QString &sAddress, int lPort, sockaddr_storage &address, socklen_t &length,
                          QString &sError)
{
    const bool bracketed = sAddress.startsWith(QLatin1Char('[')) && sAddress.endsWith(QLatin1Char(']'));
    const QByteArray name = (bracketed ? sAddress.mid(1, sAddress.size() - 2) : sAddress).toUtf8();
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const int error = getaddrinfo(name.constData(), std::to_string(lPort).c_str(), &hints, &found);
    if (error != 0) {
        sError = QStringLiteral("the listen address %1 is not found: %2")
                     .arg(sAddress, QString::fromLocal8Bit(gai_strerror(error)));
        return false;
    }
    const addrinfo *chosen = nullptr;
    for (const int family : {AF_INET, AF_INET6})
        for (const addrinfo *each = found; each && !chosen; each = each->ai_next)
            if (each->ai_family == family)
                chosen = each;
    if (chosen) {
        std::memcpy(&address, chosen->ai_addr, chosen->ai_addrlen);
        length = chosen->ai_addrlen;
    } else {
        sError = QStringLiteral("the listen address %1 is no IPv4 or IPv6 address").arg(sAddress);
    }
    freeaddrinfo(found);
    return chosen != nullptr;
}

// A socket address as the port helper takes it: numeric, an IPv6 scope as its number.
std::string NumericText(const sockaddr_storage &address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET)
        return inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in &>(address).sin_addr, text, sizeof text);
    const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(address);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    return v6.sin6_scope_id ? text + ('%' + std::to_string(v6.sin6_scope_id)) : std::string(text);
}

int OpenReserve()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

} // namespace

qint64 ServerMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

cWinsockListener::cWinsockListener(asio::io_context &context) : m_stream(context), m_retry(context) {}

cWinsockListener::~cWinsockListener()
{
    Close();
    for (const auto &[descriptor, peer] : m_pending)
        ::close(descriptor);
}

bool cWinsockListener::Listen(const std::string &sProgramDir, const QString &sAddress)
{
    // The socket open now stays until the new one listens, and for good when it cannot.
    const int previousPort = m_stream.is_open() ? ListenSocket::PortOf(m_stream.native_handle()) : m_lLocalPort;
    if (OpenAndAdopt(sProgramDir, sAddress))
        return true;
    m_lLocalPort = previousPort;
    return false;
}

bool cWinsockListener::OpenAndAdopt(const std::string &sProgramDir, const QString &sAddress)
{
    if (m_lLocalPort < 0 || m_lLocalPort > 65535) {
        m_sError = QStringLiteral("%1 is no port number").arg(m_lLocalPort);
        return false;
    }
    sockaddr_storage address{};
    socklen_t length = 0;
    if (!sAddress.isEmpty() && !ResolveListenAddress(sAddress, m_lLocalPort, address, length, m_sError))
        return false;
    int error = 0;
    const int lFlags = SOCK_NONBLOCK | SOCK_CLOEXEC;
    const auto *bound = reinterpret_cast<const sockaddr *>(&address);
    const int descriptor = length > 0 ? ListenSocket::OpenOn(bound, length, lFlags, error)
                                      : ListenSocket::Open(m_lLocalPort, lFlags, error);
    if (descriptor >= 0)
        return Adopt(descriptor);
    const std::string sNumeric = length > 0 ? NumericText(address) : std::string();
    m_sError = (sNumeric.empty() ? QString() : QString::fromStdString(sNumeric) + QStringLiteral(": ")) +
               ErrnoText(error);
    if (error != EACCES)
        return false;
    const QString sRefused = m_sError;
    if (ListenThroughHelper(sProgramDir, sNumeric))
        return true;
    m_sError = QStringLiteral("%1 (%2)").arg(sRefused, m_sError);
    return false;
}

bool cWinsockListener::ListenThroughHelper(const std::string &sProgramDir, const std::string &sAddress)
{
    const std::string sHelper = FindBindHelper(sProgramDir);
    if (sHelper.empty()) {
        m_sError = QStringLiteral("the port helper vorsk-bind is not installed");
        return false;
    }
    const BoundSocket bound = BindThroughHelper(sHelper, m_lLocalPort, kBindHelperWaitMs, sAddress);
    if (bound.descriptor < 0) {
        m_sError = QStringLiteral("port helper: %1").arg(QString::fromStdString(bound.reason));
        return false;
    }
    return Adopt(bound.descriptor);
}

bool cWinsockListener::Adopt(int descriptor)
{
    int listening = 0;
    socklen_t length = sizeof listening;
    if (getsockopt(descriptor, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || !listening ||
        fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK) != 0) {
        ::close(descriptor);
        m_sError = QStringLiteral("the socket is not listening");
        return false;
    }
    // A listener paused for a crowd stays paused on its new socket.
    const bool paused = m_paused;
    Close();
    m_paused = paused;
    m_stream.assign(descriptor);
    // A connection is offered once its request has come (or, from a peer
    // that sends nothing, after a second): it is then read and answered at
    // once, never watched while the request is on its way.
    const int deferSeconds = 1;
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds, sizeof deferSeconds);
    // Port 0 asks the system for one: the port listened on is that one.
    sockaddr_storage local{};
    socklen_t localLength = sizeof local;
    if (getsockname(descriptor, reinterpret_cast<sockaddr *>(&local), &localLength) == 0)
        m_lLocalPort = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 &>(local).sin6_port
                                                          : reinterpret_cast<const sockaddr_in &>(local).sin_port);
    if (m_reserve < 0)
        m_reserve = OpenReserve();
    m_sError.clear();
    if (!m_paused)
        WaitForConnections();
    return true;
}

void cWinsockListener::Close()
{
    m_retry.cancel();
    m_paused = false;
    m_watching = false;
    if (m_stream.is_open())
        m_stream.close();
    if (m_reserve >= 0)
        ::close(m_reserve);
    m_reserve = -1;
}

void cWinsockListener::WaitForConnections()
{
    m_watching = true;
    m_stream.async_wait(asio::posix::stream_descriptor::wait_read, [this](const asio::error_code &error) {
        if (error)
            return;
        m_watching = false;
        AcceptAll();
    });
}

void cWinsockListener::Resume()
{
    m_paused = false;
    if (m_stream.is_open() && !m_watching)
        WaitForConnections();
}

bool cWinsockListener::NextDescriptorInReserve()
{
    const int probe = m_stream.is_open() ? ::fcntl(m_stream.native_handle(), F_DUPFD_CLOEXEC, 0) : -1;
    if (probe < 0)
        return true;
    ::close(probe);
    return InDescriptorReserve(probe);
}

void cWinsockListener::AcceptAll()
{
    for (int i = 0; i < kAcceptsPerWake && m_stream.is_open() && !m_paused; ++i) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int descriptor = ::accept4(m_stream.native_handle(), reinterpret_cast<sockaddr *>(&peer), &length,
                                         SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor >= 0) {
            Offer(descriptor, AddressText(peer));
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if ((errno == EMFILE || errno == ENFILE) && m_reserve >= 0) {
            ShedOne();
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        // Out of descriptors with no reserve, or out of memory: keep
        // listening, and look again shortly.
        m_retry.expires_after(kRetryAfter);
        m_retry.async_wait([this](const asio::error_code &error) {
            if (!error && m_stream.is_open()) {
                if (m_reserve < 0)
                    m_reserve = OpenReserve();
                AcceptAll();
            }
        });
        return;
    }
    if (m_stream.is_open() && !m_paused && !m_watching)
        WaitForConnections();
}

// The descriptor limit is reached: the reserve makes room to take the waiting
// connection off the queue and close it, so the queue never jams.
void cWinsockListener::ShedOne()
{
    ::close(m_reserve);
    const int descriptor = ::accept4(m_stream.native_handle(), nullptr, nullptr, SOCK_CLOEXEC);
    if (descriptor >= 0)
        ::close(descriptor);
    m_reserve = OpenReserve();
}

void cWinsockListener::Offer(int descriptor, QString sPeer)
{
    m_pending.emplace(descriptor, std::move(sPeer));
    if (ConnectionRequest)
        ConnectionRequest(descriptor);
    // Neither taken nor held: the peer gets no byte, only the close.
    if (m_pending.count(descriptor) && !m_held.count(descriptor))
        Refuse(descriptor);
}

QString cWinsockListener::PendingPeerAddress(int requestId) const
{
    const auto found = m_pending.find(requestId);
    return found == m_pending.end() ? QString() : found->second;
}

std::optional<QByteArray> cWinsockListener::PendingArrived(int requestId) const
{
    if (!IsPending(requestId))
        return std::nullopt;
    char buffer[4096];
    const ssize_t got = ::recv(requestId, buffer, sizeof buffer, MSG_PEEK | MSG_DONTWAIT);
    if (got > 0)
        return QByteArray(buffer, got);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return QByteArray();
    return std::nullopt;
}

void cWinsockListener::Refuse(int requestId)
{
    if (m_pending.erase(requestId))
        ::close(requestId);
    m_held.erase(requestId);
}

void cWinsockListener::Release(int requestId)
{
    m_pending.erase(requestId);
    m_held.erase(requestId);
}

cWinsockSlot::cWinsockSlot(asio::io_context &context, int lIndex, cLingeringClose *lingering)
    : m_lIndex(lIndex), m_lingering(lingering), m_stream(context)
{
}

cWinsockSlot::~cWinsockSlot()
{
    Close();
}

bool cWinsockSlot::Accept(cWinsockListener &listener, int requestId)
{
    if (!listener.IsPending(requestId))
        return false;
    Close();
    m_sRemoteHostIP = listener.PendingPeerAddress(requestId);
    listener.Release(requestId);
    m_fd = requestId;
    ++m_generation;
    if (FreeChanged)
        FreeChanged(m_lIndex, false);
    m_accepted = ServerMilliseconds();
    Progress();
    ReadFirst();
    return true;
}

// Most requests are there when their connection is taken, and most answers
// leave in one go: such a connection is read, answered and closed without
// ever being watched for events, which would cost a system call to add it
// and one to remove it. It is watched once it has to wait.
void cWinsockSlot::ReadFirst()
{
    const auto generation = m_generation;
    asio::post(m_stream.get_executor(), [this, generation, alive = std::weak_ptr<char>(m_alive)] {
        if (!alive.lock() || !Fresh(generation))
            return;
        const ssize_t got = ::recv(m_fd, m_firstRead.data(), m_firstRead.size(), 0);
        if (got >= 0)
            ReadArrival(got == 0 ? asio::error::eof : asio::error_code(), std::size_t(got));
        else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            WaitReadable();
        else
            PeerGone();
    });
}

// Watched from now on; a connection the system refuses to watch is closed.
bool cWinsockSlot::Watch()
{
    if (m_stream.is_open())
        return true;
    try {
        m_stream.assign(m_fd);
        return true;
    } catch (const std::system_error &error) {
        std::fprintf(stderr, "vorsk: a connection cannot be watched: %s\n", error.what());
        PeerGone();
        return false;
    }
}

void cWinsockSlot::CloseDescriptor()
{
    if (m_stream.is_open())
        m_stream.close();
    else
        ::close(m_fd);
}

QByteArray cWinsockSlot::GetData()
{
    return std::exchange(m_arrival, QByteArray());
}

void cWinsockSlot::SendData(const QByteArray &data)
{
    SendData(AnswerPiece{cAnswerBody::InMemory(data), 0, data.size(), true});
}

void cWinsockSlot::SendData(AnswerPiece piece)
{
    if (m_fd < 0)
        return;
    m_bCompletePending = true;
    if (piece.length <= 0) {
        if (piece.endsAnswer && !m_queue.empty() && !m_queue.back().endsAnswer) {
            m_queue.back().endsAnswer = true;
            ++m_answersQueued;
        }
        ScheduleFlush();
        return;
    }
    m_unsent += piece.length;
    m_answersQueued += piece.endsAnswer ? 1 : 0;
    m_queue.push_back(std::move(piece));
    ScheduleFlush();
}

// Whatever is queued goes out once the current event is handled, so the pieces
// of one answer leave together.
void cWinsockSlot::ScheduleFlush()
{
    if (m_bFlushScheduled)
        return;
    m_bFlushScheduled = true;
    const auto generation = m_generation;
    // The slot may be unloaded before the flush runs: it is only touched while it lives.
    asio::post(m_stream.get_executor(), [this, generation, alive = std::weak_ptr<char>(m_alive)] {
        if (alive.lock() && Fresh(generation)) {
            m_bFlushScheduled = false;
            Flush();
        }
    });
}

void cWinsockSlot::Close()
{
    if (m_fd < 0)
        return;
    ++m_generation;
    // Unread input, or input still to come, would turn the close into a
    // reset, which can cost the peer the end of an answer it has not read yet.
    // A peer whose request has ended with its blank line and sent nothing
    // since is closed outright; any other that may still send lingers.
    const bool bMoreArrived = Drain();
    const bool bRequestEnded = m_tail.endsWith("\n\n") || m_tail.endsWith("\n\r\n");
    if (!m_queue.empty())
        Reset();
    else if (m_bPeerDone || (bRequestEnded && !bMoreArrived) || !m_lingering)
        CloseDescriptor();
    else
        m_lingering->Take(m_stream.is_open() ? m_stream.release() : m_fd);
    m_fd = -1;
    m_queue.clear();
    m_unsent = 0;
    m_answersQueued = 0;
    m_bCompletePending = m_bPeerDone = m_bWriting = m_bReading = m_bFlushScheduled = false;
    m_arrival.clear();
    m_tail.clear();
    Head.clear();
    HeadScan = {};
    Http = Streaming = AwaitsPicture = false;
    m_sRemoteHostIP.clear();
    if (FreeChanged)
        FreeChanged(m_lIndex, true);
}

// An answer cut short ends with a reset, never the close that ends a whole
// one: header-less, the close is the answer's only end marker, and a viewer
// would take the part it got for the whole picture.
void cWinsockSlot::Reset()
{
    const linger abort{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    CloseDescriptor();
}

bool cWinsockSlot::Drain()
{
    char buffer[4096];
    int i = 0;
    while (i < 16 && ::recv(m_fd, buffer, sizeof buffer, 0) > 0)
        ++i;
    return i > 0;
}

qint64 cWinsockSlot::BytesNotTaken() const
{
    int inKernel = 0;
    if (m_fd < 0 || ::ioctl(m_fd, SIOCOUTQ, &inKernel) != 0)
        inKernel = 0;
    return m_unsent + inKernel;
}

qint64 cWinsockSlot::MillisecondsSinceProgress() const
{
    return ServerMilliseconds() - m_lastProgress;
}

qint64 cWinsockSlot::MillisecondsConnected() const
{
    return ServerMilliseconds() - m_accepted;
}

void cWinsockSlot::Progress()
{
    m_lastProgress = ServerMilliseconds();
}

// Asio's own read, unlike a wait, leaves the descriptor's watch alone and
// reads at once only where that may find something.
void cWinsockSlot::WaitReadable()
{
    if (m_bReading || !Watch())
        return;
    m_bReading = true;
    const auto generation = m_generation;
    // An unloaded slot's read still completes (cancelled): only a living slot is touched.
    m_stream.async_read_some(asio::buffer(m_firstRead), [this, generation, alive = std::weak_ptr<char>(m_alive)](
                                                            const asio::error_code &error, std::size_t lBytes) {
        if (alive.lock() && Fresh(generation)) {
            m_bReading = false;
            ReadArrival(error, lBytes);
        }
    });
}

void cWinsockSlot::WaitWritable()
{
    // Waiting to write, the connection is watched for its peer's news too.
    if (!m_bPeerDone)
        WaitReadable();
    if (!Fresh(m_generation) || !Watch())
        return;
    m_bWriting = true;
    const auto generation = m_generation;
    m_stream.async_wait(asio::posix::stream_descriptor::wait_write, [this, generation](const asio::error_code &error) {
        if (!error && Fresh(generation)) {
            m_bWriting = false;
            Flush();
        }
    });
}

void cWinsockSlot::Keep(const char *data, qsizetype lBytes)
{
    m_tail = (m_tail + QByteArray::fromRawData(data, lBytes).right(4)).right(4);
    m_arrival.append(data, std::min<qsizetype>(lBytes, std::max<qsizetype>(0, kArrivalKept - m_arrival.size())));
}

// The peer is gone: its slot is free again.
void cWinsockSlot::PeerGone()
{
    Close();
    Tag.clear();
}

// Reads on after a full first read, up to the most one arrival takes; false
// when the peer turned out gone and its slot was freed.
bool cWinsockSlot::ReadRest(qsizetype lTotal)
{
    char buffer[16384];
    while (lTotal < kReadPerWake) {
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            lTotal += got;
            Keep(buffer, got);
        } else if (got == 0) {
            m_bPeerDone = true;
            break;
        } else if (errno != EINTR) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            PeerGone();
            return false;
        }
    }
    return true;
}

// One arrival: all the peer has sent so far. Its end of sending is no reason
// to close: a half-closed peer still reads its answer.
void cWinsockSlot::ReadArrival(const asio::error_code &error, std::size_t lBytes)
{
    if (error == asio::error::eof) {
        m_bPeerDone = true;
    } else if (error) {
        PeerGone();
        return;
    }
    Keep(m_firstRead.data(), qsizetype(lBytes));
    // A full first read may have left more behind.
    if (lBytes == m_firstRead.size() && !ReadRest(qsizetype(lBytes)))
        return;
    // The end of the peer's sending is told too: a request cut short can be
    // decided now.
    const auto generation = m_generation;
    if ((lBytes > 0 || m_bPeerDone) && DataArrival)
        DataArrival(m_lIndex);
    // A connection not yet watched with its answer under way is heard again
    // once the answer has left, or has to wait.
    if (Fresh(generation) && !m_bPeerDone && (Idle() || m_stream.is_open()))
        WaitReadable();
}

void cWinsockSlot::Flush()
{
    if (m_bWriting)
        return;
    while (!m_queue.empty()) {
        const ssize_t sent = SendSome();
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            WaitWritable();
            return;
        }
        if (sent < 0) {
            PeerGone();
            return;
        }
        Sent(sent);
    }
    if (m_bCompletePending) {
        m_bCompletePending = false;
        const auto generation = m_generation;
        if (SendComplete)
            SendComplete(m_lIndex);
        // Still open (a stream, or a request that waits): its peer is heard again.
        if (Fresh(generation) && !m_bPeerDone && Idle())
            WaitReadable();
    }
}

// Pieces of a sealed file go with sendfile, the kernel reading the file
// itself; pieces in memory go together in one sendmsg.
ssize_t cWinsockSlot::SendSome()
{
    const AnswerPiece &front = m_queue.front();
    if (const int file = front.body->File(); file >= 0) {
        qsizetype length = 0;
        for (auto it = m_queue.begin(); it != m_queue.end() && it->body == front.body && length < kFileBytesPerSend; ++it)
            length += it->length;
        off_t offset = front.offset;
        return ::sendfile(m_fd, file, &offset, size_t(std::min(length, kFileBytesPerSend)));
    }
    iovec pieces[kPiecesPerSend];
    int count = 0;
    for (auto it = m_queue.begin(); it != m_queue.end() && count < kPiecesPerSend && it->body->File() < 0; ++it)
        pieces[count++] = {const_cast<char *>(it->body->Data() + it->offset), size_t(it->length)};
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = size_t(count);
    // A head followed by its picture leaves in the same packets as the picture.
    const int more = count < qsizetype(m_queue.size()) ? MSG_MORE : 0;
    return ::sendmsg(m_fd, &message, MSG_NOSIGNAL | more);
}

void cWinsockSlot::Sent(qsizetype lBytes)
{
    // A live stream moves when a part begins (its viewer took the last
    // one), not when a few bytes of a part go out.
    if (!Streaming)
        Progress();
    m_unsent -= lBytes;
    while (lBytes > 0) {
        AnswerPiece &front = m_queue.front();
        const qsizetype used = std::min(lBytes, front.length);
        front.offset += used;
        front.length -= used;
        lBytes -= used;
        if (front.length == 0) {
            m_answersQueued -= front.endsAnswer ? 1 : 0;
            m_queue.pop_front();
        }
    }
}

cWinsockArray::cWinsockArray(asio::io_context &context) : m_context(context), m_lingering(context)
{
    Load(0);
}

bool cWinsockArray::Load(int lIndex)
{
    if (lIndex < 0 || Item(lIndex))
        return false;
    if (lIndex >= int(m_slots.size()))
        m_slots.resize(size_t(lIndex) + 1);
    auto slot = std::make_unique<cWinsockSlot>(m_context, lIndex, &m_lingering);
    slot->DataArrival = [this](int i) {
        if (DataArrival)
            DataArrival(i);
    };
    slot->SendComplete = [this](int i) {
        if (SendComplete)
            SendComplete(i);
    };
    slot->FreeChanged = [this](int i, bool bFree) {
        if (bFree)
            m_free.insert(i);
        else
            m_free.erase(i);
    };
    m_slots[size_t(lIndex)] = std::move(slot);
    m_free.insert(lIndex);
    return true;
}

bool cWinsockArray::Unload(int lIndex)
{
    if (lIndex == 0 || !Item(lIndex))
        return false;
    m_slots[size_t(lIndex)].reset();
    m_free.erase(lIndex);
    while (!m_slots.empty() && !m_slots.back())
        m_slots.pop_back();
    return true;
}

cWinsockSlot *cWinsockArray::LowestFree(int lLast) const
{
    return m_free.empty() || *m_free.begin() > lLast ? nullptr : Item(*m_free.begin());
}

cWinsockSlot *cWinsockArray::Item(int lIndex) const
{
    return lIndex >= 0 && lIndex < int(m_slots.size()) ? m_slots[size_t(lIndex)].get() : nullptr;
}
