// Hostile clients against the picture server, measured by what a well-behaved
// client still gets meanwhile.
//
// This program starts `vorsk --headless` on settings of its own (a temporary
// HOME and TMPDIR, connection limit 200, a still test picture without a
// caption, so every answer has the same bytes), pinned to core 0, and loads it
// from core 1, all from 127.0.0.1. For the given seconds it runs one attack
// while a good client asks for the picture every 200 ms; an attempt succeeds
// when the whole picture (as many bytes as a fetch before the attack gave)
// arrives within 5 s. It reports, on one line: the attack, the good client's
// success share and its failures by kind, vorsk's RSS and descriptors before
// the attack, at the peak (every 200 ms from /proc) and 5 s after it, vorsk's
// side of the connections half a second before the attack ends (held by it,
// not yet accepted, closed by it with bytes still queued), how vorsk ended on
// SIGTERM, and the attack's own counts; then vorsk's stderr.
//
//   attack_bench <vorsk> <attack> [seconds, 30 unless given]
//
// nonreaders   250 clients send GET and never read a 4.7 MB picture (noise,
//              3000 x 2000), each reconnecting every 25 s
// slowviewers  300 viewers of /stream reading 1 KB a second (HTTP headers on)
// fastviewers  300 viewers of /stream reading all they get (HTTP headers on, 320 x 240)
// flood        connect and close as fast as two threads can
// storm        1300 sockets that connect, send GET, close and reconnect at once
// slowloris    500 connections sending "G", then the rest of the request one
//              byte a second; slowloris1000 and slowloris2500 with more
// lingering    1200 peers that send GET and after their answer a byte every
//              100 ms until vorsk closes, then reconnect; vorsk at 1024
//              descriptors
// none         no attack
#include "mBenchSupport.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kVorskCore = 0;
constexpr int kLoadCore = 1;
constexpr auto kGoodPace = 200ms;
constexpr auto kGoodTimeout = 5s;
constexpr auto kAfter = 5s;
constexpr auto kSamplePace = 200ms;
constexpr auto kConnectTimeout = 2s;
constexpr int kConnectionLimit = 200;
constexpr std::string_view kRequest = "GET / HTTP/1.0\r\n\r\n";
constexpr std::string_view kHttpRequest = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
constexpr std::string_view kStreamRequest = "GET /stream HTTP/1.1\r\nHost: x\r\n\r\n";

// ---------------------------------------------------------------- sockets

// A non-blocking TCP socket connecting to 127.0.0.1:port; -errno when even
// the start failed.
int StartConnect(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -errno;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
        const int error = errno;
        close(fd);
        return -error;
    }
    return fd;
}

int SocketError(int fd)
{
    int error = 0;
    socklen_t size = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 ? error : errno;
}

// The whole of a short text, or false; never SIGPIPE.
bool SendAll(int fd, std::string_view text)
{
    return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}



void RaiseFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}


// ---------------------------------------------------------------- the good client

enum class Outcome { Pending, Ok, Connect, NoByte, Reset, Short, Bad, Timeout };
constexpr std::size_t kOutcomes = 8;
constexpr std::array<const char *, kOutcomes> kOutcomeNames = {"pending", "ok",    "connect", "nobyte",
                                                               "reset",   "short", "bad",     "timeout"};

// One request of the good client: connect, send, read the answer. Header-less,
// the answer is the picture up to the close; with HTTP headers, a 200 whose
// body is as long as its Content-Length. With an expected size, the body must
// have it too.
class Fetch {
public:
    Fetch(int port, bool http, long long expected) : port_(port), http_(http), expected_(expected) {}
    ~Fetch() { CloseSocket(); }
    Fetch(const Fetch &) = delete;
    Fetch &operator=(const Fetch &) = delete;

    void Start(int epoll)
    {
        started_ = Clock::now();
        fd_ = StartConnect(port_);
        if (fd_ < 0)
            return Finish(Outcome::Connect);
        epoll_event event{EPOLLOUT, {.ptr = this}};
        if (epoll_ctl(epoll, EPOLL_CTL_ADD, fd_, &event) != 0)
            Finish(Outcome::Connect);
    }

    void OnEvent(int epoll, std::uint32_t events)
    {
        if (sent_)
            ReadAnswer();
        else
            SendRequest(epoll, events);
    }

    void Expire(Clock::time_point now)
    {
        if (outcome_ == Outcome::Pending && now - started_ > kGoodTimeout)
            Finish(Outcome::Timeout);
    }

