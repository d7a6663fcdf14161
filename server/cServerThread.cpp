#include "cServerThread.h"

#include <csignal>

#include <pthread.h>

cServerThread::cServerThread()
    : m_work(asio::make_work_guard(m_context)), m_thread([this] {
          // A peer gone mid-answer makes a send fail with EPIPE on this
          // thread, instead of a signal that would end the program.
          sigset_t pipe;
          sigemptyset(&pipe);
          sigaddset(&pipe, SIGPIPE);
          pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
          m_context.run();
      })
{
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
