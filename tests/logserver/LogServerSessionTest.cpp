// SPDX-License-Identifier: GPL-2.0-or-later
// The Log server session with a fake port: replies queued in request order
// with their own bytes, and the replay written as the port takes it.
#include "logserver/LogServerSession.h"

#include "logserver/CannedReplies.h"
#include "logserver/LogReplay.h"
#include "support/DmFrames.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();

// Takes whole writes until `budget` bytes were taken, then part of one, then nothing.
class FakePort : public IByteWriter {
public:
    explicit FakePort(std::size_t budget = kAll) : m_budget(budget) {}
    std::size_t Write(std::span<const std::uint8_t> data) override
    {
        const std::size_t n = std::min(data.size(), m_budget);
        m_budget -= n;
        bytes.insert(bytes.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
        writes.push_back(data.size());
        return n;
    }
    Bytes bytes;
    std::vector<std::size_t> writes;   // bytes offered per call

private:
    std::size_t m_budget;
};

Bytes Pattern(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return b;
}

Bytes Fixed(std::uint8_t command)
{
    const auto bytes = CannedReplyBytes(command);
    return {bytes.begin(), bytes.end()};
}

TEST(LogServerSession, RepliesLeaveInRequestOrderWithTheirOwnBytes)
{
    CLogServerSession session;
    EXPECT_TRUE(session.OnReceived(ReferenceFrame({0x00})));
    EXPECT_FALSE(session.OnReceived(ReferenceFrame({0x41, 0x54})));   // no reply: nothing queued
    EXPECT_TRUE(session.OnReceived(ReferenceFrame({0x7C})));
    EXPECT_EQ(session.QueuedReplies(), 2u);

    FakePort port;
    for (std::uint8_t command : {0x00, 0x7C}) {
        const std::optional<Bytes> reply = session.TakeReply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(*reply, Fixed(command));
        EXPECT_EQ(session.SendReply(*reply, port), ReferenceFrame(*reply).size());
    }
    EXPECT_FALSE(session.TakeReply());
    EXPECT_EQ(port.bytes, [] {
        Bytes all = ReferenceFrame(Fixed(0x00));
        const Bytes second = ReferenceFrame(Fixed(0x7C));
        all.insert(all.end(), second.begin(), second.end());
        return all;
    }());
}

TEST(LogServerSession, NoReplyWhileAReplayRuns)
{
    CLogServerSession session;
    session.OnReceived(ReferenceFrame({0x1D}));
    const Bytes reply = *session.TakeReply();
    FakePort port;
    session.StartReplay(Pattern(10));
    EXPECT_EQ(session.SendReply(reply, port), 0u);
    session.EndReplay();
    EXPECT_TRUE(port.bytes.empty());
    EXPECT_EQ(session.SendReply(reply, port), ReferenceFrame(reply).size());
}

TEST(LogServerSession, ReplayWritesAlignedChunksAsThePortTakesThem)
{
    struct Case {
        const char* name;
        std::size_t size, end, budget;
        ReplayState state;
        std::size_t written;
        std::vector<std::size_t> writes;
    };
    const Case cases[] = {
        {"empty file: nothing written", 0, kAll, kAll, ReplayState::Done, 0, {}},
        {"one byte", 1, kAll, kAll, ReplayState::Done, 1, {1}},
        {"exactly one chunk: no empty write after it", 1024, kAll, kAll, ReplayState::Done, 1024, {1024}},
        {"chunk and a remainder", 2500, kAll, kAll, ReplayState::Done, 2500, {1024, 1024, 452}},
        {"only the first 1500 bytes asked for", 2500, 1500, kAll, ReplayState::Done, 1500, {1024, 476}},
        {"the peer stops mid chunk: the replay ends there", 4096, kAll, 1500, ReplayState::Stalled, 1500,
         {1024, 1024}},
        {"the peer takes nothing", 100, kAll, 0, ReplayState::Stalled, 0, {100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CLogServerSession session;
        const Bytes data = Pattern(c.size);
        session.StartReplay(data);
        EXPECT_EQ(session.ReplayingFlag(), 1);
        FakePort port(c.budget);
        EXPECT_EQ(session.WriteReplay(port, c.end), c.state);
        EXPECT_EQ(port.bytes, Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(c.written)));
        EXPECT_EQ(port.writes, c.writes);
        // Once over, further calls write nothing.
        EXPECT_EQ(session.WriteReplay(port), c.state);
        EXPECT_EQ(port.bytes.size(), c.written);
        session.EndReplay();
        EXPECT_EQ(session.ReplayingFlag(), 0);
        EXPECT_TRUE(session.LogData().empty());
    }
}

TEST(LogServerSession, ReplayResumesWhereItStopped)
{
    CLogServerSession session;
    const Bytes data = Pattern(3 * 1024 + 10);
    session.StartReplay(data);
    FakePort port;
    EXPECT_EQ(session.WriteReplay(port, kAll, 1), ReplayState::Running);
    EXPECT_EQ(session.ReplayOffset(), 1024u);
    EXPECT_EQ(session.WriteReplay(port, kAll, 2), ReplayState::Running);
    EXPECT_EQ(session.WriteReplay(port, kAll, 2), ReplayState::Done);
    EXPECT_EQ(port.bytes, data);
    EXPECT_EQ(port.writes, (std::vector<std::size_t>{1024, 1024, 1024, 10}));

    // The same bytes as the replay in one go.
    Bytes whole;
    ReplayInChunks(data, [&](const std::uint8_t* p, std::size_t n) { whole.insert(whole.end(), p, p + n); });
    EXPECT_EQ(port.bytes, whole);
}

}   // namespace
