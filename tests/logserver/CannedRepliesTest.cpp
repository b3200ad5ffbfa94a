// SPDX-License-Identifier: GPL-2.0-or-later
#include "logserver/CannedReplies.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A chunk as the port delivers it: payload, two FCS bytes (never checked, so
// any value does), the closing flag.
Bytes Chunk(Bytes payload)
{
    payload.insert(payload.end(), {0xA5, 0x5A, 0x7E});
    return payload;
}

Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// The replies spelled out from their fields, independently of the table.
const Bytes kR00 = Concat(Concat(Concat(Concat(Concat(
    Bytes{0x00},
    Bytes{0x32, 0x30, 0x30, 0x38, 0x2D, 0x31, 0x30, 0x2D, 0x32, 0x37, 0x00}),   // "2008-10-27" NUL
    Bytes{0x31, 0x32, 0x3A, 0x30, 0x30, 0x3A, 0x30, 0x30}),                     // "12:00:00"
    Bytes{0x4F, 0x63, 0x74, 0x20, 0x32, 0x37, 0x20, 0x32, 0x30, 0x30, 0x38}),   // "Oct 27 2008"
    Bytes{0x31, 0x32, 0x3A, 0x30, 0x30, 0x3A, 0x30, 0x30}),                     // "12:00:00"
    Bytes{0x53, 0x4B, 0x54, 0x4D, 0x00, 0x20, 0x20, 0x20, 0x00, 0x00, 0xD1, 0x00, 0x00, 0x00, 0x00, 0xC0});
const Bytes kR1C = {0x1C, 0x08, 0x00};
const Bytes kR1D = {0x1D, 0x3B, 0x8D, 0x10, 0xEE, 0x8F, 0x7B, 0x75, 0x00};
const Bytes kR4B = {0x4B, 0x04, 0x0E, 0x00, 0x01};
const Bytes kR51 = {
    0x51, 0x4B, 0x00,   // count 75 of what follows
    0x00, 0x0A, 0x00, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0x00, 0x12, 0x48, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x40,
    0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x41, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x0A, 0x00, 0x31,
    0x00, 0x00, 0x00, 0x80, 0x31, 0x40, 0x40, 0x88, 0xA8, 0x39, 0xC8, 0x00, 0x00, 0x00, 0x80, 0x01, 0x84, 0x60, 0xE2,
    0x00, 0x5D, 0xA4, 0x79, 0xFF, 0x18, 0x2A, 0x03, 0xC0, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};
const Bytes kR7C = {0x7C, 0x02, 0x00, 0x00, 0xE1, 0x00, 0x0C, 0x20, 0xD1, 0x00, 0x00, 0x00, 0x30};

Bytes Counting(std::size_t n, std::uint8_t first)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(first + i);
    return b;
}

struct Case {
    const char* name;
    Bytes in, out;
};

// Calls GetCannedReply into a buffer pre-filled with a marker, so stale bytes
// and writes past the reply show up.
Bytes Reply(const Bytes& request, std::array<unsigned char, 256>& buffer)
{
    buffer.fill(0xEE);
    const unsigned n = GetCannedReply(request.data(), static_cast<unsigned>(request.size()), buffer.data());
    return Bytes(buffer.begin(), buffer.begin() + n);
}

}  // namespace

