// vorsk-bind PORT FD [ADDRESS]
//
// Opens a listening TCP socket on PORT (of ADDRESS, a numeric IPv4 or IPv6
// address; else of every local address, IPv6 and IPv4) and hands it,
// with a status word, over the inherited AF_UNIX socket FD to the program that
// ran it. This is the one part of Vorsk that may hold the right to bind ports
// below 1024, so it stays this small: it reads no environment variable and no
// file, loads nothing beyond the C and C++ runtimes, and runs nothing.
//
// Exit status: 0 the socket was handed over; 1 the port could not be opened
// (its errno was sent) or nothing could be sent; 2 wrong arguments.

#include "BindProtocol.h"
#include "mListenSocket.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int Usage()
{
    std::fputs("usage: vorsk-bind PORT FD [ADDRESS] (PORT 1..65535, FD an inherited AF_UNIX socket, "
               "ADDRESS numeric)\n",
               stderr);
    return 2;
}

// Plain decimal digits only, at most lMax.
bool ParseNumber(const char *szText, long lMax, long &lValue)
{
    lValue = 0;
    if (*szText == '\0')
        return false;
    for (; *szText; ++szText) {
        if (*szText < '0' || *szText > '9')
            return false;
        lValue = lValue * 10 + (*szText - '0');
        if (lValue > lMax)
            return false;
    }
    return true;
}

bool IsUnixSocket(int fd)
{
    int domain = 0;
    socklen_t length = sizeof domain;
    return getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain == AF_UNIX;
}

// Beyond the standard streams, nothing the caller left open stays open while
// the right is held (a kernel without close_range leaves them; nothing here uses them).
void CloseAllBut(int keep)
{
    if (keep > 3)
        close_range(3, unsigned(keep) - 1, 0);
    close_range(keep < 3 ? 3u : unsigned(keep) + 1u, UINT_MAX, 0);
}

// The status word, and the listening socket when there is one.
bool Send(int channel, BindStatus status, int listener)
{
    iovec part{&status, sizeof status};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof listener)] = {};
    if (listener >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *rights = CMSG_FIRSTHDR(&message);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof listener);
        std::memcpy(CMSG_DATA(rights), &listener, sizeof listener);
    }
    return sendmsg(channel, &message, MSG_NOSIGNAL) == ssize_t(sizeof status);
}

} // namespace

int main(int argc, char **argv)
{
    long lPort = 0;
    long lChannel = 0;
    sockaddr_storage address{};
    socklen_t length = 0;
    if (argc < 3 || argc > 4 || !ParseNumber(argv[1], 65535, lPort) || lPort == 0 ||
        !ParseNumber(argv[2], INT_MAX, lChannel) ||
        (argc == 4 && !ListenSocket::NumericAddress(argv[3], int(lPort), address, length)))
        return Usage();
    const int channel = int(lChannel);
    if (!IsUnixSocket(channel)) {
        std::fprintf(stderr, "vorsk-bind: descriptor %d is no AF_UNIX socket\n", channel);
        return 2;
    }
    CloseAllBut(channel);
    int lError = 0;
    const int listener = length > 0 ? ListenSocket::OpenOn(reinterpret_cast<const sockaddr *>(&address), length,
                                                           SOCK_CLOEXEC, lError)
                                    : ListenSocket::Open(int(lPort), SOCK_CLOEXEC, lError);
    if (!Send(channel, BindStatus(lError), listener)) {
        std::fprintf(stderr, "vorsk-bind: cannot hand over port %ld: %s\n", lPort, std::strerror(errno));
        return 1;
    }
    return listener >= 0 ? 0 : 1;
}
