// SPDX-License-Identifier: GPL-2.0-or-later
// The decoder's own thread: records come out as the stream gives them; a
// worker that falls behind skips bytes, and one whose taker falls behind
// decodes only the newest packets, each counted, instead of holding up
// whoever pushes.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "decode/RecordWorker.h"
#include "dm/HdlcFramer.h"
#include "tests/decode/DecodeTestUtil.h"

namespace {

using decodetest::Bytes;

Bytes Messages(int count)
{
    Bytes wire;
    for (int i = 0; i < count; ++i) {
        Bytes message = decodetest::MessageHeader(0x79, 1, 1000 + i, 10, 5, 2);
        decodetest::Le(message, static_cast<std::uint64_t>(i), 4);
        decodetest::Text(message, "n=%d");
        decodetest::Text(message, "w.c");
        const Bytes frame = HdlcFramePacket(message);
        wire.insert(wire.end(), frame.begin(), frame.end());
    }
    return wire;
}

// Waits (with a generous deadline, never asserting a time) until every pushed byte is decoded.
bool Drained(const decode::CRecordWorker& worker)
{
    for (int i = 0; i < 2000 && !worker.Idle(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return worker.Idle();
}

TEST(RecordWorker, DecodesWhatIsPushedInAnyChunking)
{
    const Bytes wire = Messages(20);
    decode::CRecordWorker worker;
    for (std::size_t at = 0; at < wire.size(); at += 7)
        EXPECT_TRUE(worker.Push(std::span(wire).subspan(at, std::min<std::size_t>(7, wire.size() - at))));
    ASSERT_TRUE(Drained(worker));
    const decode::CRecordWorker::Batch batch = worker.Take();
    ASSERT_EQ(batch.records.size(), 20u);
    EXPECT_EQ(batch.debugMessages, 20u);
    for (std::size_t i = 0; i < batch.records.size(); ++i)
        EXPECT_EQ(batch.records[i].text, "n=" + std::to_string(i));
    EXPECT_EQ(batch.skippedBytes, 0u);
    EXPECT_TRUE(worker.Take().records.empty());   // taken once
}

TEST(RecordWorker, BehindItSkipsAndLeavesOutCountedNeverWaits)
{
    struct Case {
        const char* name;
        std::size_t maxBytes, maxRecords;
        int messages;
        std::size_t records, skipped, undecoded;
        std::uint64_t debugMessages;
    };
    const std::size_t whole = Messages(10).size();
    const Case cases[] = {
        {"room for all", 1 << 20, 100, 10, 10, 0, 0, 10},
        {"a chunk over the byte limit is skipped, unread", whole - 1, 100, 10, 0, whole, 0, 0},
        {"packets over the cap: the newest decoded, every message counted", 1 << 20, 3, 10, 3, 0, 7, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        decode::CRecordWorker worker(c.maxBytes, c.maxRecords);
        // A lone flag read first puts the worker to sleep: a skip must not
        // leave it with work it is never woken for.
        const Bytes flag{0x7E};
        ASSERT_TRUE(worker.Push(flag));
        ASSERT_TRUE(Drained(worker));
        const Bytes wire = Messages(c.messages);
        EXPECT_EQ(worker.Push(wire), c.skipped == 0);
        ASSERT_TRUE(Drained(worker));
        const decode::CRecordWorker::Batch batch = worker.Take();
        EXPECT_EQ(batch.records.size(), c.records);
        EXPECT_EQ(batch.skippedBytes, c.skipped);
        EXPECT_EQ(batch.undecodedPackets, c.undecoded);
        EXPECT_EQ(batch.droppedRecords, 0u);
        EXPECT_EQ(batch.debugMessages, c.debugMessages);
        if (!batch.records.empty()) {
            EXPECT_EQ(batch.records.back().text, "n=" + std::to_string(c.messages - 1));
        }
    }
}

// While the taker has not taken, the worker decodes no more than the cap:
// later packets wait undecoded (the newest kept) and decode once taken.
TEST(RecordWorker, DecodesNoMoreThanTheTakerTakes)
{
    const Bytes wire = Messages(10);
    const std::size_t frame = wire.size() / 10;   // every message frames to the same size here
    ASSERT_EQ(wire.size() % 10, 0u);
    decode::CRecordWorker worker(1 << 20, 3);
    worker.Push(std::span(wire).first(3 * frame));   // n=0..2 fill the room
    ASSERT_TRUE(Drained(worker));
    worker.Push(std::span(wire).subspan(3 * frame));  // n=3..9: the newest 3 wait
    ASSERT_TRUE(Drained(worker));
    decode::CRecordWorker::Batch first = worker.Take();
    ASSERT_EQ(first.records.size(), 3u);
    EXPECT_EQ(first.records.front().text, "n=0");
    EXPECT_EQ(first.undecodedPackets, 4u);
    EXPECT_EQ(first.debugMessages, 10u);
    ASSERT_TRUE(Drained(worker));
    decode::CRecordWorker::Batch second = worker.Take();
    ASSERT_EQ(second.records.size(), 3u);
    EXPECT_EQ(second.records.front().text, "n=7");
    EXPECT_EQ(second.records.back().text, "n=9");
    EXPECT_EQ(second.debugMessages, 0u);   // counted once, when received
}

TEST(RecordWorker, CountsDebugMessagesByCommandCode)
{
    struct Case {
        const char* name;
        Bytes packet;
        bool message;
    };
    const Case cases[] = {
        {"extended", {0x79, 0, 0}, true},
        {"legacy terse", {0x7E, 0}, true},
        {"hashed", {0x92}, true},
        {"hashed, short header", {0x99, 1, 2}, true},
        {"in a multi-SIM wrapper", {0x98, 1, 0, 0, 1, 0, 0, 0, 0x79, 0}, true},
        {"a wrapper with nothing inside", {0x98, 1, 0, 0, 1, 0, 0, 0}, false},
        {"a log record", {0x10, 0, 0}, false},
        {"a reply", {0x1D, 1}, false},
        {"empty", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode::IsDebugMessage(c.packet), c.message);
    }
}

TEST(RecordWorker, ResetDropsWhatWaitsAndAFrameCutInTwo)
{
    const Bytes wire = Messages(2);
    decode::CRecordWorker worker;
    const std::size_t half = wire.size() / 4;   // inside the first frame
    worker.Push(std::span(wire).first(half));
    ASSERT_TRUE(Drained(worker));
    worker.Reset();
    worker.Push(std::span(wire).subspan(half));
    ASSERT_TRUE(Drained(worker));
    const decode::CRecordWorker::Batch batch = worker.Take();
    // The first frame's tail is not joined to its head: only the second frame decodes.
    ASSERT_EQ(batch.records.size(), 1u);
    EXPECT_EQ(batch.records[0].text, "n=1");
}

}  // namespace
