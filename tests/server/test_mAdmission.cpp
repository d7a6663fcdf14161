// Who gives way to a newcomer when every slot is taken, without sockets.
#include "mAdmission.h"

#include <gtest/gtest.h>

namespace {

SlotView Slot(ConnectionState state, const char *address, qint64 connected, qint64 idle, bool untaken = false,
              bool httpHead = false)
{
    return SlotView{state, QString::fromLatin1(address), connected, idle, untaken, httpHead};
}

} // namespace

TEST(Admission, WhoGivesWayToANewcomer)
{
    using S = ConnectionState;
    const Newcomer picture{QStringLiteral("10.0.0.9"), Asks::ShortAnswer};
    const Newcomer unknownFromA{QStringLiteral("10.0.0.1"), Asks::Unknown};
    const Newcomer streamFromB{QStringLiteral("10.0.0.2"), Asks::Stream};
    struct Case
    {
        const char *what;
        std::vector<SlotView> taken;
        Newcomer newcomer;
        int expected;
    };
    const std::vector<Case> cases = {
        {"a head begun and left gives way as soon as a silent one",
         {Slot(S::ReadingHead, "10.0.0.1", 50, 50), Slot(S::ReadingHead, "10.0.0.1", 150, 140, false, true)},
         unknownFromA, 1},
        {"nobody reading a head for long enough, no answer stalled",
         {Slot(S::ReadingHead, "10.0.0.1", 50, 50), Slot(S::Answering, "10.0.0.1", 5000, 1500)}, unknownFromA, -1},
        {"an answer not taken for a second",
         {Slot(S::Answering, "10.0.0.1", 5000, 300, true), Slot(S::Answering, "10.0.0.1", 5000, 1500, true)},
         unknownFromA, 1},
        {"healthy streams of the only address keep their slots from it",
         {Slot(S::Streaming, "10.0.0.1", 9000, 10), Slot(S::Streaming, "10.0.0.1", 9000, 10)}, unknownFromA, -1},
        {"another address wins one of the address holding most",
         {Slot(S::Streaming, "10.0.0.2", 100, 10), Slot(S::Streaming, "10.0.0.1", 100, 10),
          Slot(S::Streaming, "10.0.0.1", 100, 20)},
         streamFromB, 2},
        {"a picture does not wait behind streams that had their turn",
         {Slot(S::Streaming, "10.0.0.1", 300, 10), Slot(S::Streaming, "10.0.0.1", 700, 10)},
         Newcomer{QStringLiteral("10.0.0.1"), Asks::ShortAnswer}, 1},
        {"of those that may, the address holding most goes first",
         {Slot(S::ReadingHead, "10.0.0.3", 900, 900), Slot(S::ReadingHead, "10.0.0.1", 200, 200),
          Slot(S::ReadingHead, "10.0.0.1", 300, 300)},
         picture, 2},
    };
    for (const Case &c : cases)
        EXPECT_EQ(WhoGivesWay(c.taken, c.newcomer), c.expected) << c.what;
}

TEST(Admission, WhatANewcomerAsksIsReadFromItsFirstBytes)
{
    EXPECT_EQ(AsksOf("GET /stream HTTP/1.1\r\nHost: x\r\n\r\n", true), Asks::Stream);
    EXPECT_EQ(AsksOf("GET / HTTP/1.1\r\nHost: x\r\n\r\n", true), Asks::ShortAnswer);
    EXPECT_EQ(AsksOf("GET /stream HTTP/1.1\r\nHost: x\r\n", true), Asks::Unknown);
    EXPECT_EQ(AsksOf("GET /stream HTTP/1.0\r\n", false), Asks::ShortAnswer);
    EXPECT_EQ(AsksOf("G", false), Asks::Unknown);
}
