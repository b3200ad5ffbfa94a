// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CHdlcDeframer: reads asynchronous HDLC frames of DM packets out of a byte
// stream, the reverse of CHdlcFramer. Each frame ends at a 0x7E flag; 0x7D
// escapes the next byte (XOR 0x20); the last two un-escaped bytes are the
// complemented CRC-16/X-25 of the others, low byte first. Running the FCS
// over a whole good frame, its FCS included, leaves the constant 0xF0B8.
//
// A peer on a DM port may also type text (AT commands in ASCII mode). With
// text lines enabled, a CR or LF ends a text line when every byte since the
// last flag or line end is printable ASCII and the first is not 0x5E (the DM
// AT command code, whose packet carries its own CR inside the frame). A CR or
// LF at the very start of a frame is then taken as the tail of the previous
// line and dropped.
//
// No I/O and no allocation per byte beyond the frame buffer; bytes can arrive
// in any chunking.
#include "dm/HdlcFrameCore_p.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct HdlcItem {
    enum class Kind : std::uint8_t {
        Frame,      // data: the un-escaped payload without its FCS
        BadFrame,   // data: the bytes as received, without the flag
        TextLine,   // data: the line without its CR/LF
    };
    Kind kind;
    std::vector<std::uint8_t> data;
};

class CHdlcDeframer {
public:
    // A frame longer than this (un-escaped) is dropped up to its flag and counted bad.
    static constexpr std::size_t kDefaultMaxFrame = 65536;

    explicit CHdlcDeframer(bool textLines = false, std::size_t maxFrame = kDefaultMaxFrame);

    // Reads bytes and appends every item they complete to out.
    void Push(std::span<const std::uint8_t> bytes, std::vector<HdlcItem>& out);

    // Drops a partly received frame or line.
    void Reset();

    std::uint64_t GoodFrames() const { return m_core.GoodFrames(); }
    std::uint64_t BadFrames() const { return m_core.BadFrames(); }
    std::uint64_t TextLines() const { return m_nText; }

private:
    // Frame bytes of [p, end) up to a flag; returns where it stopped.
    const std::uint8_t* Read(const std::uint8_t* p, const std::uint8_t* end);
    void EndFrame(std::vector<HdlcItem>& out);
    void LineEnd(const std::uint8_t* at, std::vector<HdlcItem>& out);
    bool LooksLikeText() const;

    bool m_bTextLines;
    hdlc_core::CFrameCore m_core;          // escapes, FCS, limit and verdict, as the frame counter has them
    std::vector<std::uint8_t> m_raw;       // as received since the last flag
    std::vector<std::uint8_t> m_data;      // un-escaped
    std::uint64_t m_nText = 0;
};