    Outcome Result() const { return outcome_; }
    long long Body() const { return body_; }
    double Milliseconds() const { return std::chrono::duration<double, std::milli>(ended_ - started_).count(); }
    bool Jpeg() const { return first_.size() == 2 && first_[0] == '\xff' && first_[1] == '\xd8'; }

private:
    void SendRequest(int epoll, std::uint32_t events)
    {
        if ((events & (EPOLLERR | EPOLLHUP)) && SocketError(fd_) != 0)
            return Finish(Outcome::Connect);
        if (!SendAll(fd_, http_ ? kHttpRequest : kRequest))
            return Finish(Outcome::Reset);
        sent_ = true;
        epoll_event event{EPOLLIN | EPOLLRDHUP, {.ptr = this}};
        if (epoll_ctl(epoll, EPOLL_CTL_MOD, fd_, &event) != 0)
            Finish(Outcome::Reset);
    }

    void ReadAnswer()
    {
        std::array<char, 65536> buffer;
        while (outcome_ == Outcome::Pending) {
            const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
            if (n < 0 && errno == EAGAIN)
                return;
            if (n < 0)
                return Finish(received_ ? Outcome::Reset : Outcome::NoByte);
            if (n == 0)
                return Finish(Judge(true));
            received_ += n;
            const Outcome outcome = Take(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
            if (outcome != Outcome::Pending)
                Finish(outcome);
        }
    }

    // With HTTP headers the head is kept until its blank line.
    Outcome Take(std::string_view data)
    {
        if (!http_ || headDone_) {
            if (first_.size() < 2)
                first_.append(data.substr(0, 2 - first_.size()));
            body_ += static_cast<long long>(data.size());
            return Judge(false);
        }
        head_.append(data);
        const std::size_t end = head_.find("\r\n\r\n");
        if (end == std::string::npos)
            return head_.size() > 16384 ? Outcome::Bad : Outcome::Pending;
        headDone_ = true;
        if (!ParseHead(std::string_view(head_).substr(0, end)))
            return Outcome::Bad;
        const std::string rest = head_.substr(end + 4);
        head_.clear();
        return Take(rest);
    }

    bool ParseHead(std::string_view head)
    {
        if (!head.starts_with("HTTP/1.1 200 "))
            return false;
        constexpr std::string_view kLength = "\r\nContent-Length: ";
        const std::size_t at = head.find(kLength);
        if (at == std::string_view::npos)
            return false;
        const char *begin = head.data() + at + kLength.size();
        return std::from_chars(begin, head.data() + head.size(), length_).ec == std::errc();
    }

    // Header-less, judged at the close; with HTTP headers, as soon as the
    // body is as long as the head said.
    Outcome Judge(bool closed) const
    {
        if (http_ && !headDone_)
            return closed ? (received_ ? Outcome::Short : Outcome::NoByte) : Outcome::Pending;
        if (!http_ && closed && !received_)
            return Outcome::NoByte;
        const long long wanted = http_ ? length_ : expected_;
        if ((wanted >= 0 && body_ > wanted) || (http_ && expected_ >= 0 && length_ != expected_))
            return Outcome::Bad;
        if (http_ && body_ == wanted)
            return Outcome::Ok;
        if (closed)
            return wanted < 0 || body_ == wanted ? Outcome::Ok : Outcome::Short;
        return Outcome::Pending;
    }

    void Finish(Outcome outcome)
    {
        outcome_ = outcome;
        ended_ = Clock::now();
        CloseSocket();
    }

    void CloseSocket()
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

    int port_;
    bool http_;
    long long expected_;
    int fd_ = -1;
    Outcome outcome_ = Outcome::Pending;
    bool sent_ = false;
    bool headDone_ = false;
    long long received_ = 0;
    long long body_ = 0;
    long long length_ = -1;
    std::string head_;
    std::string first_;
    Clock::time_point started_, ended_;
};

struct GoodResults {
    std::array<long, kOutcomes> counts{};
    std::vector<double> milliseconds;

    long Attempts() const
    {
        long total = 0;
        for (long count : counts)
            total += count;
        return total;
    }
    long Count(Outcome outcome) const { return counts[static_cast<std::size_t>(outcome)]; }
};

// A fetch started every `pace` until `end`, whatever earlier ones are doing:
// a stalled server costs attempts rather than hiding them. Those under way at
// the end are finished.
GoodResults RunFetches(int port, bool http, long long expected, Clock::duration pace, Clock::time_point end)
{
    GoodResults results;
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    if (epoll < 0)
        return results;
    std::vector<std::unique_ptr<Fetch>> active;
    auto next = Clock::now();
    bool more = true;
    while (more || !active.empty()) {
        if (more && Clock::now() >= next) {
            active.push_back(std::make_unique<Fetch>(port, http, expected));
            active.back()->Start(epoll);
            next += pace;
            more = next < end;
        }
        std::array<epoll_event, 64> events;
        const int n = epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 10);
        for (int i = 0; i < n; ++i)
            static_cast<Fetch *>(events[static_cast<std::size_t>(i)].data.ptr)
                ->OnEvent(epoll, events[static_cast<std::size_t>(i)].events);
        const auto now = Clock::now();
        std::erase_if(active, [&](const std::unique_ptr<Fetch> &fetch) {
            fetch->Expire(now);
            if (fetch->Result() == Outcome::Pending)
                return false;
            ++results.counts[static_cast<std::size_t>(fetch->Result())];
            if (fetch->Result() == Outcome::Ok)
                results.milliseconds.push_back(fetch->Milliseconds());
            return true;
        });
    }
    close(epoll);
    return results;
}

