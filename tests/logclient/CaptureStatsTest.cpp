#include "logclient/CaptureStats.h"
#include "support/DmFrames.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

using Clock = CCaptureStats::Clock;
using std::chrono::milliseconds;

// A DM log packet: 10 00, two lengths, the log code, an 8-byte timestamp.
Bytes LogPacket(std::uint16_t code)
{
    return {0x10, 0x00, 0x0C, 0x00, 0x0C, 0x00, static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8),
            1, 2, 3, 4, 5, 6, 7, 8};
}

Bytes BrokenFcs(const Bytes& payload)
{
    Bytes frame = ReferenceFrame(payload);
    frame[frame.size() - 2] ^= 0x01;   // the FCS's high byte, never an escape here
    return frame;
}

Bytes Join(const std::vector<Bytes>& parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Case {
    const char* name;
    Bytes stream;
    std::uint64_t frames, bad;
    std::map<std::uint16_t, std::uint64_t> codes;
};

TEST(CaptureStats, CountsFramesBadFcsAndLogCodesInAnyChunking)
{
    const std::vector<Case> cases = {
        {"empty", {}, 0, 0, {}},
        {"one log packet", ReferenceFrame(LogPacket(0xB0C0)), 1, 0, {{0xB0C0, 1}}},
        {"same code twice, another once",
         Join({ReferenceFrame(LogPacket(0x1005)), ReferenceFrame(LogPacket(0xB821)), ReferenceFrame(LogPacket(0x1005))}),
         3, 0, {{0x1005, 2}, {0xB821, 1}}},
        {"flag and escape bytes inside the code are undone",
         Join({ReferenceFrame(LogPacket(0x7E7D)), ReferenceFrame(LogPacket(0x7D7E))}), 2, 0,
         {{0x7E7D, 1}, {0x7D7E, 1}}},
        {"a broken FCS counts as a frame, bad, without its code",
         Join({BrokenFcs(LogPacket(0x1111)), ReferenceFrame(LogPacket(0x2222))}), 2, 1, {{0x2222, 1}}},
        {"replies that are not log packets count as frames only",
         Join({ReferenceFrame({0x60, 0x00}), ReferenceFrame({0x73, 0, 0, 0, 3, 0, 0, 0})}), 2, 0, {}},
        {"log packet too short for a code", ReferenceFrame({0x10, 0x00, 0x02, 0x00, 0x02, 0x00, 0x05}), 1, 0, {}},
        {"a frame still open at the end is not counted yet",
         Join({ReferenceFrame(LogPacket(0x3333)), Bytes{0x10, 0x00, 0x0C}}), 1, 0, {{0x3333, 1}}},
        {"leading and doubled flags delimit nothing",
         Join({Bytes{0x7E, 0x7E}, ReferenceFrame(LogPacket(0x4444)), Bytes{0x7E}}), 1, 0, {{0x4444, 1}}},
    };
    for (const Case& c : cases) {
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4095}}) {
            SCOPED_TRACE(::testing::Message() << c.name << ", chunks of " << chunk);
            CCaptureStats stats;
            const Clock::time_point t0{};
            for (std::size_t at = 0; at < c.stream.size(); at += chunk)
                stats.Feed(std::span(c.stream).subspan(at, std::min(chunk, c.stream.size() - at)), t0);
            EXPECT_EQ(stats.Bytes(), c.stream.size());
            EXPECT_EQ(stats.Frames(), c.frames);
            EXPECT_EQ(stats.BadFrames(), c.bad);
            EXPECT_EQ(stats.DistinctLogCodes(), c.codes.size());
            EXPECT_EQ(stats.LogCodeCounts(), c.codes);
        }
    }
}

TEST(CaptureStats, RateCoversTheLastSecondOnly)
{
    struct Step {
        int atMs;        // feed time
        std::size_t bytes;
        int askMs;       // when the rate is asked
        std::uint64_t lastSecond;
    };
    const std::vector<Step> steps = {
        {0, 100, 0, 100},
        {500, 50, 500, 150},
        {999, 10, 999, 160},
        {1000, 1, 1000, 61},      // the tenth that started at 0 has left the window
        {1000, 0, 1550, 11},      // only 999 and 1000 are younger than a second
        {1000, 0, 2100, 0},
        {5000, 7, 5000, 7},       // a long gap: stale slots are not counted again
    };
    CCaptureStats stats;
    const Clock::time_point t0 = Clock::time_point{} + std::chrono::hours(1);
    std::vector<std::uint8_t> data(128, 0x55);
    for (const Step& s : steps) {
        SCOPED_TRACE(::testing::Message() << "fed at " << s.atMs << " ms, asked at " << s.askMs << " ms");
        stats.Feed(std::span(data).first(s.bytes), t0 + milliseconds(s.atMs));
        EXPECT_EQ(stats.BytesLastSecond(t0 + milliseconds(s.askMs)), s.lastSecond);
    }
    EXPECT_EQ(stats.Bytes(), 168u);
    stats.Reset();
    EXPECT_EQ(stats.Bytes(), 0u);
    EXPECT_EQ(stats.BytesLastSecond(t0 + milliseconds(5000)), 0u);
}

TEST(CaptureStats, SampleCaptureHasOnlyGoodFrames)
{
    const std::string path = std::string(ORVANE_SAMPLE_DATA) + "/qmdl/goodsim-small.qmdl";
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        GTEST_SKIP() << "no sample data at " << path;
    Bytes data;
    std::array<std::uint8_t, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;)
        data.insert(data.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
    std::fclose(file);
    CCaptureStats stats;
    stats.Feed(data, Clock::time_point{});
    EXPECT_EQ(stats.Frames(), 29u);
    EXPECT_EQ(stats.BadFrames(), 0u);
    EXPECT_GT(stats.DistinctLogCodes(), 0u);
}

}  // namespace
