// SPDX-License-Identifier: GPL-2.0-or-later
#include "logclient/MaskBuilders.h"

#include "dm/TextCodec.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cctype>
#include <string>
#include <vector>
#include <optional>

namespace dmcmd {

bool SetMaskBit(std::span<std::uint8_t> out, std::size_t offset, std::size_t n)
{
    const std::size_t byte = offset + n / 8;
    if (byte >= out.size())
        return false;
    out[byte] |= static_cast<std::uint8_t>(1u << (n % 8));
    return true;
}

std::size_t PacketLengthFromHeader(std::span<const std::uint8_t> packet)
{
    if (packet.empty())
        return 0;
    switch (packet[0]) {
    case kEventReport:
        return 2;
    case kEventMask:
        if (packet.size() < kEventMaskHeader)
            return 0;
        return GetU16(packet, 4) / 8 + kEventMaskHeader;
    case kLogConfig:
        if (packet.size() < kLogConfigHeader)
            return 0;
        return (std::size_t{GetU32(packet, 12)} + 7) / 8 + kLogConfigHeader;
    case kExtMsgConfig: {
        if (packet.size() < kExtMsgHeader)
            return 0;
        const std::uint16_t first = GetU16(packet, 2);
        const std::uint16_t last = GetU16(packet, 4);
        if (last < first)
            return 0;
        return std::size_t{4} * (last - first) + 12;
    }
    default:
        return 0;
    }
}

}   // namespace dmcmd

namespace {

using namespace dmcmd;

// A list token as the token buffer holds it: at most 15 characters. A longer
// run is not cut to a different number; it is dropped whole.
class Token {
public:
    void Append(char c)
    {
        if (m_length < m_text.size() - 1)
            m_text[m_length] = c;
        ++m_length;
    }
    std::size_t Length() const { return m_length; }
    bool Empty() const { return m_length == 0; }
    void Clear() { m_length = 0; }

    std::optional<std::uint16_t> Convert()
    {
        if (m_length == 0 || m_length >= m_text.size())
            return std::nullopt;
        // Only white space (the line break before a list's closing tag) is no
        // entry at all; the number parser would read it as 0.
        if (std::all_of(m_text.begin(), m_text.begin() + static_cast<std::ptrdiff_t>(m_length),
                        [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }))
            return std::nullopt;
        m_text[m_length] = '\0';
        unsigned short value = 0;
        if (!ParseNumberToken(m_text.data(), &value))
            return std::nullopt;
        return value;
    }

private:
    std::array<char, 16> m_text{};
    std::size_t m_length = 0;
};

std::size_t ClampPos(std::string_view text, std::int32_t pos)
{
    if (pos < 0)
        return 0;
    return std::min<std::size_t>(static_cast<std::size_t>(pos), text.size());
}

// Calls use(value) for every log code of the text: a token of at least six
// characters ended by ',', '/' or the end of the text. A space drops the token.
template <class Use>
void ScanLogCodes(std::string_view text, Use use)
{
    Token token;
    auto end = [&] {
        if (token.Length() >= 6)
            if (auto value = token.Convert())
                use(*value);
        token.Clear();
    };
    for (char c : text) {
        if (c == ',' || c == '/')
            end();
        else if (c == ' ')
            token.Clear();
        else
            token.Append(c);
    }
    end();
}

struct EquipmentCodes {
    std::bitset<0x1000> items;
    int highest = -1;
};

}   // namespace

std::size_t BuildEventReport(std::string_view text, std::span<std::uint8_t> out)
{
    if (text.empty() || out.size() < 2)
        return 0;
    out[0] = kEventReport;
    out[1] = 0x01;
    return 2;
}

std::size_t BuildEventMask(std::string_view text, std::int32_t pos, std::span<std::uint8_t> out,
                           std::int32_t* done)
{
    *done = 1;
    if (text.empty() || out.size() < kEventMaskHeader)
        return 0;
    std::fill(out.begin(), out.end(), 0);
    out[0] = kEventMask;

    int highest = -1;
    Token token;
    auto end = [&] {
        if (auto id = token.Convert())
            if (SetMaskBit(out, kEventMaskHeader, *id))
                highest = std::max<int>(highest, *id);
        token.Clear();
    };
    for (char c : text.substr(ClampPos(text, pos))) {
        if (c == ',')
            end();
        else if (c == '/' || c == ' ')
            token.Clear();
        else
            token.Append(c);
    }
    end();

    const std::size_t bits = highest < 0 ? 0 : 8 * (static_cast<std::size_t>(highest) / 8 + 1);
    PutU16(out, 4, static_cast<std::uint16_t>(bits));
    return kEventMaskHeader + bits / 8;
}

