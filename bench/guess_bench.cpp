// How many guesses of the viewers' password an attacker with many addresses
// still gets from the real program, beside the requests a second the same
// program answers without a password, in the same run.
//
// Starts `vorsk --headless` twice on settings of its own (a temporary HOME and
// TMPDIR, HTTP headers on, the test pattern), pinned to core 0, and loads it
// from core 1 with 32 threads, each request on a connection of its own, each
// address of 127/8 giving one request short of the lock-out before the next
// address is taken. Phases, one line each with answers a second by status and
// vorsk's RSS at the phase's end:
//
//   open      no password: the picture, the reference
//   rotating  with a password: wrong keys, 9 per address
//   fill      one wrong key per fresh address until the record of wrong keys
//             is full (its answers turn 503), at most 90 s
//   full      the record full: 9 wrong keys per fresh address
//
//   guess_bench <vorsk> [seconds a phase, 10 unless given]
#include "mBenchSupport.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kVorskCore = 0;
constexpr int kLoadCore = 1;
constexpr int kThreads = 32;
constexpr int kGuessesPerAddress = 9;
constexpr const char *kPassword = "a-long-Password-nobody-guesses";



// One request from a source address of 127/8; the answer's status, 0 for none.
int Ask(int port, std::uint32_t from, const std::string &request)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in local{}, server{};
    local.sin_family = server.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(from);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server.sin_port = htons(std::uint16_t(port));
    int status = 0;
    char answer[64 * 1024];
    if (bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) == 0 &&
        connect(fd, reinterpret_cast<const sockaddr *>(&server), sizeof server) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
        ssize_t got = recv(fd, answer, sizeof answer - 1, 0);
        if (got >= 12 && std::strncmp(answer, "HTTP/1.1 ", 9) == 0)
            status = std::atoi(answer + 9);
        while (got > 0)
            got = recv(fd, answer, sizeof answer, 0);
    }
    close(fd);
    return status;
}

struct Counts
{
    std::atomic<long> ok{0}, refused{0}, full{0}, other{0};
    void Add(int status)
    {
        (status == 200 ? ok : status == 401 ? refused : status == 503 ? full : other)++;
    }
};

// Asks from fresh addresses, perAddress requests each, until the end or until stop says so.
void Load(int port, bool keyed, int perAddress, std::atomic<std::uint32_t> &next, Counts &counts,
          Clock::time_point end, const std::atomic<bool> &stop)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            while (Clock::now() < end && !stop) {
                const std::uint32_t n = next++;
                const std::uint32_t from = (127u << 24) | ((16u << 16) + n);
                for (int i = 0; i < perAddress && Clock::now() < end; ++i) {
                    const std::string target =
                        keyed ? "/?key=guess" + std::to_string(n) + "-" + std::to_string(i) : "/";
                    counts.Add(Ask(port, from, "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n"));
                }
            }
        });
    for (std::thread &thread : threads)
        thread.join();
}

class Vorsk
{
public:
    Vorsk(const std::string &program, int port, bool password) : m_root(fs::temp_directory_path() / "guess_bench")
    {
        fs::remove_all(m_root);
        for (const char *folder : {"home", "tmp"})
            fs::create_directories(m_root / folder);
        std::ofstream(m_root / "vorsk.conf")
            << "[prefs]\nport=" << port << "\ninterval=1\nmaxcon=200\n\n[server]\nheaders=True\n"
            << (password ? std::string("password=") + kPassword + "\n" : std::string());
        fs::permissions(m_root / "vorsk.conf", fs::perms::owner_read | fs::perms::owner_write);
        m_pid = fork();
        if (m_pid == 0) {
            PinTo(kVorskCore);
            setenv("HOME", (m_root / "home").c_str(), 1);
            setenv("XDG_CONFIG_HOME", (m_root / "home").c_str(), 1);
            setenv("TMPDIR", (m_root / "tmp").c_str(), 1);
            setenv("VORSK_CAMERA", "test", 1);
            std::freopen("/dev/null", "w", stdout);
            const std::string config = (m_root / "vorsk.conf").string();
            execl(program.c_str(), program.c_str(), "--headless", "--config", config.c_str(), nullptr);
            _exit(127);
        }
        for (int i = 0; i < 100 && Ask(port, INADDR_LOOPBACK, "GET /?key=x HTTP/1.1\r\nHost: x\r\n\r\n") == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~Vorsk()
    {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        fs::remove_all(m_root);
    }
    long RssKiB() const
    {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0)
                return std::atol(line.c_str() + 6);
        return -1;
    }

private:
    fs::path m_root;
    pid_t m_pid = -1;
};

void Report(const char *phase, const Counts &counts, double seconds, const Vorsk &vorsk)
{
    std::printf("%-9s %6.1f s  200/s %7.0f  401/s %7.0f  503/s %7.0f  other/s %5.0f  rss %6ld KiB\n", phase, seconds,
                counts.ok / seconds, counts.refused / seconds, counts.full / seconds, counts.other / seconds,
                vorsk.RssKiB());
    std::fflush(stdout);
}

void Phase(const char *name, int port, bool keyed, int perAddress, int seconds, std::atomic<std::uint32_t> &next,
           const Vorsk &vorsk)
{
    Counts counts;
    const std::atomic<bool> never{false};
    const auto start = Clock::now();
    Load(port, keyed, perAddress, next, counts, start + std::chrono::seconds(seconds), never);
    Report(name, counts, std::chrono::duration<double>(Clock::now() - start).count(), vorsk);
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc >= 3 ? std::atoi(argv[2]) : 10;
    if (argc < 2 || argc > 3 || seconds < 1 || seconds > 600) {
        std::fprintf(stderr, "usage: guess_bench <vorsk> [seconds a phase, 1-600]\n");
        return 2;
    }
    PinTo(kLoadCore);
    std::atomic<std::uint32_t> next{0};
    {
        const int port = FreePort();
        const Vorsk vorsk(argv[1], port, false);
        Phase("open", port, false, kGuessesPerAddress, seconds, next, vorsk);
    }
    const int port = FreePort();
    const Vorsk vorsk(argv[1], port, true);
    std::printf("%-9s rss %ld KiB\n", "start", vorsk.RssKiB());
    Phase("rotating", port, true, kGuessesPerAddress, seconds, next, vorsk);
    Counts fill;
    std::atomic<bool> full{false};
    const auto start = Clock::now();
    std::thread watch([&] {
        while (!full && Clock::now() - start < std::chrono::seconds(90)) {
            full = fill.full > 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    Load(port, true, 1, next, fill, start + std::chrono::seconds(90), full);
    watch.join();
    Report("fill", fill, std::chrono::duration<double>(Clock::now() - start).count(), vorsk);
    Phase("full", port, true, kGuessesPerAddress, seconds, next, vorsk);
    return 0;
}
