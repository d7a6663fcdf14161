#pragma once

// What every load program needs: a free port on the loopback, and a core of
// its own, so that the server and the load never share one.

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

// A port nobody listens on now; -1 when none can be had.
inline int FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = -1;
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr *>(&address), size) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

// Pins the calling process to one core, saying so on stderr when it cannot.
inline void PinTo(int core)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0)
        std::fprintf(stderr, "cannot pin to core %d: %s\n", core, std::strerror(errno));
}
