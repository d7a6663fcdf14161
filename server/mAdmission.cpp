#include "mAdmission.h"

#include "mHttpRequest.h"
#include "mTarget.h"

#include <algorithm>
#include <map>

namespace {

// Whether a slot gives way to the newcomer by its state's own limits.
bool MayGiveWay(const SlotView &slot, const Newcomer &newcomer)
{
    const StateLimits &limits = LimitsOf(slot.state);
    if (slot.state == ConnectionState::ReadingHead)
        return slot.connected >= limits.giveWay;
    if (slot.untaken && slot.idle >= limits.giveWay)
        return true;
    return limits.turn > 0 && newcomer.asks == Asks::ShortAnswer && slot.connected >= limits.turn;
}

} // namespace

int WhoGivesWay(const std::vector<SlotView> &taken, const Newcomer &newcomer)
{
    std::map<QString, int> held;
    int most = 0;
    for (const SlotView &slot : taken)
        most = std::max(most, ++held[slot.address]);
    const bool outnumbered = held[newcomer.address] < most;
    int chosen = -1;
    for (int i = 0; i < int(taken.size()); ++i) {
        const SlotView &slot = taken[size_t(i)];
        const bool fairShare = outnumbered && slot.state == ConnectionState::Streaming && held[slot.address] == most;
        if (!fairShare && !MayGiveWay(slot, newcomer))
            continue;
        if (chosen < 0) {
            chosen = i;
            continue;
        }
        const SlotView &best = taken[size_t(chosen)];
        const int holds = held[slot.address], bestHolds = held[best.address];
        if (holds > bestHolds || (holds == bestHolds && slot.idle > best.idle))
            chosen = i;
    }
    return chosen;
}

bool SweepCloses(const SlotView &slot, qint64 stall, qint64 httpHead)
{
    const StateLimits &limits = LimitsOf(slot.state);
    if (slot.state == ConnectionState::ReadingHead)
        return slot.connected >= (slot.httpHead ? httpHead : limits.sweep);
    // A live stream waiting for its next picture, all taken, is not stalled.
    return slot.idle > stall && (slot.state != ConnectionState::Streaming || slot.untaken);
}

Asks AsksOf(const QByteArray &arrived, bool http)
{
    if (!http)
        return arrived.contains('\n') ? Asks::ShortAnswer : Asks::Unknown;
    if (!arrived.contains("\n\n") && !arrived.contains("\n\r\n"))
        return Asks::Unknown;
    const HttpRequest request = ReadRequestHead(arrived, false);
    const bool stream = request.status == HttpRequest::Status::Complete && request.method == "GET" &&
                        WhatTargetAsks(request.path, request.query) == Asked::Stream;
    return stream ? Asks::Stream : Asks::ShortAnswer;
}
