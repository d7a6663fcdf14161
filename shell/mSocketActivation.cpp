#include "mSocketActivation.h"

#include <systemd/sd-daemon.h>

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

HandedSocket TakeHandedSocket()
{
    const int count = sd_listen_fds(1);
    if (count < 0)
        return {-1, QStringLiteral("the sockets handed over cannot be taken: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(-count)))};
    if (count == 0)
        return {};
    if (count > 1) {
        for (int descriptor = SD_LISTEN_FDS_START; descriptor < SD_LISTEN_FDS_START + count; ++descriptor)
            ::close(descriptor);
        return {-1, QStringLiteral("%1 sockets were handed over; vorsk listens on one").arg(count)};
    }
    if (sd_is_socket_inet(SD_LISTEN_FDS_START, AF_UNSPEC, SOCK_STREAM, 1, 0) <= 0) {
        ::close(SD_LISTEN_FDS_START);
        return {-1, QStringLiteral("the socket handed over is no listening TCP socket")};
    }
    return {SD_LISTEN_FDS_START, {}};
}
