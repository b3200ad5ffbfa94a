// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Asynchronous HDLC framing of DM packets (RFC 1662 style, as DM ports use it):
// the packet with 0x7E and 0x7D escaped, the complemented CRC-16/X-25 of the
// unescaped bytes low byte first, then one closing 0x7E and no leading flag.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

enum : std::uint32_t {
    HDLC_START = 0,
    HDLC_DATA = 1,
    HDLC_FCS_LO = 2,
    HDLC_FCS_HI = 3,
    HDLC_FLAG = 4,
    HDLC_DONE = 5,
};

inline constexpr std::uint8_t kHdlcFlag = 0x7E;
inline constexpr std::uint8_t kHdlcEscape = 0x7D;
inline constexpr std::uint8_t kHdlcEscapeXor = 0x20;

struct HdlcOutput {
    unsigned char* pCur;
    unsigned char* pLast;   // last byte that may be written (inclusive)
    std::uint16_t wFcs;
};

struct HdlcInput {
    unsigned char* pCur;
    unsigned char* pLast;   // last packet byte (inclusive)
    std::uint32_t nState;
    std::int32_t bFinal;
};

// The room Frame encodes into: a frame it makes is at most this long.
inline constexpr std::size_t kHdlcFrameRoom = 1024;
inline constexpr int kHdlcScratchSize = static_cast<int>(kHdlcFrameRoom);

// The one encoder. Each call writes the next piece of the frame of packet
// (escapes, FCS, closing flag; with final false no FCS and no flag) into
// room, as much as fits without splitting an escape pair, and returns its
// length; the next call continues where it stopped. Plain runs between 0x7D
// and 0x7E bytes are copied whole and folded into the FCS a run at a time.
// No process-wide state: encoders on different threads never meet.
class CHdlcEncoder {
public:
    explicit CHdlcEncoder(std::span<const std::uint8_t> packet, bool final = true);

    std::size_t Encode(std::span<std::uint8_t> room);
    bool Done() const { return m_state == HDLC_DONE; }

private:
    const std::uint8_t* m_src;
    const std::uint8_t* m_srcEnd;
    std::uint16_t m_fcs = 0;
    std::uint32_t m_state = HDLC_START;
    bool m_final;
};

// As much of the frame of packet as room holds, in one piece: the whole frame
// when it fits, else cut where the room ends (never inside an escape pair).
std::size_t HdlcFrameInto(std::span<const std::uint8_t> packet, std::span<std::uint8_t> room);

// The frame of packet as FramePacket (dm/FramedWriter.h) makes it, but
// nothing for an empty packet: for callers that frame only what they have.
std::vector<std::uint8_t> HdlcFramePacket(std::span<const std::uint8_t> packet);

// The encoder over the designed descriptors: advances both as far as the
// output room allows; always 0. An escape pair is never split, so a later
// call with fresh room continues the frame.
int HdlcEncode(HdlcInput* in, HdlcOutput* out);

// One step of the FCS: (fcs >> 8) ^ table[(fcs ^ byte) & 0xFF].
std::uint16_t HdlcFcsUpdate(std::uint16_t fcs, std::uint8_t byte);

// HdlcFcsUpdate over every byte of data in turn, up to sixteen bytes a step
// (sliced tables): the same register, for readers that run the FCS over runs.
std::uint16_t HdlcFcsUpdateRun(std::uint16_t fcs, std::span<const std::uint8_t> data);

// The FCS as it goes on the wire (complemented, sent low byte first) of data.
std::uint16_t HdlcFcs(std::span<const std::uint8_t> data);

class CHdlcFramer {
public:
    CHdlcFramer();
    virtual ~CHdlcFramer() = default;

    // Frames the first length bytes of buffer in place; returns the frame's length.
    // The frame is at most kHdlcFrameRoom bytes, cut there (never inside an
    // escape pair) when longer; the buffer must have room for that many.
    int Frame(unsigned char* buffer, int length);

    // As above for a buffer of known size: the frame is cut to fit the buffer
    // (never an escape pair split) and a length past its end is clamped.
    int Frame(std::span<unsigned char> buffer, int length);

private:
    int FrameInto(unsigned char* buffer, int length, std::size_t room);

    HdlcOutput m_out;
    HdlcInput m_in;
};
