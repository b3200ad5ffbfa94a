// SPDX-License-Identifier: GPL-2.0-or-later
#include "logclient/DefaultPackets.h"
#include "logclient/MaskBuilders.h"

#include <gtest/gtest.h>

#include <bitset>
#include <map>
#include <vector>

namespace {

int SetBits(const std::vector<std::uint8_t>& p, std::size_t from)
{
    int n = 0;
    for (std::size_t i = from; i < p.size(); ++i)
        n += static_cast<int>(std::bitset<8>(p[i]).count());
    return n;
}

bool Bit(const std::vector<std::uint8_t>& p, std::size_t from, std::size_t n)
{
    return (p[from + n / 8] >> (n % 8)) & 1;
}

TEST(DefaultPackets, HeadersLengthsAndCounts)
{
    struct Case {
        std::uint8_t command;
        std::size_t length;
        std::uint32_t id;      // equipment id, or first ssid
        std::uint32_t count;   // mask bits, item count, or last ssid
        int setBits;           // -1: not counted here
    };
    const Case cases[kDefaultPacketCount] = {
        {0x60, 2, 0, 0, -1},
        {0x82, 270, 0, 2112, 1410},
        {0x73, 143, 1, 1009, 29},
        {0x73, 307, 4, 2328, 1},
        {0x73, 149, 5, 1064, 143},
        {0x73, 177, 7, 1287, 71},
        {0x7D, 216, 0, 51, -1},
        {0x7D, 60, 3000, 3012, -1},
        {0x7D, 52, 4000, 4010, -1},
        {0x7D, 84, 5000, 5018, -1},
        {0x7D, 168, 6000, 6039, -1},
    };
    const DefaultPacketTable& table = DefaultConfigPackets();
    for (std::size_t i = 0; i < kDefaultPacketCount; ++i) {
        SCOPED_TRACE(i);
        const Case& c = cases[i];
        const std::vector<std::uint8_t>& p = table[i];
        ASSERT_EQ(p.size(), c.length);
        EXPECT_EQ(dmcmd::PacketLengthFromHeader(p), c.length);
        EXPECT_EQ(p[0], c.command);
        switch (c.command) {
        case 0x60:
            EXPECT_EQ(p, (std::vector<std::uint8_t>{0x60, 0x01}));
            break;
        case 0x82:
            EXPECT_EQ(p[1] | p[2] | p[3], 0);
            EXPECT_EQ(dmcmd::GetU16(p, 4), c.count);
            EXPECT_EQ(SetBits(p, 6), c.setBits);
            break;
        case 0x73:
            EXPECT_EQ(p[1] | p[2] | p[3], 0);
            EXPECT_EQ(dmcmd::GetU32(p, 4), 3u);
            EXPECT_EQ(dmcmd::GetU32(p, 8), c.id);
            EXPECT_EQ(dmcmd::GetU32(p, 12), c.count);
            EXPECT_EQ(SetBits(p, 16), c.setBits);
            break;
        case 0x7D:
            EXPECT_EQ(p[1], 0x04);
            EXPECT_EQ(dmcmd::GetU16(p, 2), c.id);
            EXPECT_EQ(dmcmd::GetU16(p, 4), c.count);
            EXPECT_EQ(dmcmd::GetU16(p, 6), 0);
            break;
        }
    }
}

TEST(DefaultPackets, SampledMaskBits)
{
    const DefaultPacketTable& t = DefaultConfigPackets();
    struct Probe {
        std::size_t packet, from, bit;
        bool set;
    };
    const Probe probes[] = {
        {1, 6, 0, true}, {1, 6, 1, false}, {1, 6, 255, false}, {1, 6, 256, true}, {1, 6, 1069, true},
        {1, 6, 1070, false}, {1, 6, 1625, true}, {1, 6, 1626, false}, {1, 6, 2048, false}, {1, 6, 2049, true},
        {1, 6, 2111, true},
        {2, 16, 0x004, true}, {2, 16, 0x003, false}, {2, 16, 0x38D, true}, {2, 16, 0x38A, false},
        {3, 16, 0x12F, true}, {4, 16, 0x411, true}, {4, 16, 0x412, false}, {5, 16, 0x2D0, true}, {5, 16, 0x000, false},
    };
    for (const Probe& p : probes) {
        SCOPED_TRACE(testing::Message() << "packet " << p.packet << " bit " << p.bit);
        EXPECT_EQ(Bit(t[p.packet], p.from, p.bit), p.set);
    }
}

TEST(DefaultPackets, MessageLevelMasks)
{
    struct Case {
        std::size_t packet;
        std::map<int, std::uint32_t> masks;   // every ssid not listed is 0
    };
    std::map<int, std::uint32_t> m7{{3000, 0x1C}}, m9{{5000, 0x1E}, {5014, 0x1E}, {5015, 0x1E}};
    for (int s = 3005; s <= 3012; ++s)
        m7[s] = 0x1C;
    for (int s = 5001; s <= 5013; ++s)
        m9[s] = 0x1C;
    for (int s = 5016; s <= 5018; ++s)
        m9[s] = 0x1F;
    const Case cases[] = {
        {6, {{0, 0x1F}, {15, 0x1F}, {21, 0x1F}, {5, 0x1E}, {20, 0x1E}, {8, 0x18}, {16, 0x18}}},
        {7, m7},
        {8, {{4000, 0x1C}, {4001, 0x1E}, {4003, 0x1E}, {4007, 0x1E}, {4009, 0x1E}, {4010, 0x1E}}},
        {9, m9},
        {10, {{6002, 0x1F}, {6039, 0x1C}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.packet);
        const std::vector<std::uint8_t>& p = DefaultConfigPackets()[c.packet];
        const int first = dmcmd::GetU16(p, 2), last = dmcmd::GetU16(p, 4);
        for (int ssid = first; ssid <= last; ++ssid) {
            const auto it = c.masks.find(ssid);
            EXPECT_EQ(dmcmd::GetU32(p, 8 + 4 * std::size_t(ssid - first)), it == c.masks.end() ? 0u : it->second)
                << "ssid " << ssid;
        }
    }
}

TEST(DefaultPackets, LengthRuleRefusesUnknownHeaders)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> packet;
        std::size_t length;
    };
    const Case cases[] = {
        {"unknown command", {0x4B, 0x00}, 0},
        {"empty", {}, 0},
        {"event mask truncates to whole bytes", {0x82, 0, 0, 0, 12, 0}, 7},
        {"log mask rounds the item count up", {0x73, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0}, 18},
        {"range backwards", {0x7D, 0x04, 5, 0, 4, 0, 0, 0}, 0},
        {"header cut short", {0x73, 0, 0}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dmcmd::PacketLengthFromHeader(c.packet), c.length);
    }
}

}   // namespace