// The picture before the attack: its size, or nothing within ten seconds.
std::optional<long long> FirstFetch(int port, bool http)
{
    const auto give_up = Clock::now() + 10s;
    while (Clock::now() < give_up) {
        const int epoll = epoll_create1(EPOLL_CLOEXEC);
        if (epoll < 0)
            return std::nullopt;
        Fetch fetch(port, http, -1);
        fetch.Start(epoll);
        while (fetch.Result() == Outcome::Pending) {
            epoll_event event{};
            if (epoll_wait(epoll, &event, 1, 100) == 1)
                fetch.OnEvent(epoll, event.events);
            fetch.Expire(Clock::now());
        }
        close(epoll);
        if (fetch.Result() == Outcome::Ok && fetch.Jpeg())
            return fetch.Body();
        std::this_thread::sleep_for(200ms);
    }
    return std::nullopt;
}

double Percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    const auto rank = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank), values.end());
    return values[rank];
}

// ---------------------------------------------------------------- attacks

class Attack {
public:
    virtual ~Attack() = default;
    // Runs until `end`, then closes every socket it holds.
    virtual void Run(Clock::time_point end) = 0;
    virtual std::string Counts(double seconds) const = 0;
};

constexpr auto kNever = Clock::time_point::max();

enum class Phase { Idle, Connecting, Holding, Trickling, Reading, Lingering };

struct Peer {
    int fd = -1;
    Phase phase = Phase::Idle;
    Clock::time_point since;
    Clock::time_point due;
    std::size_t sent = 0;
    long long received = 0;
};

// Many peers on one epoll, each a small state machine: it connects (2 s at
// most), then the attack decides on its events and at its due times. A peer
// is only ever reconnected in the sweep of due times, after the events of a
// wait were handled, so no event of an old socket reaches its new one.
class PeerAttack : public Attack {
public:
    PeerAttack(int port, std::size_t peers) : port_(port), peers_(peers) {}

    void Run(Clock::time_point end) override
    {
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0)
            return;
        for (Peer &peer : peers_)
            Open(peer);
        std::vector<epoll_event> events(peers_.size());
        while (Clock::now() < end) {
            const int n = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 10);
            for (int i = 0; i < n; ++i)
                Dispatch(*static_cast<Peer *>(events[static_cast<std::size_t>(i)].data.ptr),
                         events[static_cast<std::size_t>(i)].events);
            Sweep();
        }
        for (Peer &peer : peers_)
            Close(peer);
        close(epoll_);
    }

protected:
    virtual void OnConnected(Peer &peer) = 0;
    virtual void OnReadable(Peer &) {}
    virtual void OnDue(Peer &) {}
    // The socket failed or was shut both ways; by default the peer comes back.
    virtual void OnLost(Peer &peer) { Drop(peer, Clock::now()); }

    // Sends the request; from then on the peer reads what comes.
    void Ask(Peer &peer, std::string_view request)
    {
        SendAll(peer.fd, request);
        peer.phase = Phase::Reading;
        peer.due = kNever;
        Watch(peer, EPOLLIN | EPOLLRDHUP);
    }

    enum class ReadEnd { Drained, Closed, Failed };
    // Reads all that has come, counting it into `bytes`.
    static ReadEnd ReadArrived(int fd, long long &bytes)
    {
        std::array<char, 65536> buffer;
        for (;;) {
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n > 0)
                bytes += n;
            else if (n < 0 && errno == EAGAIN)
                return ReadEnd::Drained;
            else
                return n == 0 ? ReadEnd::Closed : ReadEnd::Failed;
        }
    }

    void Watch(Peer &peer, std::uint32_t events)
    {
        epoll_event event{events, {.ptr = &peer}};
        epoll_ctl(epoll_, EPOLL_CTL_MOD, peer.fd, &event);
    }

    // Closes the socket; the peer connects again at `again`.
    void Drop(Peer &peer, Clock::time_point again)
    {
        Close(peer);
        peer.phase = Phase::Idle;
        peer.due = again;
    }

    std::string BaseCounts() const
    {
        return "connects=" + std::to_string(connects_) + " connect_errors=" + std::to_string(connectErrors_) +
               " connect_timeouts=" + std::to_string(connectTimeouts_);
    }

    long Connects() const { return connects_; }

