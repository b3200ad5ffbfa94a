// SPDX-License-Identifier: GPL-2.0-or-later
// The reader's drain against a scripted driver queue: a pty never reports
// more than its line discipline's 4096 bytes queued, so 20000 bytes queued at
// once are played here.
#include "serial/ReaderDrain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// A driver queue that logs every call in order.
class ScriptedQueue final : public IQueuedSource {
public:
    std::vector<std::uint8_t> queued;
    bool goneWhenEmpty = false;
    std::uint32_t limit = 0;   // most bytes the line discipline reports at once (0: no limit)
    std::vector<std::string>* log = nullptr;

    std::uint32_t Queued() override
    {
        const auto all = static_cast<std::uint32_t>(queued.size());
        return limit == 0 ? all : std::min(all, limit);
    }
    void Settle() override { log->push_back("settle"); }
    serialio::ReadOutcome Read(std::uint8_t* buffer, std::uint32_t count) override
    {
        log->push_back("read " + std::to_string(count));
        serialio::ReadOutcome out;
        if (count > queued.size()) {
            out.gone = true;   // asked for more than queued: the drain broke its rule
            return out;
        }
        std::copy(queued.begin(), queued.begin() + count, buffer);
        queued.erase(queued.begin(), queued.begin() + count);
        out.count = count;
        out.gone = goneWhenEmpty && queued.empty();
        return out;
    }
};

}  // namespace

TEST(ReaderDrain, TwentyThousandQueuedBytesGoOverAs8192_8192_3616EachBeforeTheNextRead)
{
    std::vector<std::string> log;
    ScriptedQueue queue;
    queue.log = &log;
    for (int i = 0; i < 20000; ++i)
        queue.queued.push_back(static_cast<std::uint8_t>(i % 251));
    const std::vector<std::uint8_t> expected = queue.queued;

    std::vector<std::uint8_t> delivered;
    std::array<std::uint8_t, kMaxChunk> chunk{};
    std::atomic<int> run{1};
    const bool gone = DrainQueued(queue, chunk,
                                  [&](const std::uint8_t* data, std::uint32_t count) {
                                      log.push_back("deliver " + std::to_string(count));
                                      delivered.insert(delivered.end(), data, data + count);
                                  },
                                  run);
    EXPECT_FALSE(gone);
    EXPECT_EQ(log, (std::vector<std::string>{"read 8192", "deliver 8192", "read 8192", "deliver 8192", "read 3616",
                                             "deliver 3616"}));
    EXPECT_EQ(delivered, expected);
}

TEST(ReaderDrain, EdgesOfTheChunk)
{
    struct Case {
        const char* name;
        std::size_t queued;
        std::vector<std::string> log;
    } const cases[] = {
        {"nothing queued: no read, no message", 0, {}},
        {"one byte", 1, {"read 1", "deliver 1"}},
        {"one chunk exactly", 8192, {"read 8192", "deliver 8192"}},
        {"one past a chunk", 8193, {"read 8192", "deliver 8192", "read 1", "deliver 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> log;
        ScriptedQueue queue;
        queue.log = &log;
        queue.queued.assign(c.queued, 0x7E);
        std::array<std::uint8_t, kMaxChunk> chunk{};
        std::atomic<int> run{1};
        EXPECT_FALSE(DrainQueued(
            queue, chunk, [&](const std::uint8_t*, std::uint32_t n) { log.push_back("deliver " + std::to_string(n)); },
            run));
        EXPECT_EQ(log, c.log);
    }
}

// A tty reports at most a line discipline's buffer; a full one means a flood,
// and only then is the chunk topped up.
TEST(ReaderDrain, AFullLineDisciplineReadIsToppedUpToOneChunk)
{
    struct Case {
        const char* name;
        std::size_t queued;
        std::uint32_t limit;
        std::vector<std::string> log;
    } const cases[] = {
        {"flood: 4095 + 4095 make one chunk, no read for the last two bytes of room", 12000, 4095,
         {"read 4095", "settle", "read 4095", "deliver 8190", "read 3810", "deliver 3810"}},
        {"short of full: no top-up", 5000, 4094, {"read 4094", "deliver 4094", "read 906", "deliver 906"}},
        {"full, then nothing more", 4095, 4095, {"read 4095", "settle", "deliver 4095"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> log;
        ScriptedQueue queue;
        queue.log = &log;
        queue.limit = c.limit;
        for (std::size_t i = 0; i < c.queued; ++i)
            queue.queued.push_back(static_cast<std::uint8_t>(i % 253));
        const std::vector<std::uint8_t> expected = queue.queued;
        std::vector<std::uint8_t> delivered;
        std::array<std::uint8_t, kMaxChunk> chunk{};
        std::atomic<int> run{1};
        EXPECT_FALSE(DrainQueued(
            queue, chunk,
            [&](const std::uint8_t* data, std::uint32_t n) {
                log.push_back("deliver " + std::to_string(n));
                delivered.insert(delivered.end(), data, data + n);
            },
            run));
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(delivered, expected);
    }
}

TEST(ReaderDrain, StopsWhenTheRunFlagIsClearedOrTheDeviceGoes)
{
    std::vector<std::string> log;
    ScriptedQueue queue;
    queue.log = &log;
    queue.queued.assign(20000, 1);
    std::array<std::uint8_t, kMaxChunk> chunk{};
    std::atomic<int> run{1};
    // Close clears the flag while the first chunk is with the window.
    EXPECT_FALSE(DrainQueued(queue, chunk, [&](const std::uint8_t*, std::uint32_t) { run = 0; }, run));
    EXPECT_EQ(log, std::vector<std::string>{"read 8192"});

    log.clear();
    ScriptedQueue dying;
    dying.log = &log;
    dying.queued.assign(100, 2);
    dying.goneWhenEmpty = true;
    run = 1;
    int deliveries = 0;
    EXPECT_TRUE(DrainQueued(dying, chunk, [&](const std::uint8_t*, std::uint32_t) { ++deliveries; }, run));
    EXPECT_EQ(deliveries, 1);   // what came before the end is still handed over
}
