// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CCaptureStats: what a logging session has captured so far, told from the
// same bytes that go into the capture file. A frame counter reads the stream
// along the way, keeping no frames so that it costs little per byte on the
// capture's path: the counts say how many DM frames came, how many of them
// failed their FCS and which log codes the modem is sending. Used by the
// window's capture line and by the headless logger's status line.
//
// No I/O, no clock of its own: the caller passes the time of each chunk, so a
// test can drive it with made-up times.
#include "dm/DmCommand.h"
#include "dm/HdlcFrameCounter.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <span>

class CCaptureStats {
public:
    using Clock = std::chrono::steady_clock;

    // A DM log packet (command 0x10) carries its log code at bytes 6 and 7.
    static constexpr std::uint8_t kLogPacket = dm::kLog;
    static constexpr std::size_t kLogCodeOffset = dm::kLogCodeOffset;
    static_assert(kLogCodeOffset + 2 <= CHdlcFrameCounter::kHeadSize);

    CCaptureStats();

    // Forgets everything: a new capture starts from zero.
    void Reset();
    // Counts a chunk received at now.
    void Feed(std::span<const std::uint8_t> bytes, Clock::time_point now);

    std::uint64_t Bytes() const { return m_nBytes; }
    // Bytes received in the second before now (whole tenths of a second).
    std::uint64_t BytesLastSecond(Clock::time_point now) const;
    std::uint64_t Frames() const { return m_counter.GoodFrames() + m_counter.BadFrames(); }
    std::uint64_t BadFrames() const { return m_counter.BadFrames(); }
    std::size_t DistinctLogCodes() const { return m_codes.size(); }
    // Frames per log code, for good log packets only.
    const std::map<std::uint16_t, std::uint64_t>& LogCodeCounts() const { return m_codes; }

private:
    // The last second in ten slots of 100 ms; a slot is reused once its tenth is past.
    static constexpr int kSlots = 10;
    static constexpr std::chrono::milliseconds kSlotLength{100};
    std::int64_t SlotNumber(Clock::time_point t) const;

    void CountLogCode(const HdlcFrameHead& frame);

    // Where the map keeps the counts of the codes met last, by a hash of the
    // code: a modem repeats its codes, and this saves the map's search per
    // frame. It points into one object's map (whose elements never move), so
    // a copy starts empty, a move empties both sides, and Reset empties it
    // with the map.
    class CCodeCountCache {
    public:
        CCodeCountCache() = default;
        CCodeCountCache(const CCodeCountCache&) {}
        CCodeCountCache(CCodeCountCache&& other) noexcept { other.Clear(); }
        CCodeCountCache& operator=(const CCodeCountCache&)
        {
            Clear();
            return *this;
        }
        CCodeCountCache& operator=(CCodeCountCache&& other) noexcept
        {
            Clear();
            other.Clear();
            return *this;
        }
        ~CCodeCountCache() = default;
        void Clear() { m_slots.fill({}); }
        std::uint64_t& Count(std::map<std::uint16_t, std::uint64_t>& codes, std::uint16_t code);

    private:
        struct Slot {
            std::uint16_t code = 0;
            std::uint64_t* count = nullptr;
        };
        static constexpr std::size_t kCacheSlots = 256;
        std::array<Slot, kCacheSlots> m_slots{};
    };

    CHdlcFrameCounter m_counter;
    std::map<std::uint16_t, std::uint64_t> m_codes;
    CCodeCountCache m_codeCache;
    std::uint64_t m_nBytes = 0;
    std::array<std::uint64_t, kSlots> m_slotBytes{};
    std::array<std::int64_t, kSlots> m_slotNumber{};
};