private:
    void Open(Peer &peer)
    {
        const auto now = Clock::now();
        peer = Peer{};
        peer.since = now;
        peer.fd = StartConnect(port_);
        epoll_event event{EPOLLOUT, {.ptr = &peer}};
        if (peer.fd < 0 || epoll_ctl(epoll_, EPOLL_CTL_ADD, peer.fd, &event) != 0) {
            // Out of ports or descriptors: try again shortly rather than spin.
            ++connectErrors_;
            return Drop(peer, now + 10ms);
        }
        peer.phase = Phase::Connecting;
        peer.due = now + kConnectTimeout;
    }

    void Close(Peer &peer)
    {
        if (peer.fd >= 0)
            close(peer.fd);
        peer.fd = -1;
    }

    void Dispatch(Peer &peer, std::uint32_t events)
    {
        if (peer.fd < 0)
            return;
        if (peer.phase == Phase::Connecting) {
            if (SocketError(peer.fd) != 0) {
                ++connectErrors_;
                return Drop(peer, Clock::now() + 10ms);
            }
            ++connects_;
            return OnConnected(peer);
        }
        if (events & EPOLLIN)
            return OnReadable(peer);
        if (events & (EPOLLERR | EPOLLHUP | EPOLLRDHUP))
            OnLost(peer);
    }

    void Sweep()
    {
        const auto now = Clock::now();
        for (Peer &peer : peers_) {
            if (peer.due > now)
                continue;
            if (peer.phase == Phase::Idle)
                Open(peer);
            else if (peer.phase == Phase::Connecting) {
                ++connectTimeouts_;
                Drop(peer, now);
            }
            else
                OnDue(peer);
        }
    }

    int port_;
    int epoll_ = -1;
    std::vector<Peer> peers_;
    long connects_ = 0;
    long connectErrors_ = 0;
    long connectTimeouts_ = 0;
};


// Clients that ask for a big picture and never read it, each giving up and
// asking again 25 s after it connected.
class NonReaders : public PeerAttack {
public:
    explicit NonReaders(int port) : PeerAttack(port, 250) {}

    std::string Counts(double) const override { return BaseCounts() + " reset=" + std::to_string(reset_); }

private:
    static constexpr auto kHold = 25s;

    void OnConnected(Peer &peer) override
    {
        SendAll(peer.fd, kRequest);
        peer.phase = Phase::Holding;
        peer.due = peer.since + kHold;
        Watch(peer, 0);
    }

    void OnDue(Peer &peer) override { Drop(peer, Clock::now()); }

    void OnLost(Peer &peer) override
    {
        ++reset_;
        Drop(peer, peer.since + kHold);
    }

    long reset_ = 0;
};

// Viewers of the live stream on a slow line: 1 KB a second. A viewer that
// vorsk lets go comes back a second later, as a page reloading its stream.
class SlowViewers : public PeerAttack {
public:
    explicit SlowViewers(int port) : PeerAttack(port, 300) {}

    std::string Counts(double) const override
    {
        return BaseCounts() + " let_go=" + std::to_string(letGo_) + " kb_read=" + std::to_string(bytes_ / 1024);
    }

private:
    void OnConnected(Peer &peer) override
    {
        SendAll(peer.fd, kStreamRequest);
        peer.phase = Phase::Reading;
        peer.due = Clock::now() + 1s;
        Watch(peer, 0);
    }

    void OnDue(Peer &peer) override
    {
        std::array<char, 1024> buffer;
        const ssize_t n = recv(peer.fd, buffer.data(), buffer.size(), 0);
        if (n == 0 || (n < 0 && errno != EAGAIN))
            return OnLost(peer);
        bytes_ += std::max<ssize_t>(n, 0);
        peer.due += 1s;
    }

    void OnLost(Peer &peer) override
    {
        ++letGo_;
        Drop(peer, Clock::now() + 1s);
    }

    long letGo_ = 0;
    long long bytes_ = 0;
};

// Viewers of the live stream reading all they get as fast as they can, from
// one address; one that vorsk lets go comes back at once.
class FastViewers : public PeerAttack {
public:
    explicit FastViewers(int port) : PeerAttack(port, 300) {}

    std::string Counts(double seconds) const override
    {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.1f", static_cast<double>(bytes_) / 1e6 / seconds);
        return BaseCounts() + " let_go=" + std::to_string(letGo_) + " mb_per_s=" + rate;
    }

private:
    void OnConnected(Peer &peer) override { Ask(peer, kStreamRequest); }

    void OnReadable(Peer &peer) override
    {
        if (ReadArrived(peer.fd, bytes_) != ReadEnd::Drained)
            OnLost(peer);
    }

    void OnLost(Peer &peer) override
    {
        ++letGo_;
        Drop(peer, Clock::now());
    }

    long letGo_ = 0;
    long long bytes_ = 0;
};

// Sockets that connect, send GET, close at once and connect again.
class Storm : public PeerAttack {
public:
    explicit Storm(int port) : PeerAttack(port, 1300) {}

