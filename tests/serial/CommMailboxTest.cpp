// SPDX-License-Identifier: GPL-2.0-or-later
// The reader-to-window mailbox on its own: a plain thread plays the reader,
// the test's thread plays the window with a recording handler.
#include "serial/CommMailbox.h"

#include "serial/SerialPort.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class RecordingWindow final : public ISerialNotify {
public:
    void OnCommMessage(const CommMessage& message) override
    {
        messages.push_back(message.message);
        chunks.emplace_back(message.chunk.begin(), message.chunk.end());
        masks.push_back(message.eventMask);
        if (inside)
            inside();
    }
    std::vector<unsigned> messages;
    std::vector<std::vector<std::uint8_t>> chunks;
    std::vector<std::uint32_t> masks;
    std::function<void()> inside;
};

bool Readable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

// Waits (generously) until the reader's message is in the mailbox.
bool WaitForMessage(const CCommMailbox& box)
{
    return Readable(box.WakeFd(), 10000) && box.Waiting();
}

TEST(CommMailbox, ChunkIsHandedOverWholeAndTheReaderWaitsForTheHandler)
{
    CCommMailbox box;
    ASSERT_GE(box.WakeFd(), 0) << serialio::DescribeError(box.WakeError());
    box.Open();
    const std::vector<std::uint8_t> chunk = {0x7E, 0x7D, 0x00, 0xFF};
    auto reader = std::async(std::launch::async, [&] {
        return box.Send({WM_COMM_RXCHAR, chunk, 0});
    });
    ASSERT_TRUE(WaitForMessage(box));
    // Not handled yet: the reader is still held.
    EXPECT_EQ(reader.wait_for(20ms), std::future_status::timeout);

    RecordingWindow window;
    EXPECT_TRUE(box.RunPending(window));
    EXPECT_TRUE(reader.get());
    ASSERT_EQ(window.messages, std::vector<unsigned>{WM_COMM_RXCHAR});
    EXPECT_EQ(window.chunks[0], chunk);
    // The wake-up was taken back with the message.
    EXPECT_FALSE(Readable(box.WakeFd(), 0));
    EXPECT_FALSE(box.Waiting());
    EXPECT_FALSE(box.RunPending(window));
}

TEST(CommMailbox, LineEventCarriesItsMask)
{
    CCommMailbox box;
    box.Open();
    auto reader = std::async(std::launch::async, [&] { return box.Send({WM_COMM_EVENT, {}, EV_CTS | EV_RING}); });
    ASSERT_TRUE(WaitForMessage(box));
    RecordingWindow window;
    EXPECT_TRUE(box.RunPending(window));
    EXPECT_TRUE(reader.get());
    ASSERT_EQ(window.masks, std::vector<std::uint32_t>{EV_CTS | EV_RING});
}

TEST(CommMailbox, CancelReleasesAWaitingReaderAndDropsItsChunk)
{
    CCommMailbox box;
    box.Open();
    const std::vector<std::uint8_t> chunk = {1, 2, 3};
    auto reader = std::async(std::launch::async, [&] { return box.Send({WM_COMM_RXCHAR, chunk, 0}); });
    ASSERT_TRUE(WaitForMessage(box));
    box.Cancel();
    EXPECT_FALSE(reader.get());
    RecordingWindow window;
    EXPECT_FALSE(box.RunPending(window));
    EXPECT_TRUE(window.messages.empty());
    // Refused at once until the next connection: no reader can hang on a closed port.
    EXPECT_FALSE(box.Send({WM_COMM_RXCHAR, chunk, 0}));
}

TEST(CommMailbox, NothingIsAcceptedBeforeTheFirstOpen)
{
    CCommMailbox box;
    const std::vector<std::uint8_t> chunk = {1};
    EXPECT_FALSE(box.Send({WM_COMM_RXCHAR, chunk, 0}));
    box.PostGone();
    EXPECT_FALSE(box.Waiting());
}

TEST(CommMailbox, CloseFromInsideTheHandlerReleasesTheReader)
{
    CCommMailbox box;
    box.Open();
    const std::vector<std::uint8_t> chunk = {9};
    auto reader = std::async(std::launch::async, [&] { return box.Send({WM_COMM_RXCHAR, chunk, 0}); });
    ASSERT_TRUE(WaitForMessage(box));
    RecordingWindow window;
    window.inside = [&] {
        box.Cancel();
        // The reader returns while the handler still runs: a join here cannot hang.
        EXPECT_EQ(reader.wait_for(10s), std::future_status::ready);
    };
    EXPECT_TRUE(box.RunPending(window));
    EXPECT_FALSE(reader.get());
}

TEST(CommMailbox, ANestedLookFromInsideTheHandlerRunsNothing)
{
    CCommMailbox box;
    box.Open();
    const std::vector<std::uint8_t> chunk = {5, 6};
    auto reader = std::async(std::launch::async, [&] { return box.Send({WM_COMM_RXCHAR, chunk, 0}); });
    ASSERT_TRUE(WaitForMessage(box));
    RecordingWindow window;
    RecordingWindow nested;
    window.inside = [&] { EXPECT_FALSE(box.RunPending(nested)); };
    EXPECT_TRUE(box.RunPending(window));
    EXPECT_TRUE(reader.get());
    EXPECT_EQ(window.messages.size(), 1u);
    EXPECT_TRUE(nested.messages.empty());
}