std::size_t BuildLogConfig(std::string_view logCodes, std::string_view otaTypes, std::int32_t& posA,
                           std::int32_t& posB, std::span<std::uint8_t> out, std::int32_t* done)
{
    *done = 1;
    // Equipment id 0 is never sent; ids above 15 do not exist.
    const int from = std::max<std::int32_t>(posA, 1);
    if (from > 15 || out.size() < kLogConfigHeader)
        return 0;

    std::array<EquipmentCodes, 16> equipment{};
    auto use = [&](std::uint16_t code) {
        EquipmentCodes& e = equipment[code >> 12];
        const int item = code & 0x0FFF;
        e.items.set(static_cast<std::size_t>(item));
        e.highest = std::max(e.highest, item);
    };
    ScanLogCodes(logCodes, use);
    ScanLogCodes(otaTypes, use);

    int id = from;
    while (id <= 15 && equipment[id].highest < 0)
        ++id;
    if (id > 15)
        return 0;

    std::fill(out.begin(), out.end(), 0);
    out[0] = kLogConfig;
    PutU32(out, 4, kLogConfigSetMask);
    PutU32(out, 8, static_cast<std::uint32_t>(id));
    int highest = -1;
    for (int item = 0; item <= equipment[id].highest; ++item)
        if (equipment[id].items.test(static_cast<std::size_t>(item)) && SetMaskBit(out, kLogConfigHeader, item))
            highest = item;
    const std::uint32_t count = static_cast<std::uint32_t>(highest + 1);
    PutU32(out, 12, count);

    posA = posB = id + 1;
    bool more = false;
    for (int next = id + 1; next <= 15; ++next)
        more = more || equipment[next].highest >= 0;
    *done = more ? 0 : 1;
    return kLogConfigHeader + (count + 7) / 8;
}

namespace {

// The entries of a MessageLevels text: the ssids that have one, ascending, and
// the mask of each. Every level goes to the last ssid read, so "5/1,2," sets
// levels 1 and 2 of ssid 5, and an ssid whose level never comes ("0/60/1,")
// is dropped; levels past 31 have no bit.
struct LevelEntries {
    std::vector<std::uint16_t> ssids;
    std::vector<std::uint32_t> masks;
};

LevelEntries ParseLevels(std::string_view text)
{
    std::vector<std::pair<std::uint16_t, std::uint32_t>> read;
    std::optional<std::uint16_t> ssid;
    Token token;
    auto endLevel = [&] {
        if (auto level = token.Convert(); level && ssid && *level < 32)
            read.emplace_back(*ssid, 1u << *level);
        token.Clear();
    };
    for (char c : text) {
        if (c == '/') {
            ssid = token.Convert();
            token.Clear();
        } else if (c == ',') {
            endLevel();
        } else if (c != ' ') {
            token.Append(c);
        }
    }
    if (!token.Empty())
        endLevel();

    std::sort(read.begin(), read.end());
    LevelEntries entries;
    for (const auto& [s, bit] : read) {
        if (entries.ssids.empty() || entries.ssids.back() != s) {
            entries.ssids.push_back(s);
            entries.masks.push_back(0);
        }
        entries.masks.back() |= bit;
    }
    return entries;
}

struct LevelCache {
    bool valid = false;
    std::string text;
    LevelEntries entries;
};

// A list is sent in as many calls as it has ranges, each given the whole text;
// the entries of the text last seen on this thread are kept until its last
// packet, so a long list is read once rather than once per packet.
LevelCache& ThisThreadsLevels()
{
    thread_local LevelCache cache;
    return cache;
}

const LevelEntries& LevelsOf(std::string_view text)
{
    LevelCache& cache = ThisThreadsLevels();
    if (!cache.valid || cache.text != text) {
        cache.entries = ParseLevels(text);
        cache.text.assign(text);
        cache.valid = true;
    }
    return cache.entries;
}

void ForgetLevels()
{
    ThisThreadsLevels() = LevelCache{};
}

}   // namespace

std::size_t BuildExtMsgConfig(std::string_view text, std::int32_t& pos, std::span<std::uint8_t> out,
                              std::int32_t* done)
{
    *done = 1;
    if (out.size() < kExtMsgHeader + 4)
        return 0;

    const LevelEntries& entries = LevelsOf(text);
    std::fill(out.begin(), out.end(), 0);
    out[0] = kExtMsgConfig;
    out[1] = kExtMsgSetRange;
    if (entries.ssids.empty()) {
        // Nothing to set: the range FFFF..FFFF with one empty mask, as ever.
        PutU16(out, 2, 0xFFFF);
        PutU16(out, 4, 0xFFFF);
        return kExtMsgHeader + 4;
    }

    const auto from = static_cast<std::uint16_t>(std::clamp<std::int32_t>(pos, 0, 0xFFFF));
    std::size_t i = static_cast<std::size_t>(
        std::lower_bound(entries.ssids.begin(), entries.ssids.end(), from) - entries.ssids.begin());
    if (pos > 0xFFFF || i == entries.ssids.size()) {
        ForgetLevels();
        return 0;
    }
    const unsigned first = entries.ssids[i];
    const std::size_t room = (out.size() - kExtMsgHeader) / 4;   // masks that fit in out
    const unsigned limit = first + std::min<unsigned>(kExtMsgMaxSpan, static_cast<unsigned>(room - 1));
    unsigned last = first;
    for (; i < entries.ssids.size() && entries.ssids[i] <= limit; ++i) {
        last = entries.ssids[i];
        PutU32(out, kExtMsgHeader + 4 * (last - first), entries.masks[i]);
    }
    PutU16(out, 2, static_cast<std::uint16_t>(first));
    PutU16(out, 4, static_cast<std::uint16_t>(last));

    pos = static_cast<std::int32_t>(last) + 1;
    *done = i == entries.ssids.size() ? 1 : 0;
    if (*done)
        ForgetLevels();
    return kExtMsgHeader + 4 * (last - first + 1);
}
