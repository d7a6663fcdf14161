#include "mBindHelper.h"

#include "mListenSocket.h"

#include "BindProtocol.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The descriptor number the helper finds its end of the socket pair at.
constexpr int kHelperChannel = 3;

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

BoundSocket Failure(std::string reason, int error = 0)
{
    return {-1, error, std::move(reason)};
}

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

bool IsExecutableFile(const std::string &sPath)
{
    struct stat info{};
    return stat(sPath.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(sPath.c_str(), X_OK) == 0;
}

// The helper with its end of the pair as descriptor 3, an empty environment and
// no blocked signals. -1 with errno set when it cannot be started.
pid_t Spawn(const std::string &sHelper, int lPort, int channel, std::string sAddress)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, channel, kHelperChannel);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

    std::string name = "vorsk-bind", port = std::to_string(lPort), fd = std::to_string(kHelperChannel);
    char *argv[] = {name.data(), port.data(), fd.data(), sAddress.empty() ? nullptr : sAddress.data(), nullptr};
    char *envp[] = {nullptr};
    pid_t pid = -1;
    const int error = posix_spawn(&pid, sHelper.c_str(), &actions, &attributes, argv, envp);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    errno = error;
    return error == 0 ? pid : -1;
}

// The one descriptor attached to a message; any others that came are closed.
int TakeDescriptor(msghdr &message)
{
    std::vector<int> received;
    for (cmsghdr *part = CMSG_FIRSTHDR(&message); part; part = CMSG_NXTHDR(&message, part)) {
        if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (part->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(part) + i * sizeof fd, sizeof fd);
            received.push_back(fd);
        }
    }
    if (received.size() == 1)
        return received.front();
    for (int fd : received)
        ::close(fd);
    return -1;
}

int SocketOption(int fd, int option)
{
    int value = -1;
    socklen_t length = sizeof value;
    return getsockopt(fd, SOL_SOCKET, option, &value, &length) == 0 ? value : -1;
}

bool IsListeningOn(int fd, int lPort)
{
    return fd >= 0 && SocketOption(fd, SO_ACCEPTCONN) == 1 && SocketOption(fd, SO_TYPE) == SOCK_STREAM &&
           SocketOption(fd, SO_PROTOCOL) == IPPROTO_TCP && ListenSocket::PortOf(fd) == lPort;
}

bool WaitReadable(int fd, Clock::time_point deadline)
{
    pollfd ready{fd, POLLIN, 0};
    int polled = 0;
    do
        polled = poll(&ready, 1, MillisecondsLeft(deadline));
    while (polled < 0 && errno == EINTR);
    return polled > 0;
}

BoundSocket ReadAnswer(int channel, int lPort, Clock::time_point deadline)
{
    if (!WaitReadable(channel, deadline))
        return Failure("the port helper did not answer in time");
    BindStatus status = 0;
    iovec part{&status, sizeof status};
    alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(channel, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    if (got < 0)
        return Failure(std::string("no answer from the port helper: ") + std::strerror(errno));
    Descriptor received(TakeDescriptor(message));
    if (got == 0)
        return Failure("the port helper ended without an answer");
    const bool wellFormed = got == ssize_t(sizeof status) && !(message.msg_flags & (MSG_TRUNC | MSG_CTRUNC));
    if (wellFormed && status > 0 && received.get() < 0)
        return Failure(std::strerror(status), status);
    if (!wellFormed || status != 0 || !IsListeningOn(received.get(), lPort))
        return Failure("the port helper's answer makes no sense");
    return {received.release(), 0, {}};
}

// Waits for the helper to end until the deadline, then ends it. The wait status.
int Reap(pid_t pid, Clock::time_point deadline)
{
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return status;
        if (Clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

std::string FindBindHelper(const std::string &sProgramDir)
{
    if (sProgramDir.empty())
        return {};
    for (const char *relative : {"vorsk-bind", VORSK_BIND_FROM_BINDIR}) {
        const std::string candidate = sProgramDir + '/' + relative;
        if (IsExecutableFile(candidate))
            return candidate;
    }
    return {};
}

BoundSocket BindThroughHelper(const std::string &sHelper, int lPort, int lWaitMs, const std::string &sAddress)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(lWaitMs);
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return Failure(std::string("cannot talk to the port helper: ") + std::strerror(errno));
    Descriptor ours(pair[0]), theirs(pair[1]);
    const pid_t pid = Spawn(sHelper, lPort, theirs.get(), sAddress);
    if (pid < 0)
        return Failure("cannot run the port helper " + sHelper + ": " + std::strerror(errno));
    // Only the helper holds its end now, so its death reads as the end of the answer.
    theirs.reset();
    BoundSocket bound = ReadAnswer(ours.get(), lPort, deadline);
    const int status = Reap(pid, deadline);
    if (bound.descriptor < 0 && bound.error == 0 && WIFEXITED(status) && WEXITSTATUS(status) != 0)
        bound.reason += " (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    return bound;
}
