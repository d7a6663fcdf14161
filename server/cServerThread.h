#pragma once

#include <asio.hpp>

#include <functional>
#include <future>
#include <thread>

// The server's own I/O thread: one Asio event loop (epoll) that every socket
// of the server lives on. Other threads hand it work and, for a quick
// question, wait for the answer.
class cServerThread
{
public:
    cServerThread();
    ~cServerThread();
    cServerThread(const cServerThread &) = delete;
    cServerThread &operator=(const cServerThread &) = delete;

    asio::io_context &Context() { return m_context; }
    // Ends the loop and waits for the thread; nothing runs there afterwards.
    void Stop();
    bool IsCurrent() const { return std::this_thread::get_id() == m_thread.get_id(); }

    // Runs fn on the I/O thread and returns its result; called on the I/O
    // thread itself, it runs at once.
    template <class F>
    auto Run(F fn) -> decltype(fn())
    {
        if (IsCurrent())
            return fn();
        std::packaged_task<decltype(fn())()> task(std::move(fn));
        auto result = task.get_future();
        asio::post(m_context, [&task] { task(); });
        return result.get();
    }

private:
    void RunLoop();

    asio::io_context m_context{1};
    asio::executor_work_guard<asio::io_context::executor_type> m_work;
    std::thread m_thread;
};
