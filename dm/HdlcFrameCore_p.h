// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Inside dm/: the one reading of an HDLC frame's bytes that CHdlcDeframer and
// CHdlcFrameCounter share, so the two cannot judge a frame differently. It
// undoes the escapes, runs the FCS, counts the un-escaped length against the
// frame limit and gives the verdict at each flag; what a reader keeps of the
// bytes (the whole frame, or only its head) is its own business, handed to it
// run by run.
#include "dm/HdlcFramer.h"
#include "dm/HdlcScan_p.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace hdlc_core {

inline constexpr std::uint16_t kFcsInit = 0xFFFF;
// What the FCS register holds after a good frame's own FCS bytes went through it.
inline constexpr std::uint16_t kFcsGood = 0xF0B8;

enum class Verdict : std::uint8_t {
    None,   // back-to-back flags (or a leading flag) delimit nothing
    Good,
    Bad,    // grew past the limit, ended inside an escape, shorter than its FCS, or a wrong FCS
};

class CFrameCore {
public:
    explicit CFrameCore(std::size_t maxFrame) : m_nMaxFrame(std::max<std::size_t>(maxFrame, 3)) {}

    // Reads the bytes of [p, end) up to the first flag and returns where it
    // stopped (that flag, not read, or end). onPlain(offset, run) gets each
    // run of un-escaped bytes with its offset in the frame; onRaw(run) gets
    // the bytes as received, once per call, up to where the frame overflowed.
    template <typename OnPlain, typename OnRaw>
    const std::uint8_t* ReadToFlag(const std::uint8_t* p, const std::uint8_t* end, OnPlain&& onPlain, OnRaw&& onRaw)
    {
        if (m_bOverflow)
            return hdlc_scan::FindFlag(p, end);   // already bad: nothing counts up to the flag
        if (p == end || *p == kHdlcFlag)
            return p;
        // The state in locals while the bytes go by: what onPlain stores could
        // alias the members, which would then be read again after every run.
        const std::uint8_t* const first = p;
        std::uint16_t fcs = m_wFcs;
        std::size_t length = m_nLength;
        bool escape = m_bEscape;
        bool overflow = false;
        while (p != end) {
            const std::uint8_t b = *p;
            if (b == kHdlcFlag)
                break;
            if (escape || b == kHdlcEscape) {
                if (length >= m_nMaxFrame) {
                    overflow = true;   // the byte past the limit makes the frame bad
                    break;
                }
                ++p;
                if (escape) {
                    const auto plain = static_cast<std::uint8_t>(b ^ kHdlcEscapeXor);
                    onPlain(length, std::span<const std::uint8_t>(&plain, 1));
                    fcs = HdlcFcsUpdate(fcs, plain);
                    ++length;
                }
                escape = !escape;
                continue;
            }
            const auto plain = static_cast<std::size_t>(hdlc_scan::FindFlagOrEscape(p + 1, end) - p);
            const std::size_t run = std::min(plain, m_nMaxFrame - length);
            if (run != 0) {
                onPlain(length, std::span<const std::uint8_t>(p, run));
                fcs = HdlcFcsUpdateRun(fcs, std::span<const std::uint8_t>(p, run));
                length += run;
                p += run;
            }
            if (run < plain) {
                overflow = true;
                break;
            }
        }
        m_wFcs = fcs;
        m_nLength = length;
        m_bEscape = escape;
        m_bOverflow = overflow;
        m_bAny = true;
        onRaw(std::span<const std::uint8_t>(first, p));
        return overflow ? hdlc_scan::FindFlag(p, end) : p;
    }

    // At a flag: judges the frame since the last one and starts the next.
    // The payload of a good frame is PayloadLength() long until then.
    Verdict EndFrame()
    {
        Verdict verdict = Verdict::None;
        if (m_bAny) {
            const bool bad = m_bOverflow || m_bEscape || m_nLength < 2 || m_wFcs != kFcsGood;
            verdict = bad ? Verdict::Bad : Verdict::Good;
            ++(bad ? m_nBad : m_nGood);
            m_nPayload = bad ? 0 : m_nLength - 2;
        }
        Reset();
        return verdict;
    }

    // Drops a partly read frame; the counts stay.
    void Reset()
    {
        m_wFcs = kFcsInit;
        m_nLength = 0;
        m_bAny = false;
        m_bEscape = false;
        m_bOverflow = false;
    }

    bool Overflowed() const { return m_bOverflow; }
    // The payload (without its FCS) of the good frame EndFrame just judged.
    std::size_t PayloadLength() const { return m_nPayload; }
    std::uint64_t GoodFrames() const { return m_nGood; }
    std::uint64_t BadFrames() const { return m_nBad; }

private:
    std::size_t m_nMaxFrame;
    std::uint16_t m_wFcs = kFcsInit;
    std::size_t m_nLength = 0;     // un-escaped bytes of the current frame, its FCS included
    std::size_t m_nPayload = 0;
    bool m_bAny = false;           // a byte other than a flag came since the last flag
    bool m_bEscape = false;
    bool m_bOverflow = false;
    std::uint64_t m_nGood = 0;
    std::uint64_t m_nBad = 0;
};

}  // namespace hdlc_core