TEST(CannedReplies, RepliesByteForByte)
{
    const Bytes chunk3f = Counting(30, 0x3F);   // 3F 40 41 ... 5C
    Bytes reply3f = {0x13};
    reply3f.insert(reply3f.end(), chunk3f.begin(), chunk3f.begin() + 16);

    const Case cases[] = {
        // The fixed replies.
        {"00 version", Chunk({0x00}), kR00},
        {"1C", Chunk({0x1C}), kR1C},
        {"1D", Chunk({0x1D}), kR1D},
        {"4B 04 0E", Chunk({0x4B, 0x04, 0x0E}), kR4B},
        {"4B 04 0E, whatever follows", Chunk({0x4B, 0x04, 0x0E, 0x99, 0x7D, 0x5D}), kR4B},
        {"4B 04 0E as a bare 4-byte chunk", {0x4B, 0x04, 0x0E, 0x7E}, kR4B},
        {"51", Chunk({0x51}), kR51},
        {"7C", Chunk({0x7C}), kR7C},
        {"7C with a payload", Chunk({0x7C, 0x01, 0x02}), kR7C},

        // Too short to be a frame.
        {"empty", {}, {}},
        {"one byte", {0x00}, {}},
        {"three bytes of a known command", {0x1C, 0x00, 0x7E}, {}},
        {"three bytes of a refused command", {0x0C, 0x00, 0x7E}, {}},

        // Bad command: 0x13 then the request from its command byte, min(length - 2, 17) in all.
        {"0C xx xx 7E", {0x0C, 0x11, 0x22, 0x7E}, {0x13, 0x0C}},
        {"3F, 30 bytes: 16 echoed", chunk3f, reply3f},
        {"44", Chunk({0x44, 0x01}), {0x13, 0x44, 0x01}},
        {"63", Chunk({0x63, 0x01, 0x02}), {0x13, 0x63, 0x01, 0x02}},
        {"4B 04 0F", Chunk({0x4B, 0x04, 0x0F}), {0x13, 0x4B, 0x04, 0x0F}},
        {"4B 05 0E", Chunk({0x4B, 0x05, 0x0E}), {0x13, 0x4B, 0x05, 0x0E}},
        {"4B 04 only", {0x4B, 0x04, 0x11, 0x7E}, {0x13, 0x4B}},
        {"escapes echoed as received and counted", Chunk({0x0C, 0x7D, 0x5E, 0x7D, 0x5D}),
         {0x13, 0x0C, 0x7D, 0x5E, 0x7D, 0x5D}},
        {"17-byte payload: 16 echoed", Chunk(Counting(17, 0x3F)), Concat({0x13}, Counting(16, 0x3F))},
        {"15-byte payload: all echoed", Chunk(Counting(15, 0x3F)), Concat({0x13}, Counting(15, 0x3F))},

        // No reply.
        {"AT$QCDMG", Concat(Text("AT$QCDMG"), {0x0D}), {}},
        {"AT$QCDMG framed", Chunk(Concat(Text("AT$QCDMG"), {0x0D})), {}},
        {"any 0x41 chunk", Chunk({0x41, 0x54}), {}},
        {"log packet 10", Chunk({0x10, 0x00, 0x12}), {}},
        {"FF", Chunk({0xFF}), {}},
        {"7E", {0x7E, 0x7E, 0x7E, 0x7E}, {}},

        // Two frames in one chunk: the first byte decides, once.
        {"1C then 00", Concat(Chunk({0x1C}), Chunk({0x00})), kR1C},
        {"41 then 00", Concat(Chunk({0x41}), Chunk({0x00})), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<unsigned char, 256> buffer{};
        EXPECT_EQ(Reply(c.in, buffer), c.out);
        for (std::size_t i = c.out.size(); i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 0xEE) << "written past the reply at " << i;
    }
}

TEST(CannedReplies, EchoOf26)
{
    // 136 bytes: a 133-byte payload, FCS and flag.
    const Bytes full = Concat(Counting(133, 0x26), {0xA5, 0x5A, 0x7E});
    Bytes fullReply(full.begin(), full.begin() + 131);
    fullReply.insert(fullReply.end(), {0x05, 0x00});

    const Bytes longer = Counting(300, 0x26);
    Bytes longerReply(longer.begin(), longer.begin() + 131);
    longerReply.insert(longerReply.end(), {0x05, 0x00});

    // Shorter requests: what was not received is zero, never stale.
    const Bytes small = Chunk({0x26, 0x01, 0x02});
    Bytes smallReply(133, 0x00);
    std::copy(small.begin(), small.end(), smallReply.begin());
    smallReply[131] = 0x05;

    Bytes bare(133, 0x00);
    bare[0] = 0x26;
    bare[3] = 0x7E;
    bare[131] = 0x05;

    const Bytes at132 = Counting(132, 0x26);
    Bytes at132Reply(at132.begin(), at132.begin() + 131);
    at132Reply.insert(at132Reply.end(), {0x05, 0x00});

    const Case cases[] = {
        {"136 bytes", full, fullReply},
        {"300 bytes", longer, longerReply},
        {"132 bytes", at132, at132Reply},
        {"6 bytes", small, smallReply},
        {"4 bytes", {0x26, 0x00, 0x00, 0x7E}, bare},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<unsigned char, 256> buffer{};
        EXPECT_EQ(Reply(c.in, buffer), c.out);
        for (std::size_t i = c.out.size(); i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 0xEE) << "written past the reply at " << i;
    }
}

TEST(CannedReplies, ShortEchoAfterLongEchoCarriesNoStaleBytes)
{
    std::array<unsigned char, 133> reply{};
    const Bytes first = Counting(136, 0x26);
    ASSERT_EQ(GetCannedReply(first.data(), 136, reply.data()), 133u);
    const Bytes second = Chunk({0x26});
    ASSERT_EQ(GetCannedReply(second.data(), 4, reply.data()), 133u);
    for (std::size_t i = 4; i < 131; ++i)
        ASSERT_EQ(reply[i], 0x00) << i;
}

TEST(CannedReplies, TableAndVectorFormAgreeWithTheFunction)
{
    const Case fixed[] = {
        {"R00", {0x00}, kR00}, {"R1C", {0x1C}, kR1C}, {"R1D", {0x1D}, kR1D},
        {"R4B", {0x4B}, kR4B}, {"R51", {0x51}, kR51}, {"R7C", {0x7C}, kR7C},
    };
    const auto table = CannedReplyTable();
    ASSERT_EQ(table.size(), std::size(fixed));
    for (std::size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(fixed[i].name);
        EXPECT_STREQ(table[i].name, fixed[i].name);
        EXPECT_EQ(table[i].command, fixed[i].in[0]);
        EXPECT_EQ(Bytes(table[i].bytes.begin(), table[i].bytes.end()), fixed[i].out);
        const auto bytes = CannedReplyBytes(fixed[i].in[0]);
        EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), fixed[i].out);
    }
    EXPECT_TRUE(CannedReplyBytes(0x26).empty());
    EXPECT_TRUE(CannedReplyBytes(0x0C).empty());

    const Bytes requests[] = {Chunk({0x00}), Chunk({0x4B, 0x05, 0x0E}), Chunk({0x26}), Chunk({0x41}), {0x00, 0x7E}};
    for (const Bytes& r : requests) {
        std::array<unsigned char, 256> buffer{};
        EXPECT_EQ(CannedReplyFor(r), Reply(r, buffer));
    }
}
