// SPDX-License-Identifier: GPL-2.0-or-later
#include "dm/HdlcDeframer.h"

#include "support/Fixtures.h"
#include "support/SampleData.h"
#include "tools/VmodemTestUtil.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

using vmtest::Bytes;
using vmtest::Text;
using Kind = HdlcItem::Kind;

namespace {

struct Item {
    Kind kind;
    Bytes data;
};

struct Case {
    const char* name;
    bool textLines;
    Bytes in;
    std::vector<Item> out;
    std::uint64_t good, bad;
};

std::vector<Item> PushAll(CHdlcDeframer& d, const Bytes& in, std::size_t chunk)
{
    std::vector<HdlcItem> items;
    for (std::size_t at = 0; at < in.size(); at += chunk) {
        const std::size_t n = std::min(chunk, in.size() - at);
        d.Push(std::span<const std::uint8_t>(in.data() + at, n), items);
    }
    std::vector<Item> out;
    for (HdlcItem& i : items)
        out.push_back({i.kind, std::move(i.data)});
    return out;
}

const char* KindName(Kind k)
{
    switch (k) {
    case Kind::Frame: return "Frame";
    case Kind::BadFrame: return "BadFrame";
    case Kind::TextLine: return "TextLine";
    }
    return "?";
}

}  // namespace

TEST(HdlcDeframer, Vectors)
{
    const Case cases[] = {
        {"check string 123456789, FCS 0x906E low byte first", false,
         {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x6E, 0x90, 0x7E},
         {{Kind::Frame, {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39}}}, 1, 0},
        {"7E and 7D in data come back from 7D 5E and 7D 5D", false,
         {0x7D, 0x7E ^ 0x20, 0x7D, 0x7D ^ 0x20, 0x00, 0xB3, 0x16, 0x7E},
         {{Kind::Frame, {0x7E, 0x7D, 0x00}}}, 1, 0},
        {"FCS low byte 7E escaped (4B 0F, FCS 0x557E)", false,
         {0x4B, 0x0F, 0x7D, 0x7E ^ 0x20, 0x55, 0x7E}, {{Kind::Frame, {0x4B, 0x0F}}}, 1, 0},
        {"FCS high byte 7E escaped (4B 85, FCS 0x7E2C)", false,
         {0x4B, 0x85, 0x2C, 0x7D, 0x7E ^ 0x20, 0x7E}, {{Kind::Frame, {0x4B, 0x85}}}, 1, 0},
        {"FCS high byte 7D escaped (4B B6, FCS 0x7D34)", false,
         {0x4B, 0xB6, 0x34, 0x7D, 0x7D ^ 0x20, 0x7E}, {{Kind::Frame, {0x4B, 0xB6}}}, 1, 0},
        {"empty packet: FCS 00 00 alone", false, {0x00, 0x00, 0x7E}, {{Kind::Frame, {}}}, 1, 0},
        {"one FCS bit wrong", false,
         {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x6E, 0x91, 0x7E},
         {{Kind::BadFrame, {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x6E, 0x91}}}, 0, 1},
        {"data byte changed, FCS kept", false, {0x60, 0x02, 0x9B, 0x7B, 0x7E},
         {{Kind::BadFrame, {0x60, 0x02, 0x9B, 0x7B}}}, 0, 1},
        {"leading and repeated flags delimit nothing", false, {0x7E, 0x7E, 0x60, 0x01, 0x9B, 0x7B, 0x7E, 0x7E},
         {{Kind::Frame, {0x60, 0x01}}}, 1, 0},
        {"a single byte cannot hold an FCS", false, {0x01, 0x7E}, {{Kind::BadFrame, {0x01}}}, 0, 1},
        {"escape cut by the flag aborts the frame", false, {0x60, 0x01, 0x9B, 0x7B, 0x7D, 0x7E},
         {{Kind::BadFrame, {0x60, 0x01, 0x9B, 0x7B, 0x7D}}}, 0, 1},
        {"bad frame between good ones", false,
         {0x60, 0x01, 0x9B, 0x7B, 0x7E, 0x60, 0x01, 0x00, 0x00, 0x7E, 0x60, 0x01, 0x9B, 0x7B, 0x7E},
         {{Kind::Frame, {0x60, 0x01}}, {Kind::BadFrame, {0x60, 0x01, 0x00, 0x00}}, {Kind::Frame, {0x60, 0x01}}}, 2, 1},
        {"no flag yet: nothing", false, {0x60, 0x01, 0x9B, 0x7B}, {}, 0, 0},
        {"text off: an AT line is frame data", false, Text("AT\r\x7E"), {{Kind::BadFrame, Text("AT\r")}}, 0, 1},
        {"text line ends at CR", true, Text("AT\r"), {{Kind::TextLine, Text("AT")}}, 0, 0},
        {"CR LF gives one line", true, Text("ATI\r\nat\n"), {{Kind::TextLine, Text("ATI")}, {Kind::TextLine, Text("at")}}, 0, 0},
        {"empty lines are dropped", true, Text("\r\n\r\nAT\r"), {{Kind::TextLine, Text("AT")}}, 0, 0},
        {"DM AT packet keeps its CR inside the frame", true,
         vmtest::RefFrame({0x5E, 'A', 'T', 'I', 0x0D}), {{Kind::Frame, {0x5E, 'A', 'T', 'I', 0x0D}}}, 1, 0},
        {"binary before the CR makes it frame data", true, vmtest::RefFrame({0x73, 0x00, 0x0D, 0x0A}),
         {{Kind::Frame, {0x73, 0x00, 0x0D, 0x0A}}}, 1, 0},
        {"text line then a frame", true, vmtest::Concat({Text("AT\r\n"), {0x60, 0x01, 0x9B, 0x7B, 0x7E}}),
         {{Kind::TextLine, Text("AT")}, {Kind::Frame, {0x60, 0x01}}}, 1, 0},
        {"frame then a text line", true, vmtest::Concat({{0x60, 0x01, 0x9B, 0x7B, 0x7E}, Text("ATI\r")}),
         {{Kind::Frame, {0x60, 0x01}}, {Kind::TextLine, Text("ATI")}}, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Every chunking gives the same items.
        for (const std::size_t chunk : {c.in.size() + 1, std::size_t{1}, std::size_t{3}}) {
            SCOPED_TRACE("chunk " + std::to_string(chunk));
            CHdlcDeframer d(c.textLines);
            const std::vector<Item> got = PushAll(d, c.in, chunk);
            ASSERT_EQ(got.size(), c.out.size());
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_STREQ(KindName(got[i].kind), KindName(c.out[i].kind)) << "item " << i;
                EXPECT_EQ(got[i].data, c.out[i].data) << "item " << i;
            }
            EXPECT_EQ(d.GoodFrames(), c.good);
            EXPECT_EQ(d.BadFrames(), c.bad);
        }
    }
}

