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

// The room every frame is encoded into: a frame is at most this long.
inline constexpr int kHdlcScratchSize = 1024;
extern std::array<unsigned char, kHdlcScratchSize> g_HdlcScratch;

// Advances both descriptors as far as the output room allows; always 0.
// An escape pair is never split: a byte that needs two output bytes waits
// until two are free, so a later call with fresh room continues the frame.
int HdlcEncode(HdlcInput* in, HdlcOutput* out);

// One step of the FCS: (fcs >> 8) ^ table[(fcs ^ byte) & 0xFF].
std::uint16_t HdlcFcsUpdate(std::uint16_t fcs, std::uint8_t byte);

// HdlcFcsUpdate over every byte of data in turn, up to sixteen bytes a step
// (sliced tables): the same register, for readers that run the FCS over runs.
std::uint16_t HdlcFcsUpdateRun(std::uint16_t fcs, std::span<const std::uint8_t> data);

// The FCS as it goes on the wire (complemented, sent low byte first) of data.
std::uint16_t HdlcFcs(std::span<const std::uint8_t> data);

// The whole frame of a packet of any length (HdlcEncode resumed through a
// small window); empty for an empty packet.
std::vector<std::uint8_t> HdlcFramePacket(std::span<const std::uint8_t> packet);

class CHdlcFramer {
public:
    CHdlcFramer();
    virtual ~CHdlcFramer() = default;

    // Frames the first length bytes of buffer in place; returns the frame's length.
    // The buffer must have room for kHdlcScratchSize bytes.
    int Frame(unsigned char* buffer, int length);

    // As above for a buffer of known size: the frame is cut to fit the buffer
    // (never an escape pair split) and a length past its end is clamped.
    int Frame(std::span<unsigned char> buffer, int length);

private:
    int FrameInto(unsigned char* buffer, int length, std::size_t room);

    HdlcOutput m_out;
    HdlcInput m_in;
};
