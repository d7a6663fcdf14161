#pragma once
// The listening socket of the web server, made the same way by the program and
// by its port helper. Header-only and libc-only, so the helper links nothing else.

#include <cerrno>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ListenSocket {

// Binds fd to the address and listens with room for a crowd arriving at once,
// so nobody waits for a SYN to be resent; the errno of the failure, or 0.
inline int BindAndListen(int fd, const sockaddr *address, socklen_t length)
{
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 || bind(fd, address, length) != 0 ||
        listen(fd, SOMAXCONN) != 0)
        return errno;
    return 0;
}

// A listening TCP socket on lPort of every local address: one socket for IPv6
// and IPv4 where the machine has IPv6 (IPv4 peers then arrive as IPv4-mapped
// addresses), IPv4 alone where it has none. lFlags are added to the socket's
// type (SOCK_CLOEXEC, SOCK_NONBLOCK). -1 with lError set on failure.
inline int Open(int lPort, int lFlags, int &lError)
{
    int fd = socket(AF_INET6, SOCK_STREAM | lFlags, IPPROTO_TCP);
    if (fd >= 0) {
        const int off = 0;
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(std::uint16_t(lPort));
        address.sin6_addr = in6addr_any;
        lError = setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0
                     ? errno
                     : BindAndListen(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
        if (lError == 0)
            return fd;
        close(fd);
        if (lError != EADDRNOTAVAIL && lError != EAFNOSUPPORT)
            return -1; // the port is taken, or not ours to take
    } else if (errno != EAFNOSUPPORT) {
        lError = errno;
        return -1;
    }
    fd = socket(AF_INET, SOCK_STREAM | lFlags, IPPROTO_TCP);
    if (fd < 0) {
        lError = errno;
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(lPort));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    lError = BindAndListen(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    if (lError == 0)
        return fd;
    close(fd);
    return -1;
}

// The port a listening socket is bound to, or -1.
inline int PortOf(int fd)
{
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0)
        return -1;
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(local).sin6_port);
    if (local.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(local).sin_port);
    return -1;
}

} // namespace ListenSocket
