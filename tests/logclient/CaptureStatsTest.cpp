// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/SampleData.h"
#include "logclient/CaptureStats.h"
#include "dm/HdlcDeframer.h"
#include "support/DmFrames.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
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

// The figures as a deframer that keeps every frame tells them: the reading
// the counter replaces, so the two must agree on any stream in any chunking.
struct Figures {
    std::uint64_t frames = 0, bad = 0;
    std::map<std::uint16_t, std::uint64_t> codes;
    bool operator==(const Figures&) const = default;
};

Figures DeframedFigures(const Bytes& stream)
{
    CHdlcDeframer deframer;
    std::vector<HdlcItem> items;
    deframer.Push(stream, items);
    Figures f{deframer.GoodFrames() + deframer.BadFrames(), deframer.BadFrames(), {}};
    for (const HdlcItem& item : items)
        if (item.kind == HdlcItem::Kind::Frame && item.data.size() >= 8 && item.data[0] == 0x10)
            ++f.codes[static_cast<std::uint16_t>(item.data[6] | (item.data[7] << 8))];
    return f;
}

Figures FedFigures(const Bytes& stream, const std::vector<std::size_t>& chunks)
{
    CCaptureStats stats;
    std::size_t at = 0;
    for (std::size_t i = 0; at < stream.size(); ++i) {
        const std::size_t n = std::min(chunks[i % chunks.size()], stream.size() - at);
        stats.Feed(std::span(stream).subspan(at, n), Clock::time_point{});
        at += n;
    }
    EXPECT_EQ(stats.Bytes(), stream.size());
    EXPECT_EQ(stats.DistinctLogCodes(), stats.LogCodeCounts().size());
    return {stats.Frames(), stats.BadFrames(), stats.LogCodeCounts()};
}

// Log packets of a few codes and random lengths (some too short for a code),
// some with a broken FCS, some with noise after them, some empty frames.
Bytes LogTraffic(std::size_t packets, std::uint32_t seed, bool specialHeavy)
{
    std::mt19937 rng(seed);
    auto byte = [&rng, specialHeavy] {
        const unsigned r = rng();
        return specialHeavy && (r & 0x300) == 0 ? static_cast<std::uint8_t>(0x7D + (r & 1)) : static_cast<std::uint8_t>(r);
    };
    std::vector<Bytes> parts;
    for (std::size_t i = 0; i < packets; ++i) {
        Bytes packet = LogPacket(static_cast<std::uint16_t>(0x7D7D + rng() % 4));
        packet.resize(rng() % 40);
        for (std::size_t k = 8; k < packet.size(); ++k)
            packet[k] = byte();
        if (packet.size() > 1 && rng() % 8 == 0)
            packet[0] = byte();
        parts.push_back(packet.empty() ? Bytes{0x7E} : (rng() % 6 == 0 ? BrokenFcs(packet) : ReferenceFrame(packet)));
        if (rng() % 9 == 0) {
            Bytes noise(rng() % 10);
            for (auto& b : noise)
                b = byte();
            parts.push_back(noise);
        }
    }
    return Join(parts);
}

TEST(CaptureStats, FiguresEqualAFullDeframerReadingInAnyChunking)
{
    std::mt19937 rng(99);
    Bytes random(300000);
    for (auto& b : random)
        b = static_cast<std::uint8_t>(rng());
    const struct {
        const char* name;
        Bytes stream;
    } streams[] = {
        {"random bytes", random},
        {"log traffic", LogTraffic(4000, 1, false)},
        {"log traffic thick with 7E and 7D", LogTraffic(4000, 2, true)},
    };
    for (const auto& s : streams) {
        const Figures expected = DeframedFigures(s.stream);
        for (const std::size_t most : {std::size_t{1}, std::size_t{33}, std::size_t{8192}}) {
            SCOPED_TRACE(::testing::Message() << s.name << ", chunks of 1.." << most);
            std::vector<std::size_t> chunks(257);
            for (auto& n : chunks)
                n = rng() % most + 1;
            EXPECT_EQ(FedFigures(s.stream, chunks), expected);
        }
    }
    // A short stream cut in two at every place.
    const Bytes shortTraffic = LogTraffic(30, 3, true);
    const Figures expected = DeframedFigures(shortTraffic);
    for (std::size_t cut = 1; cut < shortTraffic.size(); ++cut) {
        SCOPED_TRACE(::testing::Message() << "cut at " << cut);
        ASSERT_EQ(FedFigures(shortTraffic, {cut, shortTraffic.size()}), expected);
    }
}

TEST(CaptureStats, CopiesAndMovesCountOnTheirOwn)
{
    const Bytes a = ReferenceFrame(LogPacket(0xB0C0));
    const Bytes b = ReferenceFrame(LogPacket(0x1005));
    CCaptureStats first;
    first.Feed(a, Clock::time_point{});
    CCaptureStats copy = first;
    copy.Feed(a, Clock::time_point{});
    first.Feed(b, Clock::time_point{});
    EXPECT_EQ(first.LogCodeCounts(), (std::map<std::uint16_t, std::uint64_t>{{0xB0C0, 1}, {0x1005, 1}}));
    EXPECT_EQ(copy.LogCodeCounts(), (std::map<std::uint16_t, std::uint64_t>{{0xB0C0, 2}}));

    CCaptureStats moved = std::move(copy);
    moved.Feed(a, Clock::time_point{});
    copy = first;   // the moved-from object is given a new state
    copy.Feed(a, Clock::time_point{});
    EXPECT_EQ(moved.LogCodeCounts(), (std::map<std::uint16_t, std::uint64_t>{{0xB0C0, 3}}));
    EXPECT_EQ(copy.LogCodeCounts(), (std::map<std::uint16_t, std::uint64_t>{{0xB0C0, 2}, {0x1005, 1}}));
    first = moved;
    first.Feed(b, Clock::time_point{});
    EXPECT_EQ(moved.LogCodeCounts(), (std::map<std::uint16_t, std::uint64_t>{{0xB0C0, 3}}));
    EXPECT_EQ(first.LogCodeCounts(), (std::map<std::uint16_t, std::uint64_t>{{0xB0C0, 3}, {0x1005, 1}}));
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
    const std::optional<std::string> sample = SampleFile("qmdl/goodsim-small.qmdl");
    if (!sample)
        GTEST_SKIP() << SampleMissing("qmdl/goodsim-small.qmdl");
    std::FILE* file = std::fopen(sample->c_str(), "rb");
    ASSERT_NE(file, nullptr) << *sample;
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