TEST(CommMailbox, GoneNoticeArrivesOnceUnlessTheConnectionEndedFirst)
{
    struct Case {
        const char* name;
        std::function<void(CCommMailbox&)> before;   // the window's actions before it looks
        int handled;
    };
    const Case cases[] = {
        {"looked at while connected", [](CCommMailbox&) {}, 1},
        {"closed first", [](CCommMailbox& box) { box.Cancel(); }, 0},
        {"closed and reopened first", [](CCommMailbox& box) { box.Cancel(); box.Open(); }, 0},
        {"reopened first", [](CCommMailbox& box) { box.Open(); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CCommMailbox box;
        box.Open();
        box.PostGone();   // posted: returns without waiting
        EXPECT_TRUE(Readable(box.WakeFd(), 0));
        c.before(box);
        RecordingWindow window;
        while (box.RunPending(window)) {
        }
        EXPECT_EQ(static_cast<int>(window.messages.size()), c.handled);
        if (c.handled == 1) {
            EXPECT_EQ(window.messages[0], WM_COMM_GONE);
        }
    }
}

// Many chunks in a row, each one handled before the reader sends the next.
TEST(CommMailbox, ChunksArriveInOrderOneAtATime)
{
    CCommMailbox box;
    box.Open();
    constexpr int kChunks = 500;
    std::thread reader([&] {
        for (int i = 0; i < kChunks; ++i) {
            const std::array<std::uint8_t, 2> chunk{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)};
            if (!box.Send({WM_COMM_RXCHAR, chunk, 0}))
                return;
        }
    });
    RecordingWindow window;
    while (window.chunks.size() < kChunks && Readable(box.WakeFd(), 10000))
        box.RunPending(window);
    reader.join();
    ASSERT_EQ(window.chunks.size(), static_cast<std::size_t>(kChunks));
    for (int i = 0; i < kChunks; ++i)
        EXPECT_EQ(window.chunks[static_cast<std::size_t>(i)],
                  (std::vector<std::uint8_t>{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)}));
}

}  // namespace

namespace {

// A burst source that plays a list of chunks, then reports nothing more; it
// records whether the reader was still held at each read.
class ScriptedBurst final : public IBurstSource {
public:
    std::vector<std::vector<std::uint8_t>> chunks;
    std::function<bool()> readerHeld;
    std::vector<bool> heldAtRead;
    std::size_t reads = 0;

    std::span<const std::uint8_t> ReadNext() override
    {
        heldAtRead.push_back(readerHeld());
        if (reads >= chunks.size())
            return {};
        return chunks[reads++];
    }
};

}  // namespace

TEST(CommMailbox, BurstChunksFollowTheFirstWhileTheReaderIsHeld)
{
    struct Case {
        const char* name;
        std::size_t burstChunks;   // played by the source after the reader's chunk
        bool cancelInSecond;       // a handler closes the port during the burst
        std::size_t handled;       // chunks the window handles in all
        std::size_t reads;         // calls of the source
    } const cases[] = {
        {"no more came: the source is asked once", 0, false, 1, 1},
        {"three more, then nothing", 3, false, 4, 4},
        {"closed in the second handler: no read after it", 5, true, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CCommMailbox box;
        box.Open();
        const std::vector<std::uint8_t> first = {0};
        std::atomic<bool> released{false};
        auto reader = std::async(std::launch::async, [&] {
            const bool handled = box.Send({WM_COMM_RXCHAR, first, 0});
            released = true;
            return handled;
        });
        ASSERT_TRUE(WaitForMessage(box));

        ScriptedBurst burst;
        for (std::size_t i = 1; i <= c.burstChunks; ++i)
            burst.chunks.push_back(std::vector<std::uint8_t>(i, static_cast<std::uint8_t>(i)));
        burst.readerHeld = [&] { return !released.load(); };
        RecordingWindow window;
        window.inside = [&] {
            if (c.cancelInSecond && window.chunks.size() == 2)
                box.Cancel();
        };
        EXPECT_TRUE(box.RunPending(window, &burst));
        EXPECT_EQ(reader.get(), !c.cancelInSecond);
        ASSERT_EQ(window.chunks.size(), c.handled);
        for (std::size_t i = 0; i < c.handled; ++i)
            EXPECT_EQ(window.chunks[i], i == 0 ? first : burst.chunks[i - 1]);
        EXPECT_EQ(burst.heldAtRead.size(), c.reads);
        // Only one thread reads: the source is asked only while the reader waits.
        for (const bool held : burst.heldAtRead)
            EXPECT_TRUE(held);
    }
}

TEST(CommMailbox, ALineEventStartsNoBurst)
{
    CCommMailbox box;
    box.Open();
    auto reader = std::async(std::launch::async, [&] { return box.Send({WM_COMM_EVENT, {}, EV_RING}); });
    ASSERT_TRUE(WaitForMessage(box));
    ScriptedBurst burst;
    burst.chunks = {{1, 2}};
    burst.readerHeld = [] { return true; };
    RecordingWindow window;
    EXPECT_TRUE(box.RunPending(window, &burst));
    EXPECT_TRUE(reader.get());
    EXPECT_EQ(window.messages, std::vector<unsigned>{WM_COMM_EVENT});
    EXPECT_EQ(burst.reads, 0u);
}
