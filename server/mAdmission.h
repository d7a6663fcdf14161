#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// Who gets a connection slot and who gives way, decided in one place. Every
// connection is in one state: waiting for a slot (in the listener's queue),
// reading its head, answering, streaming, or lingering (done, ended gently by
// cLingeringClose). The table below holds the time limits of the states a
// slot can be in; the manual's table of what gives way is this table.

enum class ConnectionState { ReadingHead, Answering, Streaming };

// What a newcomer asks for, as far as its request has arrived.
enum class Asks {
    ShortAnswer, // a whole request for the picture or the status page
    Stream,      // a whole request for the live stream
    Unknown,     // nothing yet, or a request not yet whole
};

struct StateLimits
{
    // The time-out sweep closes a slot after this long: since it was accepted
    // while it reads its head (longer, headHttp, once an HTTP head has begun),
    // else without progress while its peer has bytes untaken.
    qint64 sweep;
    qint64 sweepHttpHead;
    // With every slot taken, it gives way to a newcomer after this long: since
    // it was accepted while it reads its head, else without progress with
    // bytes untaken.
    qint64 giveWay;
    // A stream gives way to a newcomer asking a short answer after it has run
    // this long, healthy or not, so a picture never waits behind streams.
    qint64 turn;
};

// The time limits, in milliseconds, by ConnectionState; 0: none.
inline constexpr StateLimits kLimits[] = {
    /* ReadingHead */ {500, 10000, 100, 0},
    /* Answering   */ {30000, 0, 1000, 0},
    /* Streaming   */ {30000, 0, 1000, 500},
};

inline constexpr const StateLimits &LimitsOf(ConnectionState state)
{
    return kLimits[int(state)];
}

// A taken slot as the policy sees it.
struct SlotView
{
    ConnectionState state;
    QString address;
    qint64 connected = 0; // milliseconds since it was accepted
    qint64 idle = 0;      // milliseconds since its last progress
    bool untaken = false; // its peer has bytes not taken yet (ours or the kernel's)
    bool httpHead = false; // an HTTP head has begun to arrive
};

struct Newcomer
{
    QString address;
    Asks asks = Asks::Unknown;
};

// The slot (an index into taken) that gives way to the newcomer, -1 for none.
// A slot may give way by its state's limits; besides, a newcomer from an
// address that holds fewer slots than the address holding most takes one of
// that address's streams, healthy ones included. Of those that may, one of
// the address holding most goes first, then the one idle longest. No address
// is capped: behind a caching proxy every viewer has the same.
int WhoGivesWay(const std::vector<SlotView> &taken, const Newcomer &newcomer);

// Whether the sweep closes the slot now; stall: the answering limit in use,
// httpHead: the limit in use for an HTTP head begun.
bool SweepCloses(const SlotView &slot, qint64 stall, qint64 httpHead = LimitsOf(ConnectionState::ReadingHead).sweepHttpHead);

// What a newcomer asks for, from the bytes that have come so far (read
// without taking them); http: answered with HTTP headers.
Asks AsksOf(const QByteArray &arrived, bool http);
