#include "cServerThread.h"

cServerThread::cServerThread() : m_work(asio::make_work_guard(m_context)), m_thread([this] { m_context.run(); }) {}

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
