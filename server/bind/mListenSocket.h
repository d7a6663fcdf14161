#pragma once
// The listening socket of the web server, made the same way by the program and
// by its port helper. Header-only and libc-only, so the helper links nothing else.

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
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

// A listening TCP socket on one address (its port included); lFlags as for Open.
inline int OpenOn(const sockaddr *address, socklen_t length, int lFlags, int &lError)
{
    const int fd = socket(address->sa_family, SOCK_STREAM | lFlags, IPPROTO_TCP);
    if (fd < 0) {
        lError = errno;
        return -1;
    }
    lError = BindAndListen(fd, address, length);
    if (lError == 0)
        return fd;
    close(fd);
    return -1;
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
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(lPort));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return OpenOn(reinterpret_cast<const sockaddr *>(&address), sizeof address, lFlags, lError);
}

// A numeric IPv4 or IPv6 address, the latter with an optional numeric scope
// ("fe80::1%2"), and a port as a socket address; false when the text is none.
inline bool NumericAddress(const char *szText, int lPort, sockaddr_storage &address, socklen_t &length)
{
    address = sockaddr_storage{};
    auto &v4 = reinterpret_cast<sockaddr_in &>(address);
    if (inet_pton(AF_INET, szText, &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(std::uint16_t(lPort));
        length = sizeof v4;
        return true;
    }
    char text[INET6_ADDRSTRLEN] = {};
    const char *scope = std::strchr(szText, '%');
    const std::size_t size = scope ? std::size_t(scope - szText) : std::strlen(szText);
    if (size >= sizeof text)
        return false;
    std::memcpy(text, szText, size);
    auto &v6 = reinterpret_cast<sockaddr_in6 &>(address);
    if (inet_pton(AF_INET6, text, &v6.sin6_addr) != 1)
        return false;
    unsigned long lScope = 0;
    for (const char *digit = scope ? scope + 1 : ""; *digit; ++digit) {
        if (*digit < '0' || *digit > '9' || lScope > 0xFFFFFFFFul / 10)
            return false;
        lScope = lScope * 10 + unsigned(*digit - '0');
    }
    if (scope && (scope[1] == '\0' || lScope > 0xFFFFFFFFul))
        return false;
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(std::uint16_t(lPort));
    v6.sin6_scope_id = std::uint32_t(lScope);
    length = sizeof v6;
    return true;
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
