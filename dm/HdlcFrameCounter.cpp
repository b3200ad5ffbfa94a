#include "dm/HdlcFrameCounter.h"

#include "dm/HdlcFramer.h"
#include "dm/HdlcScan_p.h"

#include <algorithm>
#include <cstring>

namespace {
using hdlc_scan::FindFlag;
using hdlc_scan::FindFlagOrEscape;

constexpr std::uint16_t kFcsInit = 0xFFFF;
// What the FCS register holds after a good frame's own FCS bytes went through it.
constexpr std::uint16_t kFcsGood = 0xF0B8;
}  // namespace

CHdlcFrameCounter::CHdlcFrameCounter(std::size_t maxFrame)
    : m_nMaxFrame(std::max<std::size_t>(maxFrame, 3)), m_wFcs(kFcsInit)
{
}

void CHdlcFrameCounter::Reset()
{
    m_wFcs = kFcsInit;
    m_nLength = 0;
    m_bAny = false;
    m_bEscape = false;
    m_bOverflow = false;
    m_bGoodFrameEnded = false;
}

HdlcFrameHead CHdlcFrameCounter::GoodFrameHead() const
{
    return {std::span<const std::uint8_t>(m_head).first(std::min(m_nGoodLength, kHeadSize)), m_nGoodLength};
}

void CHdlcFrameCounter::AddPlain(const std::uint8_t* run, std::size_t n)
{
    if (m_nLength < kHeadSize)
        std::memcpy(m_head.data() + m_nLength, run, std::min(n, kHeadSize - m_nLength));
    m_wFcs = HdlcFcsUpdateRun(m_wFcs, std::span<const std::uint8_t>(run, n));
    m_nLength += n;
}

bool CHdlcFrameCounter::EndFrame()
{
    bool good = false;
    if (m_bAny) {   // back-to-back flags (or a leading flag) delimit nothing
        if (m_bOverflow || m_bEscape || m_nLength < 2 || m_wFcs != kFcsGood) {
            ++m_nBad;
        } else {
            ++m_nGood;
            m_nGoodLength = m_nLength - 2;
            good = true;
        }
    }
    Reset();
    m_bGoodFrameEnded = good;
    return good;
}

std::size_t CHdlcFrameCounter::ReadToGoodFrame(std::span<const std::uint8_t> bytes)
{
    const std::uint8_t* const begin = bytes.data();
    const std::uint8_t* const end = begin + bytes.size();
    const std::uint8_t* p = begin;
    while (p != end) {
        if (m_bOverflow) {
            // Already bad: nothing counts up to the flag.
            p = FindFlag(p, end);
            if (p == end)
                break;
            ++p;
            EndFrame();
            continue;
        }
        if (m_bEscape) {
            const std::uint8_t b = *p++;
            if (b == kHdlcFlag) {
                EndFrame();   // cut inside the escape: bad
                continue;
            }
            if (m_nLength >= m_nMaxFrame) {
                m_bOverflow = true;
                continue;
            }
            m_bEscape = false;
            const auto plain = static_cast<std::uint8_t>(b ^ kHdlcEscapeXor);
            AddPlain(&plain, 1);
            continue;
        }
        const std::uint8_t* const special = FindFlagOrEscape(p, end);
        if (special != p) {
            m_bAny = true;
            const auto run = static_cast<std::size_t>(special - p);
            const std::size_t room = m_nMaxFrame - m_nLength;
            if (run > room) {
                // The byte past the limit makes the frame bad.
                AddPlain(p, room);
                p += room;
                m_bOverflow = true;
                continue;
            }
            AddPlain(p, run);
            p = special;
            if (p == end)
                break;
        }
        ++p;
        if (*special == kHdlcFlag) {
            if (EndFrame())
                return static_cast<std::size_t>(p - begin);
            continue;
        }
        m_bAny = true;
        if (m_nLength >= m_nMaxFrame) {
            m_bOverflow = true;
            continue;
        }
        m_bEscape = true;
    }
    return static_cast<std::size_t>(p - begin);
}
