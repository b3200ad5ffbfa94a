// SPDX-License-Identifier: GPL-2.0-or-later
#include "dm/HdlcFrameCounter.h"

#include "dm/HdlcDeframer.h"
#include "dm/HdlcFramer.h"
#include "dm/HdlcScan_p.h"
#include "support/DmFrames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

// The counter must see every stream exactly as the deframer does: the same
// good and bad counts and, for every good frame, the same length and first
// bytes, however the stream is cut into chunks.

namespace {

struct Seen {
    std::uint64_t good = 0, bad = 0;
    std::vector<Bytes> heads;             // first payload bytes of each good frame
    std::vector<std::size_t> lengths;     // payload length of each good frame
    bool operator==(const Seen&) const = default;
};

Seen Deframed(const Bytes& stream, std::size_t maxFrame)
{
    CHdlcDeframer deframer(false, maxFrame);
    std::vector<HdlcItem> items;
    deframer.Push(stream, items);
    Seen seen{deframer.GoodFrames(), deframer.BadFrames(), {}, {}};
    for (const HdlcItem& item : items) {
        if (item.kind != HdlcItem::Kind::Frame)
            continue;
        const std::size_t n = std::min(item.data.size(), CHdlcFrameCounter::kHeadSize);
        seen.heads.emplace_back(item.data.begin(), item.data.begin() + static_cast<std::ptrdiff_t>(n));
        seen.lengths.push_back(item.data.size());
    }
    return seen;
}

// Counts stream fed in chunks that end at each of cuts (ascending), then the rest.
Seen Counted(const Bytes& stream, std::size_t maxFrame, const std::vector<std::size_t>& cuts)
{
    CHdlcFrameCounter counter(maxFrame);
    Seen seen;
    auto onGood = [&seen](const HdlcFrameHead& frame) {
        seen.heads.emplace_back(frame.head.begin(), frame.head.end());
        seen.lengths.push_back(frame.length);
    };
    std::size_t at = 0;
    for (const std::size_t cut : cuts) {
        counter.Push(std::span(stream).subspan(at, cut - at), onGood);
        at = cut;
    }
    counter.Push(std::span(stream).subspan(at), onGood);
    seen.good = counter.GoodFrames();
    seen.bad = counter.BadFrames();
    return seen;
}

::testing::AssertionResult SameAsDeframer(const Bytes& stream, std::size_t maxFrame, const std::vector<std::size_t>& cuts,
                                          const Seen& expected)
{
    const Seen got = Counted(stream, maxFrame, cuts);
    if (got == expected)
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    failure << "good " << got.good << " (deframer " << expected.good << "), bad " << got.bad << " (deframer "
            << expected.bad << "), good frames " << got.lengths.size() << " (deframer " << expected.lengths.size()
            << "), cut at";
    for (const std::size_t cut : cuts)
        failure << ' ' << cut;
    return failure;
}

Bytes Join(const std::vector<Bytes>& parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A packet framed by the tool's own framer.
Bytes Framed(const Bytes& packet)
{
    std::array<unsigned char, kHdlcScratchSize> buffer{};
    std::copy(packet.begin(), packet.end(), buffer.begin());
    const int n = CHdlcFramer().Frame(buffer.data(), static_cast<int>(packet.size()));
    return Bytes(buffer.begin(), buffer.begin() + n);
}

// A DM log packet: 10 00, two lengths, the log code, then body bytes.
Bytes LogPacket(std::uint16_t code, std::size_t body, std::uint8_t fill)
{
    Bytes p = {0x10, 0x00, 0x0C, 0x00, 0x0C, 0x00, static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8)};
    p.resize(p.size() + body, fill);
    return p;
}

// A packet whose FCS holds 0x7E or 0x7D (so it goes on the wire escaped).
Bytes PacketWithEscapedFcs(std::uint8_t special, bool highByte)
{
    for (unsigned x = 0;; ++x) {
        const Bytes p = {0x4B, static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x >> 8)};
        const std::uint16_t fcs = HdlcFcs(p);
        if ((highByte ? fcs >> 8 : fcs & 0xFF) == special)
            return p;
    }
}

Bytes WithBrokenFcs(Bytes frame)
{
    // The byte before the flag: the FCS's high byte, or the escaped form of it.
    frame[frame.size() - 2] ^= 0x01;
    return frame;
}

