#include "cServerThread.h"

#include <csignal>
#include <cstdio>

#include <pthread.h>

cServerThread::cServerThread()
    : m_work(asio::make_work_guard(m_context)), m_thread([this] {
          // A peer gone mid-answer makes a send fail with EPIPE on this
          // thread, instead of a signal that would end the program.
          sigset_t pipe;
          sigemptyset(&pipe);
          sigaddset(&pipe, SIGPIPE);
          pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
          RunLoop();
      })
{
}

// What throws on this thread (a descriptor the system refuses to watch, no
// memory) ends the work at hand, never the thread: the loop goes on.
void cServerThread::RunLoop()
{
    for (;;) {
        try {
            m_context.run();
            return;
        } catch (const std::exception &error) {
            std::fprintf(stderr, "vorsk: the server met an error and goes on: %s\n", error.what());
        }
    }
}

cServerThread::~cServerThread()
{
    Stop();
}

void cServerThread::Stop()
{
    m_work.reset();
    m_context.stop();
    if (m_thread.joinable())
        m_thread.join();
}
