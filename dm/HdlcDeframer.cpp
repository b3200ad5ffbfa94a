#include "dm/HdlcDeframer.h"

#include "dm/DmCommand.h"
#include "dm/HdlcFramer.h"
#include "dm/HdlcScan_p.h"

#include <algorithm>

namespace {
constexpr std::uint16_t kFcsInit = 0xFFFF;
// What the FCS register holds after a good frame's own FCS bytes went through it.
constexpr std::uint16_t kFcsGood = 0xF0B8;

bool IsLineEnd(std::uint8_t b) { return b == '\r' || b == '\n'; }
bool IsTextByte(std::uint8_t b) { return b == '\t' || (b >= 0x20 && b < kHdlcEscape); }
}  // namespace

CHdlcDeframer::CHdlcDeframer(bool textLines, std::size_t maxFrame)
    : m_bTextLines(textLines), m_nMaxFrame(std::max<std::size_t>(maxFrame, 3))
{
}

void CHdlcDeframer::Reset()
{
    m_raw.clear();
    m_data.clear();
    m_wFcs = kFcsInit;
    m_bEscape = false;
    m_bOverflow = false;
}

bool CHdlcDeframer::LooksLikeText() const
{
    return !m_bOverflow && !m_raw.empty() && m_raw.front() != dm::kDmAt &&
           std::all_of(m_raw.begin(), m_raw.end(), IsTextByte);
}

void CHdlcDeframer::EndFrame(std::vector<HdlcItem>& out)
{
    if (m_raw.empty()) {
        // Back-to-back flags (or a leading flag) delimit nothing.
        Reset();
        return;
    }
    // Too short to hold an FCS, cut by an escape, too long, or a wrong FCS.
    if (m_bOverflow || m_bEscape || m_data.size() < 2 || m_wFcs != kFcsGood) {
        ++m_nBad;
        out.push_back({HdlcItem::Kind::BadFrame, std::move(m_raw)});
    } else {
        ++m_nGood;
        m_data.resize(m_data.size() - 2);
        out.push_back({HdlcItem::Kind::Frame, std::move(m_data)});
    }
    Reset();
}

void CHdlcDeframer::Push(std::span<const std::uint8_t> bytes, std::vector<HdlcItem>& out)
{
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    while (p != end) {
        if (!m_bTextLines) {
            // Without text lines only a flag or an escape changes the state:
            // the plain bytes before one go in as a run.
            if (m_bOverflow) {
                p = hdlc_scan::FindFlag(p, end);   // dropped up to the flag
                if (p == end)
                    break;
            } else if (!m_bEscape) {
                const auto plain = static_cast<std::size_t>(hdlc_scan::FindFlagOrEscape(p, end) - p);
                const std::size_t run = std::min(plain, m_nMaxFrame - m_data.size());
                if (run != 0) {
                    m_raw.insert(m_raw.end(), p, p + run);
                    m_data.insert(m_data.end(), p, p + run);
                    m_wFcs = HdlcFcsUpdateRun(m_wFcs, std::span<const std::uint8_t>(p, run));
                    p += run;
                    if (p == end)
                        break;
                }
            }
        }
        PushByte(*p++, out);
    }
}

void CHdlcDeframer::PushByte(std::uint8_t b, std::vector<HdlcItem>& out)
{
    if (b == kHdlcFlag) {
        EndFrame(out);
        return;
    }
    if (m_bTextLines && IsLineEnd(b)) {
        if (m_raw.empty())
            return;   // the LF of a CR LF pair, or an empty line
        if (LooksLikeText()) {
            ++m_nText;
            out.push_back({HdlcItem::Kind::TextLine, std::move(m_raw)});
            Reset();
            return;
        }
    }
    if (m_bOverflow)
        return;
    if (m_data.size() >= m_nMaxFrame) {
        m_bOverflow = true;
        m_data.clear();
        return;
    }
    m_raw.push_back(b);
    if (m_bEscape) {
        m_bEscape = false;
        const std::uint8_t plain = b ^ kHdlcEscapeXor;
        m_data.push_back(plain);
        m_wFcs = HdlcFcsUpdate(m_wFcs, plain);
    } else if (b == kHdlcEscape) {
        m_bEscape = true;
    } else {
        m_data.push_back(b);
        m_wFcs = HdlcFcsUpdate(m_wFcs, b);
    }
}
