#pragma once

// Test clients and pictures for the server tests: real sockets on 127.0.0.1.
#include "cPictureSource.h"

#include <QByteArray>
#include <QFile>
#include <QTcpServer>

#include <limits>
#include <memory>
#include <optional>
#include <random>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

inline int FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

inline QByteArray RandomBytes(qsizetype size, unsigned seed = 1)
{
    std::mt19937 generator(seed);
    QByteArray bytes(size, '\0');
    for (char &b : bytes)
        b = char(generator());
    return bytes;
}

inline cPictureSource::Picture Shared(const QByteArray &bytes)
{
    return std::make_shared<const QByteArray>(bytes);
}

// Resident memory of this process in KiB.
inline long ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// A plain blocking TCP client; a read that waits 10 s fails instead of hanging.
class RawClient
{
public:
    // A socket made now and connected later, so the descriptor exists before a test lowers the limit.
    RawClient() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const timeval wait{10, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        const int on = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ~RawClient() { Close(); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    void SmallReceiveBuffer()
    {
        const int size = 4096;
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    // To 127.0.0.1, from 127.0.0.1 or another loopback address.
    bool Connect(int port, const char *from = nullptr)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        if (from && (inet_pton(AF_INET, from, &address.sin_addr) != 1 ||
                     ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0))
            return false;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    bool Send(const QByteArray &bytes) { return ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size(); }
    void HalfClose() { ::shutdown(m_fd, SHUT_WR); }
    // At most lMax bytes; nullopt on an error or a time-out.
    std::optional<QByteArray> Read(qsizetype lMax)
    {
        QByteArray got;
        char buffer[65536];
        while (got.size() < lMax) {
            const ssize_t n = ::recv(m_fd, buffer, size_t(std::min<qsizetype>(sizeof buffer, lMax - got.size())), 0);
            if (n == 0)
                break;
            if (n < 0)
                return std::nullopt;
            got.append(buffer, n);
        }
        return got;
    }
    // What has arrived, at most 64 KiB, waiting for something; empty at the
    // server's close, nullopt on an error or a time-out.
    std::optional<QByteArray> ReadSome()
    {
        char buffer[65536];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        return n < 0 ? std::nullopt : std::optional<QByteArray>(QByteArray(buffer, n));
    }
    // Everything up to the server's close.
    std::optional<QByteArray> ReadAll() { return Read(std::numeric_limits<qsizetype>::max()); }
    // Whether the server closed without sending a byte.
    bool ClosedWithoutData() { return ReadAll() == QByteArray(); }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};
