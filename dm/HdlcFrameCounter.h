// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CHdlcFrameCounter: counts the frames of a DM byte stream exactly as
// CHdlcDeframer reads them (text lines off), without keeping them. A capture
// runs at line rate, and its figures need only the verdict of each frame and
// a packet's first bytes: so the counter keeps the running FCS, the
// un-escaped length, the escape state, an overflow flag and the first
// kHeadSize un-escaped bytes, and skips from one 0x7E/0x7D to the next while
// the FCS runs over the plain bytes between them a word at a time.
//
// The same rules as the deframer, read by the same code (hdlc_core::CFrameCore):
// back-to-back flags delimit nothing; a frame
// is bad when it grew past the frame limit, ended inside an escape, holds
// fewer than the two FCS bytes, or leaves the FCS register other than 0xF0B8
// at its flag. No I/O, no allocation; bytes can arrive in any chunking.
#include "dm/HdlcDeframer.h"
#include "dm/HdlcFrameCore_p.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The start of a good frame as the counter saw it; head points into the
// counter and holds only during the call it is passed to.
struct HdlcFrameHead {
    std::span<const std::uint8_t> head;   // the first payload bytes, at most CHdlcFrameCounter::kHeadSize
    std::size_t length;                   // the whole payload, un-escaped, without its FCS
};

class CHdlcFrameCounter {
public:
    // Payload bytes kept of each frame: a DM log packet's header up to its log code.
    static constexpr std::size_t kHeadSize = 8;

    explicit CHdlcFrameCounter(std::size_t maxFrame = CHdlcDeframer::kDefaultMaxFrame);

    // Reads bytes and calls onGoodFrame(const HdlcFrameHead&) for every good
    // frame they complete, in stream order.
    template <typename OnGoodFrame>
    void Push(std::span<const std::uint8_t> bytes, OnGoodFrame&& onGoodFrame)
    {
        while (!bytes.empty()) {
            bytes = bytes.subspan(ReadToGoodFrame(bytes));
            if (m_bGoodFrameEnded) {
                m_bGoodFrameEnded = false;
                onGoodFrame(GoodFrameHead());
            }
        }
    }

    // Counts only.
    void Push(std::span<const std::uint8_t> bytes)
    {
        Push(bytes, [](const HdlcFrameHead&) {});
    }

    // Drops a partly received frame; the counts stay.
    void Reset();

    std::uint64_t GoodFrames() const { return m_core.GoodFrames(); }
    std::uint64_t BadFrames() const { return m_core.BadFrames(); }

private:
    // Reads bytes up to the flag of the first good frame among them (that
    // flag included), else all of them; returns how many it read.
    std::size_t ReadToGoodFrame(std::span<const std::uint8_t> bytes);
    HdlcFrameHead GoodFrameHead() const;

    hdlc_core::CFrameCore m_core;
    bool m_bGoodFrameEnded = false;
    std::array<std::uint8_t, kHeadSize> m_head{};
};
