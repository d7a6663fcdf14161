// Load program for the picture server: C clients, each connecting, sending one
// "GET / HTTP/1.0" request, reading to the close and checking the byte count.
//   load_vorsk --host H --port P --concurrency C (--requests N | --seconds S) --expect-bytes B [--header-ok]
// With --seconds, clients keep asking for S seconds and the requests under way then are finished.
// With --header-ok everything up to the first blank line (an HTTP header, as
// nginx sends one) is skipped before counting. Prints one line:
//   rps=... p50_ms=... p99_ms=... errors=... (and the kinds of errors)
// and exits 1 when any request failed, 2 on bad arguments.
#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <netdb.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTimeout = std::chrono::seconds(10);
constexpr std::string_view kRequest = "GET / HTTP/1.0\r\n\r\n";

struct Options {
    std::string host = "127.0.0.1";
    std::string port;
    int concurrency = 1;
    long requests = 1000;
    long seconds = 0;
    long long expectBytes = -1;
    bool headerOk = false;
};

bool parseNumber(const char *text, long long min, long long &out)
{
    const std::string_view s(text);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size() && out >= min;
}

std::optional<Options> parseOptions(int argc, char **argv)
{
    Options o;
    long long value = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "--header-ok") {
            o.headerOk = true;
            continue;
        }
        if (i + 1 >= argc)
            return std::nullopt;
        const char *next = argv[++i];
        if (arg == "--host")
            o.host = next;
        else if (arg == "--port" && parseNumber(next, 1, value) && value <= 65535)
            o.port = next;
        else if (arg == "--concurrency" && parseNumber(next, 1, value) && value <= 100000)
            o.concurrency = static_cast<int>(value);
        else if (arg == "--requests" && parseNumber(next, 1, value))
            o.requests = static_cast<long>(value);
        else if (arg == "--seconds" && parseNumber(next, 1, value) && value <= 86400) {
            o.seconds = static_cast<long>(value);
            o.requests = 1L << 40;
        }
        else if (arg == "--expect-bytes" && parseNumber(next, 0, value))
            o.expectBytes = value;
        else
            return std::nullopt;
    }
    if (o.port.empty() || o.expectBytes < 0)
        return std::nullopt;
    return o;
}

void raiseFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::optional<sockaddr_storage> resolve(const Options &o, socklen_t &length)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(o.host.c_str(), o.port.c_str(), &hints, &found) != 0 || !found)
        return std::nullopt;
    sockaddr_storage address{};
    std::memcpy(&address, found->ai_addr, found->ai_addrlen);
    length = found->ai_addrlen;
    freeaddrinfo(found);
    return address;
}

enum class Outcome { Pending, Ok, Refused, Reset, WrongSize, Timeout, Other };
constexpr std::size_t kOutcomes = 7;

// Counts the body bytes of an answer; with a header expected, the bytes up to
// and including the first CR LF CR LF are not counted.
class BodyCounter {
public:
    void reset(bool headerExpected)
    {
        matched_ = headerExpected ? 0 : 4;
        body_ = 0;
    }
    void feed(const char *data, std::size_t size)
    {
        std::size_t i = 0;
        for (; i < size && matched_ < 4; ++i)
            matched_ = data[i] == kBlankLine[matched_] ? matched_ + 1 : (data[i] == '\r' ? 1 : 0);
        body_ += static_cast<long long>(size - i);
    }
    bool matches(long long expected) const { return matched_ == 4 && body_ == expected; }

private:
    static constexpr std::string_view kBlankLine = "\r\n\r\n";
    std::size_t matched_ = 0;
    long long body_ = 0;
};

// One client connection: connect, send the request, read to the close.
class Client {
public:
    // Pending once the connection is under way, otherwise why it failed.
    Outcome start(int epoll, const sockaddr_storage &address, socklen_t length, bool headerOk)
    {
        started_ = Clock::now();
        sent_ = 0;
        counter_.reset(headerOk);
        fd_ = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            return Outcome::Other;
        if (connect(fd_, reinterpret_cast<const sockaddr *>(&address), length) != 0 && errno != EINPROGRESS)
            return failWith(errno);
        epoll_event event{EPOLLOUT, {.ptr = this}};
        return epoll_ctl(epoll, EPOLL_CTL_ADD, fd_, &event) == 0 ? Outcome::Pending : failWith(errno);
    }

    Outcome onEvent(int epoll, std::uint32_t events, long long expected)
    {
        if (sent_ < kRequest.size())
            return sendRequest(epoll, events);
        return readAnswer(expected);
    }

    bool expired(Clock::time_point now) const { return fd_ >= 0 && now - started_ > kTimeout; }
    Clock::time_point started() const { return started_; }
    void closeSocket()
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

private:
    Outcome failWith(int error)
    {
        closeSocket();
        return fromErrno(error);
    }

    static Outcome fromErrno(int error)
    {
        if (error == ECONNREFUSED)
            return Outcome::Refused;
        if (error == ECONNRESET || error == EPIPE)
            return Outcome::Reset;
        return Outcome::Other;
    }

