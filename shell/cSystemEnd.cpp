#include "cSystemEnd.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: one byte down the pipe, saying which.
void OnSignal(int number)
{
    const char byte = number == SIGHUP ? 'H' : 'E';
    [[maybe_unused]] const ssize_t written = write(g_signalPipe[1], &byte, 1);
}

} // namespace

cSystemEnd::cSystemEnd(QObject *parent) : QObject(parent)
{
    if (g_signalPipe[0] < 0 && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (read(g_signalPipe[0], &byte, 1) == 1 && byte == 'H')
            emit HangUp();
        else
            emit Ending();
    });
    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        sigaction(number, &action, nullptr);
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &) { emit Ending(); });
}

cSystemEnd::~cSystemEnd()
{
    struct sigaction action{};
    action.sa_handler = SIG_DFL;
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        sigaction(number, &action, nullptr);
}
