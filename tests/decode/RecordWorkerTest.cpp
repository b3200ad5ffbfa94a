// SPDX-License-Identifier: GPL-2.0-or-later
// The decoder's own thread: records come out as the stream gives them, and
// a decoder that falls behind skips bytes and drops old records, counted,
// instead of holding up whoever pushes.
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

TEST(RecordWorker, BehindItSkipsAndDropsCountedNeverWaits)
{
    struct Case {
        const char* name;
        std::size_t maxBytes, maxRecords;
        int messages;
        std::size_t records, skipped, dropped;
    };
    const std::size_t whole = Messages(10).size();
    const Case cases[] = {
        {"room for all", 1 << 20, 100, 10, 10, 0, 0},
        {"a chunk over the byte limit is skipped", whole - 1, 100, 10, 0, whole, 0},
        {"records over the cap: the newest kept", 1 << 20, 3, 10, 3, 0, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        decode::CRecordWorker worker(c.maxBytes, c.maxRecords);
        const Bytes wire = Messages(c.messages);
        EXPECT_EQ(worker.Push(wire), c.skipped == 0);
        ASSERT_TRUE(Drained(worker));
        const decode::CRecordWorker::Batch batch = worker.Take();
        EXPECT_EQ(batch.records.size(), c.records);
        EXPECT_EQ(batch.skippedBytes, c.skipped);
        EXPECT_EQ(batch.droppedRecords, c.dropped);
        if (!batch.records.empty()) {
            EXPECT_EQ(batch.records.back().text, "n=" + std::to_string(c.messages - 1));
        }
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