    std::string Counts(double seconds) const override
    {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.0f", static_cast<double>(Connects()) / seconds);
        return BaseCounts() + " connects_per_s=" + rate;
    }

private:
    void OnConnected(Peer &peer) override
    {
        SendAll(peer.fd, kRequest);
        Drop(peer, Clock::now());
    }
};

// Connections sending the request a byte a second, reading whatever comes;
// when vorsk closes one, it comes back at once.
class SlowLoris : public PeerAttack {
public:
    SlowLoris(int port, std::size_t peers) : PeerAttack(port, peers) {}

    std::string Counts(double) const override
    {
        return BaseCounts() + " answered=" + std::to_string(answered_) +
               " closed_unanswered=" + std::to_string(unanswered_) +
               " closed_midway=" + std::to_string(midway_);
    }

private:
    void OnConnected(Peer &peer) override
    {
        peer.phase = Phase::Trickling;
        Watch(peer, EPOLLIN | EPOLLRDHUP);
        OnDue(peer);
    }

    void OnDue(Peer &peer) override
    {
        if (peer.sent == kRequest.size()) {
            peer.due = kNever;
            return;
        }
        if (!SendAll(peer.fd, kRequest.substr(peer.sent, 1)))
            return OnLost(peer);
        ++peer.sent;
        peer.due = Clock::now() + 1s;
    }

    void OnReadable(Peer &peer) override
    {
        std::array<char, 65536> buffer;
        for (;;) {
            const ssize_t n = recv(peer.fd, buffer.data(), buffer.size(), 0);
            if (n > 0)
                peer.received += n;
            else if (n < 0 && errno == EAGAIN)
                return;
            else
                return OnLost(peer);
        }
    }

    void OnLost(Peer &peer) override
    {
        if (peer.received > 0)
            ++answered_;
        else if (peer.sent < kRequest.size())
            ++midway_;
        else
            ++unanswered_;
        Drop(peer, Clock::now());
    }

    long answered_ = 0;
    long unanswered_ = 0;
    long midway_ = 0;
};

// Peers that ask, read their answer, then go on sending a byte every 100 ms
// until vorsk closes, and connect again.
class Lingering : public PeerAttack {
public:
    Lingering(int port, long long picture) : PeerAttack(port, 1200), picture_(picture) {}

    std::string Counts(double) const override
    {
        return BaseCounts() + " whole=" + std::to_string(whole_) + " empty=" + std::to_string(empty_) +
               " short=" + std::to_string(short_) + " reset_while_reading=" + std::to_string(reset_) +
               " lingered_ms_mean=" + std::to_string(lingerings_ ? lingeredMs_ / lingerings_ : 0);
    }

private:
    static constexpr auto kPace = 100ms;

    void OnConnected(Peer &peer) override { Ask(peer, kRequest); }

    void OnReadable(Peer &peer) override
    {
        const ReadEnd end = ReadArrived(peer.fd, peer.received);
        if (end == ReadEnd::Closed)
            Answered(peer);
        else if (end == ReadEnd::Failed)
            OnLost(peer);
    }

    void Answered(Peer &peer)
    {
        if (peer.received == picture_)
            ++whole_;
        else if (peer.received == 0)
            ++empty_;
        else
            ++short_;
        peer.phase = Phase::Lingering;
        peer.since = Clock::now();
        Watch(peer, 0);
        OnDue(peer);
    }

    void OnDue(Peer &peer) override
    {
        if (!SendAll(peer.fd, "x"))
            return OnLost(peer);
        peer.due = Clock::now() + kPace;
    }

    void OnLost(Peer &peer) override
    {
        const auto now = Clock::now();
        if (peer.phase == Phase::Lingering) {
            lingeredMs_ += std::chrono::duration_cast<std::chrono::milliseconds>(now - peer.since).count();
            ++lingerings_;
        }
        else
            ++reset_;
        Drop(peer, now);
    }

    long long picture_;
    long whole_ = 0;
    long empty_ = 0;
    long short_ = 0;
    long reset_ = 0;
    long long lingeredMs_ = 0;
    long lingerings_ = 0;
};

// Connect and close, as fast as two threads can; a connection that takes
// longer than 100 ms is given up.
class Flood : public Attack {
public:
    explicit Flood(int port) : port_(port) {}

    void Run(Clock::time_point end) override
    {
        std::thread other([this, end] { Loop(end); });
        Loop(end);
        other.join();
    }

