#pragma once

#include <asio.hpp>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>

// Descriptors are handed out lowest first, so a high one means the table is
// nearly full: the top quarter of the limit (at least 64) is kept for the
// slots and files, and nothing that may wait (a connection lingering, a
// newcomer waiting for a slot) holds one there.
bool InDescriptorReserve(int descriptor);

// Ends connections gently. Closing a socket while its peer is still sending
// (the rest of a request written in pieces, a second request) makes the
// kernel answer with a reset, and a reset costs the peer whatever of its
// answer it has not read yet. So a connection that is done is only shut for
// sending, which tells the peer the answer is whole, and what the peer still
// sends is read and let go until it closes too, for a short while at most.
// Lives on the server's I/O thread.
class cLingeringClose
{
public:
    static constexpr auto LingerFor = std::chrono::seconds(2);
    // Bytes read and let go per connection before it is simply closed.
    static constexpr std::int64_t MaxDiscarded = 256 * 1024;
    // Connections lingering at once; beyond, a connection is closed at once.
    static constexpr std::size_t MaxLingering = 1024;

    explicit cLingeringClose(asio::io_context &context) : m_context(context) {}
    ~cLingeringClose();
    cLingeringClose(const cLingeringClose &) = delete;
    cLingeringClose &operator=(const cLingeringClose &) = delete;

    // Takes over a connected descriptor and closes it in its own time.
    void Take(int descriptor);
    // Closes the connection that has lingered longest; false when none does.
    bool CloseOldest();

private:
    struct Entry
    {
        Entry(asio::io_context &context, int descriptor) : stream(context, descriptor), deadline(context) {}
        asio::posix::stream_descriptor stream;
        asio::steady_timer deadline;
        std::int64_t discarded = 0;
    };

    void WaitReadable(std::uint64_t id);
    void Discard(std::uint64_t id);
    void Finish(std::uint64_t id);

    asio::io_context &m_context;
    std::map<std::uint64_t, std::unique_ptr<Entry>> m_entries;
    std::uint64_t m_nextId = 0;
};
