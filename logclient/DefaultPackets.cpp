// SPDX-License-Identifier: GPL-2.0-or-later
#include "logclient/DefaultPackets.h"

#include "logclient/MaskBuilders.h"

#include <span>

namespace {

using namespace dmcmd;

struct Range {
    std::uint16_t first, last;   // inclusive
};

struct LevelRange {
    std::uint16_t first, last;   // inclusive ssids
    std::uint32_t mask;
};

struct LogMask {
    std::uint32_t equipment;
    std::uint32_t itemCount;
    std::span<const Range> codes;   // whole log codes: equipment id x 0x1000 + item
};

struct LevelMask {
    std::uint16_t first, last;
    std::span<const LevelRange> masks;
};

constexpr std::uint16_t kEventMaskBits = 2112;
constexpr Range kEvents[] = {
    {0, 0}, {256, 1069}, {1071, 1150}, {1156, 1359}, {1375, 1398}, {1402, 1625}, {2049, 2111},
};

constexpr Range kLog1[] = {
    {0x1004, 0x1008}, {0x1048, 0x1049}, {0x104C, 0x104D}, {0x1052, 0x1053}, {0x1076, 0x1079},
    {0x107C, 0x107C}, {0x1085, 0x1086}, {0x1090, 0x1091}, {0x10D6, 0x10D8}, {0x1158, 0x1158},
    {0x1388, 0x1389}, {0x138B, 0x138D},
};
constexpr Range kLog4[] = {{0x412F, 0x412F}};
constexpr Range kLog5[] = {
    {0x5000, 0x5001}, {0x5064, 0x5066}, {0x506B, 0x506C}, {0x506F, 0x507C}, {0x5082, 0x5088},
    {0x508C, 0x508E}, {0x5090, 0x5091}, {0x50C8, 0x50CA}, {0x512C, 0x513A}, {0x513C, 0x513C},
    {0x5190, 0x5191}, {0x51F4, 0x5202}, {0x5205, 0x521A}, {0x521C, 0x5221}, {0x5226, 0x522E},
    {0x5230, 0x5237}, {0x523A, 0x523A}, {0x523F, 0x523F}, {0x5245, 0x5249}, {0x524D, 0x5253},
    {0x5258, 0x5260}, {0x5262, 0x5263}, {0x5400, 0x5400}, {0x5408, 0x5408}, {0x5410, 0x5411},
};
constexpr Range kLog7[] = {
    {0x7001, 0x7001}, {0x7130, 0x713E}, {0x7141, 0x7142}, {0x7150, 0x7156}, {0x7200, 0x720A},
    {0x720C, 0x720D}, {0x7211, 0x7212}, {0x7219, 0x7219}, {0x721B, 0x721B}, {0x721D, 0x7222},
    {0x7230, 0x7232}, {0x725A, 0x725F}, {0x7264, 0x7267}, {0x726D, 0x726D}, {0x72C8, 0x72D0},
};
constexpr LogMask kLogMasks[] = {
    {1, 1009, kLog1}, {4, 2328, kLog4}, {5, 1064, kLog5}, {7, 1287, kLog7},
};

constexpr LevelRange kLevels0[] = {
    {0, 0, 0x1F}, {15, 15, 0x1F}, {21, 21, 0x1F}, {5, 5, 0x1E}, {20, 20, 0x1E}, {8, 8, 0x18}, {16, 16, 0x18},
};
constexpr LevelRange kLevels3000[] = {{3000, 3000, 0x1C}, {3005, 3012, 0x1C}};
constexpr LevelRange kLevels4000[] = {
    {4000, 4000, 0x1C}, {4001, 4001, 0x1E}, {4003, 4003, 0x1E}, {4007, 4007, 0x1E}, {4009, 4010, 0x1E},
};
constexpr LevelRange kLevels5000[] = {
    {5000, 5000, 0x1E}, {5014, 5015, 0x1E}, {5001, 5013, 0x1C}, {5016, 5018, 0x1F},
};
constexpr LevelRange kLevels6000[] = {{6002, 6002, 0x1F}, {6039, 6039, 0x1C}};
constexpr LevelMask kLevelMasks[] = {
    {0, 51, kLevels0}, {3000, 3012, kLevels3000}, {4000, 4010, kLevels4000},
    {5000, 5018, kLevels5000}, {6000, 6039, kLevels6000},
};

std::vector<std::uint8_t> EventReportPacket()
{
    return {kEventReport, 0x01};
}

std::vector<std::uint8_t> EventMaskPacket()
{
    std::vector<std::uint8_t> p(kEventMaskHeader + kEventMaskBits / 8);
    p[0] = kEventMask;
    PutU16(p, 4, kEventMaskBits);
    for (const Range& r : kEvents)
        for (std::size_t n = r.first; n <= r.last; ++n)
            SetMaskBit(p, kEventMaskHeader, n);
    return p;
}

std::vector<std::uint8_t> LogMaskPacket(const LogMask& m)
{
    std::vector<std::uint8_t> p(kLogConfigHeader + (m.itemCount + 7) / 8);
    p[0] = kLogConfig;
    PutU32(p, 4, kLogConfigSetMask);
    PutU32(p, 8, m.equipment);
    PutU32(p, 12, m.itemCount);
    for (const Range& r : m.codes)
        for (std::size_t code = r.first; code <= r.last; ++code)
            SetMaskBit(p, kLogConfigHeader, code & 0x0FFF);
    return p;
}

std::vector<std::uint8_t> LevelMaskPacket(const LevelMask& m)
{
    std::vector<std::uint8_t> p(kExtMsgHeader + 4 * std::size_t{m.last - m.first + 1u});
    p[0] = kExtMsgConfig;
    p[1] = kExtMsgSetRange;
    PutU16(p, 2, m.first);
    PutU16(p, 4, m.last);
    for (const LevelRange& r : m.masks)
        for (std::size_t ssid = r.first; ssid <= r.last; ++ssid)
            PutU32(p, kExtMsgHeader + 4 * (ssid - m.first), r.mask);
    return p;
}

DefaultPacketTable Build()
{
    DefaultPacketTable table;
    std::size_t i = 0;
    table[i++] = EventReportPacket();
    table[i++] = EventMaskPacket();
    for (const LogMask& m : kLogMasks)
        table[i++] = LogMaskPacket(m);
    for (const LevelMask& m : kLevelMasks)
        table[i++] = LevelMaskPacket(m);
    return table;
}

static_assert(2 + std::size(kLogMasks) + std::size(kLevelMasks) == kDefaultPacketCount);

}   // namespace

const DefaultPacketTable& DefaultConfigPackets()
{
    static const DefaultPacketTable table = Build();
    return table;
}
