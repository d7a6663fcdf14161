#pragma once

#include <QString>

// A listening socket handed to the program as it was started, by systemd's
// socket activation or any launcher of its protocol (LISTEN_PID, LISTEN_FDS,
// descriptors from 3 on): the descriptor, or -1 where none was handed. The
// variables are taken away, so programs started later are handed nothing.
// A handing that cannot be taken (more than one socket, or one that is no
// listening TCP socket) is closed, and sError says why.
struct HandedSocket
{
    int descriptor = -1;
    QString sError;
};
HandedSocket TakeHandedSocket();