    std::string Counts(double seconds) const override
    {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.0f", static_cast<double>(connects_.load()) / seconds);
        return "connects=" + std::to_string(connects_.load()) + " connects_per_s=" + rate +
               " connect_errors=" + std::to_string(errors_.load()) +
               " connect_timeouts=" + std::to_string(timeouts_.load());
    }

private:
    void Loop(Clock::time_point end)
    {
        long connects = 0, errors = 0, timeouts = 0;
        while (Clock::now() < end) {
            const int fd = StartConnect(port_);
            if (fd < 0) {
                ++errors;
                std::this_thread::sleep_for(1ms);
                continue;
            }
            pollfd wait{fd, POLLOUT, 0};
            const int ready = poll(&wait, 1, 100);
            if (ready == 1 && SocketError(fd) == 0)
                ++connects;
            else if (ready == 1)
                ++errors;
            else
                ++timeouts;
            close(fd);
        }
        connects_ += connects;
        errors_ += errors;
        timeouts_ += timeouts;
    }

    int port_;
    std::atomic<long> connects_{0}, errors_{0}, timeouts_{0};
};

// ---------------------------------------------------------------- vorsk

struct Setup {
    int width = 640;
    int height = 480;
    int quality = 75;
    const char *pattern = "smpte";
    bool headers = false;
    int fileLimit = 0;
};

struct AttackKind {
    const char *name;
    Setup setup;
};

// The non-readers' picture: still noise at quality 90, about 4.7 MB.
const std::array<AttackKind, 10> kAttacks = {{
    {"nonreaders", {3000, 2000, 90, "snow", false, 0}},
    {"slowviewers", {640, 480, 75, "smpte", true, 0}},
    {"fastviewers", {320, 240, 75, "smpte", true, 0}},
    {"flood", {}},
    {"storm", {}},
    {"slowloris", {}},
    {"slowloris1000", {}},
    {"slowloris2500", {}},
    {"lingering", {640, 480, 75, "smpte", false, 1024}},
    {"none", {}},
}};

std::unique_ptr<Attack> MakeAttack(std::string_view name, int port, long long picture)
{
    if (name == "nonreaders")
        return std::make_unique<NonReaders>(port);
    if (name == "slowviewers")
        return std::make_unique<SlowViewers>(port);
    if (name == "flood")
        return std::make_unique<Flood>(port);
    if (name == "storm")
        return std::make_unique<Storm>(port);
    if (name == "fastviewers")
        return std::make_unique<FastViewers>(port);
    if (name == "slowloris")
        return std::make_unique<SlowLoris>(port, 500);
    if (name == "slowloris1000")
        return std::make_unique<SlowLoris>(port, 1000);
    if (name == "slowloris2500")
        return std::make_unique<SlowLoris>(port, 2500);
    if (name == "lingering")
        return std::make_unique<Lingering>(port, picture);
    return nullptr;
}

struct Sample {
    double rssMb = 0;
    long fds = 0;
};

std::optional<Sample> SampleOf(pid_t pid)
{
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream status(proc + "/status");
    std::string line;
    std::optional<Sample> sample;
    while (std::getline(status, line))
        if (line.starts_with("VmRSS:"))
            sample = Sample{std::strtod(line.c_str() + 6, nullptr) / 1024.0, 0};
    DIR *dir = sample ? opendir((proc + "/fd").c_str()) : nullptr;
    if (!dir)
        return std::nullopt;
    while (const dirent *entry = readdir(dir))
        sample->fds += entry->d_name[0] != '.';
    closedir(dir);
    return sample;
}

// Vorsk's side of the connections to its port, from the kernel's tables:
// the sockets it holds, those not yet accepted, and those it closed whose last
// bytes (or close) the peer has not taken yet, which cost kernel memory but
// neither a descriptor nor RSS of vorsk's.
struct ServerSide {
    long held = 0;
    long unaccepted = 0;
    long orphaned = 0;
};

ServerSide ServerSideOf(int port)
{
    enum { kEstablished = 1, kSynReceived = 3, kTimeWait = 6, kCloseWait = 8, kListen = 10 };
    ServerSide side;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream file(table);
        std::string line;
        std::getline(file, line);
        while (std::getline(file, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
            const long localPort = std::strtol(local.substr(local.rfind(':') + 1).c_str(), nullptr, 16);
            const long st = std::strtol(state.c_str(), nullptr, 16);
            if (localPort != port || st == kListen || st == kTimeWait)
                continue;
            if (inode != "0")
                ++side.held;
            else if (st == kEstablished || st == kSynReceived || st == kCloseWait)
                ++side.unaccepted;
            else
                ++side.orphaned;
        }
    }
    return side;
}