Bytes RandomBytes(std::size_t n, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(rng());
    return out;
}

// Bytes mostly from the ones the framing treats specially, so escapes meet
// flags, escapes and the chunk edges in every order.
Bytes SpecialHeavyBytes(std::size_t n, std::uint32_t seed)
{
    static constexpr std::array<std::uint8_t, 6> kAlphabet = {0x7E, 0x7D, 0x5E, 0x5D, 0x10, 0x00};
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out) {
        const unsigned r = rng();
        b = (r & 0x100) ? kAlphabet[r % kAlphabet.size()] : static_cast<std::uint8_t>(r);
    }
    return out;
}

// Good log packets of random lengths and contents with noise between some of them.
Bytes MixedStream(std::size_t frames, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out;
    for (std::size_t i = 0; i < frames; ++i) {
        Bytes packet = LogPacket(static_cast<std::uint16_t>(rng()), rng() % 40, 0);
        for (std::size_t k = 8; k < packet.size(); ++k)
            packet[k] = static_cast<std::uint8_t>(rng());
        packet.resize(rng() % (packet.size() + 1));   // some shorter than a log header, some empty
        Bytes frame = packet.empty() ? Bytes{0x7E} : Framed(packet);
        if (rng() % 5 == 0 && frame.size() >= 3)
            frame = WithBrokenFcs(frame);
        out.insert(out.end(), frame.begin(), frame.end());
        if (rng() % 7 == 0) {
            const Bytes noise = SpecialHeavyBytes(rng() % 12, static_cast<std::uint32_t>(rng()));
            out.insert(out.end(), noise.begin(), noise.end());
        }
    }
    return out;
}

struct Case {
    const char* name;
    Bytes stream;
    std::size_t maxFrame = CHdlcDeframer::kDefaultMaxFrame;
};

std::vector<Case> ShortCases()
{
    const Bytes check = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39};
    return {
        {"empty", {}},
        {"check string 123456789, FCS 0x906E", {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x6E, 0x90, 0x7E}},
        {"7E and 7D in the payload", Framed({0x10, 0x7E, 0x7D, 0x7E, 0x00, 0x7D, 0x7D, 0x7E, 0x7E, 0x01})},
        {"7E and 7D in the log code", Join({Framed(LogPacket(0x7E7D, 4, 0x7E)), Framed(LogPacket(0x7D7E, 4, 0x7D))})},
        {"FCS low byte 7E", Framed(PacketWithEscapedFcs(0x7E, false))},
        {"FCS high byte 7E", Framed(PacketWithEscapedFcs(0x7E, true))},
        {"FCS low byte 7D", Framed(PacketWithEscapedFcs(0x7D, false))},
        {"FCS high byte 7D", Framed(PacketWithEscapedFcs(0x7D, true))},
        {"broken FCS between good frames",
         Join({Framed(LogPacket(0x1005, 3, 1)), WithBrokenFcs(Framed(LogPacket(0x1006, 3, 2))), Framed(check)})},
        {"broken escaped FCS byte", WithBrokenFcs(Framed(PacketWithEscapedFcs(0x7E, true)))},
        {"escape cut by the flag after a good FCS", Join({Bytes{0x60, 0x01, 0x9B, 0x7B, 0x7D, 0x7E}, Framed(check)})},
        {"escape alone", Bytes{0x7D, 0x7E, 0x7D, 0x7D, 0x7E}},
        {"a single byte cannot hold an FCS", Bytes{0x01, 0x7E, 0x7D, 0x5E, 0x7E}},
        {"two bytes: an empty packet's FCS", Bytes{0x00, 0x00, 0x7E, 0x12, 0x34, 0x7E}},
        {"empty frames between flags", Join({Bytes{0x7E, 0x7E, 0x7E}, Framed(check), Bytes{0x7E, 0x7E}, Framed(check)})},
        {"no leading flag, garbage first", Join({Bytes{0xAA, 0x55, 0x10}, Bytes{0x7E}, Framed(check)})},
        {"an open frame at the end", Join({Framed(check), Bytes{0x10, 0x00, 0x7D}})},
        {"log packets of 6 to 9 bytes",
         Join({Framed({0x10, 0, 0, 0, 0, 0}), Framed({0x10, 0, 0, 0, 0, 0, 0x34}), Framed({0x10, 0, 0, 0, 0, 0, 0x34, 0x12}),
               Framed({0x10, 0, 0, 0, 0, 0, 0x34, 0x12, 0x99})})},
        {"limit 3: payload of one byte passes, two overflow", Join({Framed({0x60}), Framed({0x60, 0x61}), Framed({0x62})}), 3},
        {"limit 0 is taken as 3", Join({Framed({0x60}), Framed({0x60, 0x61}), Framed({})}), 0},
        {"limit 10: an escape at the limit overflows",
         Join({Framed({1, 2, 3, 4, 5, 6, 7, 0x7E}), Framed({1, 2, 3, 4, 5, 6, 7, 8, 0x7D}), Framed({9, 0x7E})}), 10},
        {"limit 10: exactly ten bytes with escapes in them", Framed({0x7E, 2, 0x7D, 4, 5, 6, 7, 0x7E}), 10},
        {"limit 10: overflow ended by an escape at the flag",
         Join({Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x7D, 0x7E}, Framed({0x42})}), 10},
        {"limit 9: frames across the limit",
         Join({Framed(LogPacket(0x1111, 0, 0)), Framed({1, 2, 3, 4, 5, 6, 7}), Framed({0x7D, 2, 3, 4, 5, 6, 7})}), 9},
        {"special-heavy noise", SpecialHeavyBytes(600, 11)},
        {"special-heavy noise, limit 5", SpecialHeavyBytes(600, 12), 5},
        {"mixed frames and noise", MixedStream(40, 13)},
        {"mixed frames and noise, limit 12", MixedStream(40, 14), 12},
        {"random bytes", RandomBytes(1500, 15)},
    };
}

}  // namespace

