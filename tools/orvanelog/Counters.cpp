#include "tools/orvanelog/Counters.h"

#include <algorithm>

namespace {

// A log packet: 10, one byte, its length twice (16 bits each), the log code
// (16 bits, little-endian) and the record behind it.
constexpr std::uint8_t kLogPacket = 0x10;
constexpr std::size_t kLogCodeOffset = 6;

}  // namespace

void CCaptureCounters::Feed(std::span<const std::uint8_t> bytes)
{
    m_bytes += bytes.size();
    m_items.clear();
    m_deframer.Push(bytes, m_items);
    for (const HdlcItem& item : m_items) {
        if (item.kind != HdlcItem::Kind::Frame || item.data.size() < kLogCodeOffset + 2 || item.data[0] != kLogPacket)
            continue;
        const auto code = static_cast<std::uint16_t>(item.data[kLogCodeOffset] | item.data[kLogCodeOffset + 1] << 8);
        ++m_codes[code];
    }
}

std::vector<std::pair<std::uint16_t, std::uint64_t>> CCaptureCounters::TopCodes(std::size_t n) const
{
    std::vector<std::pair<std::uint16_t, std::uint64_t>> all(m_codes.begin(), m_codes.end());
    std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    if (all.size() > n)
        all.resize(n);
    return all;
}
