#include "cLingeringClose.h"

#include <algorithm>
#include <cerrno>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

bool InDescriptorReserve(int descriptor)
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
        return false;
    const rlim_t reserve = std::max<rlim_t>(64, files.rlim_cur / 4);
    return rlim_t(descriptor) + reserve >= files.rlim_cur;
}

cLingeringClose::~cLingeringClose()
{
    for (auto &[id, entry] : m_entries) {
        asio::error_code ignored;
        entry->deadline.cancel();
        entry->stream.close(ignored);
    }
}

void cLingeringClose::Take(int descriptor)
{
    if (descriptor < 0)
        return;
    if (m_entries.size() >= MaxLingering || InDescriptorReserve(descriptor) || ::shutdown(descriptor, SHUT_WR) != 0) {
        ::close(descriptor);
        return;
    }
    const std::uint64_t id = m_nextId++;
    auto &entry = *m_entries.emplace(id, std::make_unique<Entry>(m_context, descriptor)).first->second;
    entry.deadline.expires_after(LingerFor);
    entry.deadline.async_wait([this, id](const asio::error_code &error) {
        if (!error)
            Finish(id);
    });
    WaitReadable(id);
}

bool cLingeringClose::CloseOldest()
{
    if (m_entries.empty())
        return false;
    Finish(m_entries.begin()->first);
    return true;
}

// The handlers look their connection up by number: one that finished is gone.
void cLingeringClose::WaitReadable(std::uint64_t id)
{
    m_entries.at(id)->stream.async_wait(asio::posix::stream_descriptor::wait_read,
                                        [this, id](const asio::error_code &error) {
                                            if (!error && m_entries.count(id))
                                                Discard(id);
                                        });
}

void cLingeringClose::Discard(std::uint64_t id)
{
    Entry &entry = *m_entries.at(id);
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::recv(entry.stream.native_handle(), buffer, sizeof buffer, 0);
        if (got > 0 && (entry.discarded += got) <= MaxDiscarded)
            continue;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            WaitReadable(id);
            return;
        }
        // The peer has closed too, is gone, or sends more than any request.
        Finish(id);
        return;
    }
}

void cLingeringClose::Finish(std::uint64_t id)
{
    const auto found = m_entries.find(id);
    if (found == m_entries.end())
        return;
    asio::error_code ignored;
    found->second->deadline.cancel();
    found->second->stream.close(ignored);
    m_entries.erase(found);
}