    Outcome sendRequest(int epoll, std::uint32_t events)
    {
        int error = 0;
        socklen_t size = sizeof error;
        if ((events & (EPOLLERR | EPOLLHUP)) && getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error)
            return fromErrno(error);
        const ssize_t n = send(fd_, kRequest.data() + sent_, kRequest.size() - sent_, MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN ? Outcome::Pending : fromErrno(errno);
        sent_ += static_cast<std::size_t>(n);
        if (sent_ < kRequest.size())
            return Outcome::Pending;
        epoll_event event{EPOLLIN | EPOLLRDHUP, {.ptr = this}};
        return epoll_ctl(epoll, EPOLL_CTL_MOD, fd_, &event) == 0 ? Outcome::Pending : Outcome::Other;
    }

    Outcome readAnswer(long long expected)
    {
        std::array<char, 65536> buffer;
        for (;;) {
            const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
            if (n > 0) {
                counter_.feed(buffer.data(), static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0)
                return counter_.matches(expected) ? Outcome::Ok : Outcome::WrongSize;
            return errno == EAGAIN ? Outcome::Pending : fromErrno(errno);
        }
    }

    int fd_ = -1;
    std::size_t sent_ = 0;
    Clock::time_point started_;
    BodyCounter counter_;
};

struct Results {
    std::vector<double> latenciesMs;
    std::array<long, kOutcomes> counts{};
    double seconds = 0;

    long errors() const
    {
        long total = 0;
        for (std::size_t i = 2; i < kOutcomes; ++i)
            total += counts[i];
        return total;
    }
};

// Keeps C clients busy until N requests have been answered or have failed.
class LoadRun {
public:
    LoadRun(const Options &options, const sockaddr_storage &address, socklen_t length)
        : options_(options), address_(address), length_(length),
          clients_(static_cast<std::size_t>(std::min<long>(options.concurrency, options.requests)))
    {
        results_.latenciesMs.reserve(static_cast<std::size_t>(std::min(options.requests, 1L << 20)));
    }
    ~LoadRun()
    {
        for (Client &c : clients_)
            c.closeSocket();
        if (epoll_ >= 0)
            close(epoll_);
    }
    LoadRun(const LoadRun &) = delete;
    LoadRun &operator=(const LoadRun &) = delete;

    std::optional<Results> run()
    {
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0)
            return std::nullopt;
        const auto begin = Clock::now();
        deadline_ = options_.seconds > 0 ? begin + std::chrono::seconds(options_.seconds) : Clock::time_point::max();
        for (Client &c : clients_)
            launch(c);
        std::vector<epoll_event> events(clients_.size());
        while (finished_ < started_) {
            const int n = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 100);
            if (n < 0 && errno != EINTR)
                return std::nullopt;
            for (int i = 0; i < n; ++i) {
                auto *c = static_cast<Client *>(events[static_cast<std::size_t>(i)].data.ptr);
                handle(*c, c->onEvent(epoll_, events[static_cast<std::size_t>(i)].events, options_.expectBytes));
            }
            sweepTimeouts();
        }
        results_.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        return results_;
    }

private:
    // Starts the next request on this client, if any are left; a connection
    // refused at once counts as a failed request and the next one starts.
    void launch(Client &c)
    {
        while (started_ < options_.requests && Clock::now() < deadline_) {
            ++started_;
            const Outcome outcome = c.start(epoll_, address_, length_, options_.headerOk);
            if (outcome == Outcome::Pending)
                return;
            finish(outcome, 0);
        }
    }

    void handle(Client &c, Outcome outcome)
    {
        if (outcome == Outcome::Pending)
            return;
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - c.started()).count();
        c.closeSocket();
        finish(outcome, ms);
        launch(c);
    }

    void finish(Outcome outcome, double ms)
    {
        ++finished_;
        ++results_.counts[static_cast<std::size_t>(outcome)];
        if (outcome == Outcome::Ok)
            results_.latenciesMs.push_back(ms);
    }

    void sweepTimeouts()
    {
        const auto now = Clock::now();
        for (Client &c : clients_)
            if (c.expired(now))
                handle(c, Outcome::Timeout);
    }

    const Options &options_;
    sockaddr_storage address_;
    socklen_t length_;
    std::vector<Client> clients_;
    int epoll_ = -1;
    long started_ = 0;
    long finished_ = 0;
    Clock::time_point deadline_ = Clock::time_point::max();
    Results results_;
};

double percentile(std::vector<double> &values, double share)
{
    if (values.empty())
        return 0;
    const auto rank = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank), values.end());
    return values[rank];
}

void report(const Options &o, Results &r)
{
    const double rps = static_cast<double>(r.counts[static_cast<std::size_t>(Outcome::Ok)]) / r.seconds;
    const double p50 = percentile(r.latenciesMs, 0.50);
    const double p99 = percentile(r.latenciesMs, 0.99);
    const auto count = [&r](Outcome k) { return r.counts[static_cast<std::size_t>(k)]; };
    std::printf("host=%s port=%s c=%d requests=%ld rps=%.0f p50_ms=%.3f p99_ms=%.3f errors=%ld "
                "refused=%ld reset=%ld wrong_size=%ld timeout=%ld other=%ld\n",
                o.host.c_str(), o.port.c_str(), o.concurrency, count(Outcome::Ok) + r.errors(), rps, p50, p99, r.errors(),
                count(Outcome::Refused), count(Outcome::Reset), count(Outcome::WrongSize), count(Outcome::Timeout),
                count(Outcome::Other));
}

} // namespace

int main(int argc, char **argv)
{
    const auto options = parseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr, "usage: load_vorsk --host H --port P --concurrency C (--requests N | --seconds S) "
                             "--expect-bytes B [--header-ok]\n");
        return 2;
    }
    raiseFileLimit();
    socklen_t length = 0;
    const auto address = resolve(*options, length);
    if (!address) {
        std::fprintf(stderr, "load_vorsk: cannot resolve %s:%s\n", options->host.c_str(), options->port.c_str());
        return 2;
    }
    LoadRun load(*options, *address, length);
    auto results = load.run();
    if (!results) {
        std::fprintf(stderr, "load_vorsk: epoll failed: %s\n", std::strerror(errno));
        return 2;
    }
    report(*options, *results);
    return results->errors() > 0 ? 1 : 0;
}