std::string ReadText(const std::filesystem::path &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// A vorsk of its own, in a temporary folder that goes with it.
class Vorsk {
public:
    Vorsk()
    {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/attack_bench.XXXXXX";
        if (mkdtemp(pattern.data()))
            dir_ = pattern;
    }
    ~Vorsk()
    {
        if (pid_ > 0)
            Stop();
        std::error_code ignored;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, ignored);
    }
    Vorsk(const Vorsk &) = delete;
    Vorsk &operator=(const Vorsk &) = delete;

    bool Start(const std::string &program, int port, const Setup &setup)
    {
        if (dir_.empty())
            return false;
        for (const char *sub : {"home", "tmp", "run"})
            mkdir((dir_ / sub).c_str(), 0700);
        std::ofstream(dir_ / "vorsk.conf") << "[prefs]\nport=" << port << "\nwidth=" << setup.width
                                           << "\nheight=" << setup.height << "\ninterval=1\nmaxcon="
                                           << kConnectionLimit << "\nquality=" << setup.quality
                                           << "\nimagetext=\n[server]\nheaders="
                                           << (setup.headers ? "True" : "False") << "\n";
        std::vector<std::string> environment = Environment(setup);
        std::vector<std::string> arguments = {program, "--headless", "--config", (dir_ / "vorsk.conf").string()};
        pid_ = Spawn(arguments, environment, setup.fileLimit);
        return pid_ > 0;
    }

    // Waits up to 15 s for "serving on port" on its stdout.
    bool WaitServing()
    {
        for (int i = 0; i < 150; ++i) {
            if (ReadText(dir_ / "stdout").find("serving on port") != std::string::npos)
                return true;
            if (!Running())
                return false;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    bool Running()
    {
        if (pid_ <= 0)
            return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) != pid_)
            return true;
        ended_ = Describe(status);
        pid_ = -1;
        return false;
    }

    // SIGTERM, 5 s for it to end, then SIGKILL; how it ended.
    std::string Stop()
    {
        if (!Running())
            return ended_.empty() ? "not-started" : "died-before-stop(" + ended_ + ")";
        kill(pid_, SIGTERM);
        for (int i = 0; i < 50 && Running(); ++i)
            std::this_thread::sleep_for(100ms);
        if (!Running())
            return ended_;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return "hung-on-SIGTERM";
    }

    pid_t Pid() const { return pid_; }
    std::string Stderr() const { return ReadText(dir_ / "stderr"); }

private:
    std::vector<std::string> Environment(const Setup &setup) const
    {
        std::vector<std::string> environment;
        for (char **entry = environ; *entry; ++entry) {
            const std::string_view text(*entry);
            const std::string_view name = text.substr(0, text.find('='));
            if (name != "HOME" && name != "TMPDIR" && name != "XDG_RUNTIME_DIR" && name != "VORSK_CAMERA" &&
                !name.starts_with("XDG_CONFIG") && !name.starts_with("XDG_CACHE") && !name.starts_with("XDG_DATA"))
                environment.emplace_back(text);
        }
        environment.push_back("HOME=" + (dir_ / "home").string());
        environment.push_back("TMPDIR=" + (dir_ / "tmp").string());
        environment.push_back("XDG_RUNTIME_DIR=" + (dir_ / "run").string());
        // One frame of the test source, repeated: every capture has the same bytes.
        environment.push_back("VORSK_CAMERA=gst:videotestsrc pattern=" + std::string(setup.pattern) +
                              " num-buffers=1 ! video/x-raw,width=" + std::to_string(setup.width) +
                              ",height=" + std::to_string(setup.height) +
                              ",framerate=15/1 ! imagefreeze is-live=true");
        return environment;
    }

    // Everything the child needs is made before the fork; between fork and
    // exec it makes system calls only.
    pid_t Spawn(std::vector<std::string> &arguments, std::vector<std::string> &environment, int fileLimit) const
    {
        std::vector<char *> argv, envp;
        for (std::string &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        for (std::string &entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        const std::string out = (dir_ / "stdout").string(), err = (dir_ / "stderr").string();
        cpu_set_t core;
        CPU_ZERO(&core);
        CPU_SET(kVorskCore, &core);
        const rlimit limit{static_cast<rlim_t>(fileLimit), static_cast<rlim_t>(fileLimit)};
        const pid_t pid = fork();
        if (pid != 0)
            return pid;
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (outFd < 0 || errFd < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0)
            _exit(127);
        if (fileLimit > 0 && setrlimit(RLIMIT_NOFILE, &limit) != 0)
            _exit(127);
        sched_setaffinity(0, sizeof core, &core);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }

    static std::string Describe(int status)
    {
        if (WIFEXITED(status))
            return "exit" + std::to_string(WEXITSTATUS(status));
        if (WIFSIGNALED(status))
            return std::string("signal-") + sigabbrev_np(WTERMSIG(status));
        return "?";
    }

    std::filesystem::path dir_;
    pid_t pid_ = -1;
    std::string ended_;
};

// ---------------------------------------------------------------- the run

struct Measures {
    std::optional<Sample> before, peak, after;

    void AddPeak(const std::optional<Sample> &sample)
    {
        if (!sample)
            return;
        if (!peak)
            peak = sample;
        peak->rssMb = std::max(peak->rssMb, sample->rssMb);
        peak->fds = std::max(peak->fds, sample->fds);
    }
};

// Samples vorsk every 200 ms until `until`.
void SampleUntil(Vorsk &vorsk, Measures &measures, Clock::time_point until)
{
    while (Clock::now() < until) {
        std::this_thread::sleep_for(std::min<Clock::duration>(kSamplePace, until - Clock::now()));
        measures.AddPeak(SampleOf(vorsk.Pid()));
    }
}

std::string Triple(const Measures &m, bool rss)
{
    const auto one = [rss](const std::optional<Sample> &s) {
        char text[32];
        if (!s)
            return std::string("-");
        if (rss)
            std::snprintf(text, sizeof text, "%.1f", s->rssMb);
        else
            std::snprintf(text, sizeof text, "%ld", s->fds);
        return std::string(text);
    };
    return one(m.before) + "/" + one(m.peak) + "/" + one(m.after);
}

void Report(std::string_view attack, long long picture, const GoodResults &good, const Measures &measures,
            const ServerSide &side, const std::string &ended, const std::string &counts)
{
    const long attempts = good.Attempts();
    const long ok = good.Count(Outcome::Ok);
    std::string failures;
    for (std::size_t i = 2; i < kOutcomes; ++i)
        if (good.counts[i])
            failures += std::string(failures.empty() ? "" : ",") + kOutcomeNames[i] + "=" +
                        std::to_string(good.counts[i]);
    std::printf("%-11s success=%5.1f%% good=%ld/%ld fail=[%s] good_p50_ms=%.0f good_p99_ms=%.0f picture=%lld "
                "rss_mb=%s fds=%s near_end(held/unaccepted/orphaned)=%ld/%ld/%ld vorsk=%s | %s\n",
                std::string(attack).c_str(), attempts ? 100.0 * static_cast<double>(ok) / static_cast<double>(attempts) : 0.0,
                ok, attempts, failures.c_str(), Percentile(good.milliseconds, 0.5), Percentile(good.milliseconds, 0.99),
                picture, Triple(measures, true).c_str(), Triple(measures, false).c_str(), side.held, side.unaccepted,
                side.orphaned, ended.c_str(),
                counts.empty() ? "-" : counts.c_str());
}

void PrintStderr(const std::string &text)
{
    std::istringstream lines(text);
    std::string line;
    int shown = 0;
    while (std::getline(lines, line) && shown < 20) {
        std::printf("  vorsk stderr: %s\n", line.c_str());
        ++shown;
    }
}

int Run(const std::string &program, const AttackKind &kind, int seconds)
{
    PinTo(kLoadCore);
    const int port = FreePort();
    Vorsk vorsk;
    if (port < 0 || !vorsk.Start(program, port, kind.setup) || !vorsk.WaitServing()) {
        std::fprintf(stderr, "attack_bench: vorsk did not start serving (%s)\n", vorsk.Stop().c_str());
        PrintStderr(vorsk.Stderr());
        return 1;
    }
    RaiseFileLimit();
    const auto picture = FirstFetch(port, kind.setup.headers);
    if (!picture) {
        std::fprintf(stderr, "attack_bench: no picture from vorsk before the attack\n");
        PrintStderr(vorsk.Stderr());
        return 1;
    }
    Measures measures;
    measures.before = SampleOf(vorsk.Pid());
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    std::unique_ptr<Attack> attack = MakeAttack(kind.name, port, *picture);
    GoodResults good;
    std::thread goodThread([&] { good = RunFetches(port, kind.setup.headers, *picture, kGoodPace, end); });
    std::thread attackThread([&] {
        if (attack)
            attack->Run(end);
    });
    SampleUntil(vorsk, measures, end - 500ms);
    const ServerSide side = ServerSideOf(port);
    SampleUntil(vorsk, measures, end);
    attackThread.join();
    SampleUntil(vorsk, measures, Clock::now() + kAfter);
    measures.after = SampleOf(vorsk.Pid());
    goodThread.join();
    const std::string ended = vorsk.Stop();
    Report(kind.name, *picture, good, measures, side, ended, attack ? attack->Counts(seconds) : "");
    PrintStderr(vorsk.Stderr());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    long long seconds = 30;
    const AttackKind *kind = nullptr;
    if (argc >= 3)
        for (const AttackKind &candidate : kAttacks)
            if (std::string_view(argv[2]) == candidate.name)
                kind = &candidate;
    const bool secondsOk = argc < 4 || (std::from_chars(argv[3], argv[3] + std::strlen(argv[3]), seconds).ec ==
                                            std::errc() &&
                                        seconds >= 1 && seconds <= 600);
    if (!kind || argc > 4 || !secondsOk) {
        std::fprintf(stderr, "usage: attack_bench <vorsk> "
                             "<nonreaders|slowviewers|flood|storm|slowloris|lingering|none> [seconds, 1-600]\n");
        return 2;
    }
    return Run(argv[1], *kind, static_cast<int>(seconds));
}