TEST(HdlcDeframer, OversizeFrameIsDroppedUpToItsFlag)
{
    CHdlcDeframer d(false, 8);
    std::vector<HdlcItem> items;
    Bytes big(20, 0x11);
    big.push_back(0x7E);
    const Bytes small{0x60, 0x01, 0x9B, 0x7B, 0x7E};
    d.Push(big, items);
    d.Push(small, items);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].kind, Kind::BadFrame);
    EXPECT_LE(items[0].data.size(), 16u);   // bounded, not the whole 20 bytes grown without limit
    EXPECT_EQ(items[1].kind, Kind::Frame);
    EXPECT_EQ(items[1].data, (Bytes{0x60, 0x01}));
    EXPECT_EQ(d.BadFrames(), 1u);
}

TEST(HdlcDeframer, FrameAtTheSizeLimitPasses)
{
    // Eight un-escaped bytes: six of payload and the FCS.
    CHdlcDeframer d(false, 8);
    std::vector<HdlcItem> items;
    d.Push(vmtest::RefFrame({1, 2, 3, 4, 5, 6}), items);
    d.Push(vmtest::RefFrame({1, 2, 3, 4, 5, 6, 7}), items);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].kind, Kind::Frame);
    EXPECT_EQ(items[1].kind, Kind::BadFrame);
}

TEST(HdlcDeframer, ResetDropsAPartialFrame)
{
    CHdlcDeframer d;
    std::vector<HdlcItem> items;
    d.Push(Bytes{0x01, 0x02, 0x7D}, items);
    d.Reset();
    d.Push(Bytes{0x60, 0x01, 0x9B, 0x7B, 0x7E}, items);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].data, (Bytes{0x60, 0x01}));
}

// A capture as a modem sent it: every frame read, none bad, each a log packet.
void ExpectEveryLogFrame(const Bytes& data, std::size_t frames)
{
    CHdlcDeframer d;
    std::vector<HdlcItem> items;
    d.Push(data, items);
    EXPECT_EQ(d.GoodFrames(), frames);
    EXPECT_EQ(d.BadFrames(), 0u);
    for (const HdlcItem& i : items)
        EXPECT_EQ(i.data.at(0), 0x10);
}

TEST(HdlcDeframer, ReadsEveryFrameOfAModemCapture)
{
    const fixture::Capture capture = fixture::ModemCapture(29, 5);
    ExpectEveryLogFrame(capture.wire, 29);
    CHdlcDeframer d;
    std::vector<HdlcItem> items;
    d.Push(capture.wire, items);
    std::vector<Bytes> packets;
    for (const HdlcItem& i : items)
        packets.push_back(i.data);
    EXPECT_EQ(packets, capture.packets);
}

TEST(HdlcDeframer, ReadsEveryFrameOfARealCapture)
{
    // goodsim-small.qmdl: 29 log frames as a modem sent them, all FCS right.
    const std::optional<std::string> sample = SampleFile("qmdl/goodsim-small.qmdl");
    if (!sample)
        GTEST_SKIP() << SampleMissing("qmdl/goodsim-small.qmdl");
    FILE* f = std::fopen(sample->c_str(), "rb");
    ASSERT_NE(f, nullptr);
    Bytes data;
    std::array<std::uint8_t, 4096> buf{};
    for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), f)) > 0;)
        data.insert(data.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
    std::fclose(f);
    ExpectEveryLogFrame(data, 29);
}