TEST(HdlcFrameCounter, MatchesTheDeframerCutAnywhere)
{
    for (const Case& c : ShortCases()) {
        SCOPED_TRACE(c.name);
        const Seen expected = Deframed(c.stream, c.maxFrame);
        ASSERT_TRUE(SameAsDeframer(c.stream, c.maxFrame, {}, expected));
        // Every single cut, and every pair of cuts a few bytes apart.
        for (std::size_t cut = 0; cut <= c.stream.size(); ++cut) {
            ASSERT_TRUE(SameAsDeframer(c.stream, c.maxFrame, {cut}, expected));
            for (std::size_t gap = 1; gap <= 3 && cut + gap <= c.stream.size(); ++gap)
                ASSERT_TRUE(SameAsDeframer(c.stream, c.maxFrame, {cut, cut + gap}, expected));
        }
        std::vector<std::size_t> bytewise(c.stream.size());
        for (std::size_t i = 0; i < bytewise.size(); ++i)
            bytewise[i] = i;
        ASSERT_TRUE(SameAsDeframer(c.stream, c.maxFrame, bytewise, expected));
    }
}

TEST(HdlcFrameCounter, MatchesTheDeframerOnLongStreamsInRandomChunks)
{
    Bytes longest(CHdlcDeframer::kDefaultMaxFrame - 2, 0x7E);   // every byte escaped
    Bytes tooLong(CHdlcDeframer::kDefaultMaxFrame - 1, 0x55);
    const Bytes logs = MixedStream(3000, 21);
    const std::vector<Case> cases = {
        {"random bytes", RandomBytes(200000, 22)},
        {"special-heavy bytes", SpecialHeavyBytes(100000, 23)},
        {"framed log packets with noise", logs},
        {"the longest frame that passes, all escaped, between log packets",
         Join({Framed(LogPacket(0x1234, 10, 0)), ReferenceFrame(longest), Framed(LogPacket(0x4321, 10, 0))})},
        {"one byte too long, then a log packet", Join({ReferenceFrame(tooLong), Framed(LogPacket(0x1234, 10, 0))})},
        {"far too long: noise without a flag, then log packets",
         Join({Bytes(200000, 0x41), Bytes{0x7D, 0x7E}, logs})},
        {"log packets, limit 40", logs, 40},
    };
    std::mt19937 rng(24);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Seen expected = Deframed(c.stream, c.maxFrame);
        for (const std::size_t most : {std::size_t{16}, std::size_t{700}, std::size_t{8192}}) {
            SCOPED_TRACE(::testing::Message() << "chunks of 1.." << most);
            std::vector<std::size_t> cuts;
            for (std::size_t at = rng() % most + 1; at < c.stream.size(); at += rng() % most + 1)
                cuts.push_back(at);
            ASSERT_TRUE(SameAsDeframer(c.stream, c.maxFrame, cuts, expected));
        }
    }
}

