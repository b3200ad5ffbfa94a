// SPDX-License-Identifier: GPL-2.0-or-later
#include "logclient/CaptureStats.h"

#include "dm/LittleEndian.h"

CCaptureStats::CCaptureStats()
{
    Reset();
}

void CCaptureStats::Reset()
{
    m_counter = CHdlcFrameCounter();
    m_codeCache.Clear();
    m_codes.clear();
    m_nBytes = 0;
    m_slotBytes.fill(0);
    m_slotNumber.fill(-1);
}

std::int64_t CCaptureStats::SlotNumber(Clock::time_point t) const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()) / kSlotLength;
}

void CCaptureStats::Feed(std::span<const std::uint8_t> bytes, Clock::time_point now)
{
    m_nBytes += bytes.size();
    const std::int64_t slot = SlotNumber(now);
    const std::size_t index = static_cast<std::size_t>(((slot % kSlots) + kSlots) % kSlots);
    if (m_slotNumber[index] != slot) {
        m_slotNumber[index] = slot;
        m_slotBytes[index] = 0;
    }
    m_slotBytes[index] += bytes.size();

    m_counter.Push(bytes, [this](const HdlcFrameHead& frame) { CountLogCode(frame); });
}

void CCaptureStats::CountLogCode(const HdlcFrameHead& frame)
{
    if (frame.length < kLogCodeOffset + 2 || frame.head[0] != kLogPacket)
        return;
    ++m_codeCache.Count(m_codes, dm::GetU16(frame.head, kLogCodeOffset));
}

std::uint64_t& CCaptureStats::CCodeCountCache::Count(std::map<std::uint16_t, std::uint64_t>& codes, std::uint16_t code)
{
    Slot& slot = m_slots[(code ^ (code >> 8)) % kCacheSlots];
    if (slot.count == nullptr || slot.code != code)
        slot = {code, &codes[code]};
    return *slot.count;
}

std::uint64_t CCaptureStats::BytesLastSecond(Clock::time_point now) const
{
    const std::int64_t current = SlotNumber(now);
    std::uint64_t sum = 0;
    for (int i = 0; i < kSlots; ++i)
        if (m_slotNumber[static_cast<std::size_t>(i)] > current - kSlots && m_slotNumber[static_cast<std::size_t>(i)] <= current)
            sum += m_slotBytes[static_cast<std::size_t>(i)];
    return sum;
}
