// SPDX-License-Identifier: GPL-2.0-or-later
#include "dm/HdlcDeframer.h"

#include "dm/DmCommand.h"
#include "dm/HdlcFramer.h"

#include <algorithm>

namespace {
bool IsLineEnd(std::uint8_t b) { return b == '\r' || b == '\n'; }
bool IsTextByte(std::uint8_t b) { return b == '\t' || (b >= 0x20 && b < kHdlcEscape); }
bool EndsFrameOrLine(std::uint8_t b) { return b == kHdlcFlag || IsLineEnd(b); }
}  // namespace

CHdlcDeframer::CHdlcDeframer(bool textLines, std::size_t maxFrame) : m_bTextLines(textLines), m_core(maxFrame) {}

void CHdlcDeframer::Reset()
{
    m_raw.clear();
    m_data.clear();
    m_core.Reset();
}

bool CHdlcDeframer::LooksLikeText() const
{
    return !m_core.Overflowed() && !m_raw.empty() && m_raw.front() != dm::kDmAt &&
           std::all_of(m_raw.begin(), m_raw.end(), IsTextByte);
}

const std::uint8_t* CHdlcDeframer::Read(const std::uint8_t* p, const std::uint8_t* end)
{
    return m_core.ReadToFlag(
        p, end,
        [this](std::size_t, std::span<const std::uint8_t> run) { m_data.insert(m_data.end(), run.begin(), run.end()); },
        [this](std::span<const std::uint8_t> raw) { m_raw.insert(m_raw.end(), raw.begin(), raw.end()); });
}

void CHdlcDeframer::EndFrame(std::vector<HdlcItem>& out)
{
    switch (m_core.EndFrame()) {
    case hdlc_core::Verdict::None:
        break;
    case hdlc_core::Verdict::Bad:
        out.push_back({HdlcItem::Kind::BadFrame, std::move(m_raw)});
        break;
    case hdlc_core::Verdict::Good:
        m_data.resize(m_core.PayloadLength());
        out.push_back({HdlcItem::Kind::Frame, std::move(m_data)});
        break;
    }
    Reset();
}

// A CR or LF: the end of a text line, the LF of a CR LF pair, or a frame byte.
void CHdlcDeframer::LineEnd(const std::uint8_t* at, std::vector<HdlcItem>& out)
{
    if (m_raw.empty())
        return;   // the LF of a CR LF pair, or an empty line
    if (LooksLikeText()) {
        ++m_nText;
        out.push_back({HdlcItem::Kind::TextLine, std::move(m_raw)});
        Reset();
        return;
    }
    Read(at, at + 1);
}

void CHdlcDeframer::Push(std::span<const std::uint8_t> bytes, std::vector<HdlcItem>& out)
{
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    while (p != end) {
        // With text lines a CR or LF stops the frame's run as a flag does.
        const std::uint8_t* const stop = m_bTextLines ? std::find_if(p, end, EndsFrameOrLine) : end;
        p = Read(p, stop);
        if (p == end)
            break;
        if (*p == kHdlcFlag)
            EndFrame(out);
        else if (p == stop)
            LineEnd(p, out);
        ++p;
    }
}