TEST(HdlcFrameCounter, ResetDropsAPartialFrameAndKeepsTheCounts)
{
    CHdlcFrameCounter counter;
    const Bytes frame = Framed({0x10, 0x20});
    counter.Push(frame);
    counter.Push(Bytes{0x10, 0x7D});   // an open frame, inside an escape
    counter.Reset();
    std::vector<std::size_t> lengths;
    counter.Push(frame, [&lengths](const HdlcFrameHead& f) { lengths.push_back(f.length); });
    EXPECT_EQ(counter.GoodFrames(), 2u);
    EXPECT_EQ(counter.BadFrames(), 0u);
    EXPECT_EQ(lengths, std::vector<std::size_t>{2});
}

// The deframer reads plain runs in one go but must give the very items it
// gives byte by byte (one-byte chunks never form a run longer than a byte).
TEST(HdlcDeframer, RunsReadAsByteByByte)
{
    std::vector<Case> cases = ShortCases();
    cases.push_back({"random bytes", RandomBytes(50000, 31)});
    cases.push_back({"log packets and noise, limit 20", MixedStream(500, 32), 20});
    cases.push_back({"over the default limit", Join({ReferenceFrame(Bytes(CHdlcDeframer::kDefaultMaxFrame, 0x31)),
                                                     Framed({0x60, 0x7E})})});
    auto same = [](const std::vector<HdlcItem>& a, const std::vector<HdlcItem>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const HdlcItem& x, const HdlcItem& y) { return x.kind == y.kind && x.data == y.data; });
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CHdlcDeframer whole(false, c.maxFrame), bytewise(false, c.maxFrame);
        std::vector<HdlcItem> fromWhole, fromBytes;
        whole.Push(c.stream, fromWhole);
        for (const std::uint8_t b : c.stream)
            bytewise.Push(std::span(&b, 1), fromBytes);
        EXPECT_TRUE(same(fromWhole, fromBytes));
        EXPECT_EQ(whole.GoodFrames(), bytewise.GoodFrames());
        EXPECT_EQ(whole.BadFrames(), bytewise.BadFrames());
    }
}

TEST(HdlcScan, FindsTheFirstFlagOrEscapeFromAnyStartToAnyEnd)
{
    const Bytes bytes = SpecialHeavyBytes(96, 41);
    Bytes plain = RandomBytes(96, 42);
    std::replace(plain.begin(), plain.end(), std::uint8_t{0x7E}, std::uint8_t{0x3E});
    std::replace(plain.begin(), plain.end(), std::uint8_t{0x7D}, std::uint8_t{0x3D});
    for (const Bytes* buffer : std::array<const Bytes*, 2>{&bytes, &plain})
        for (std::size_t from = 0; from < 20; ++from)
            for (std::size_t to = from; to <= buffer->size(); ++to) {
                SCOPED_TRACE(::testing::Message() << "bytes " << from << ".." << to);
                const std::uint8_t* const b = buffer->data() + from;
                const std::uint8_t* const e = buffer->data() + to;
                ASSERT_EQ(hdlc_scan::FindFlagOrEscape(b, e),
                          std::find_if(b, e, [](std::uint8_t x) { return x == 0x7E || x == 0x7D; }));
                ASSERT_EQ(hdlc_scan::FindFlag(b, e), std::find(b, e, std::uint8_t{0x7E}));
            }
    // A lone special at each place of a plain buffer.
    for (std::size_t at = 0; at < plain.size(); ++at)
        for (const std::uint8_t special : {std::uint8_t{0x7E}, std::uint8_t{0x7D}}) {
            Bytes one = plain;
            one[at] = special;
            ASSERT_EQ(hdlc_scan::FindFlagOrEscape(one.data(), one.data() + one.size()), one.data() + at);
        }
}
