// SPDX-License-Identifier: GPL-2.0-or-later
#include "dm/HdlcFramer.h"

#include "dm/FramedWriter.h"
#include "dm/HdlcScan_p.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// RFC 1662 FCS-16 table for the reflected polynomial 0x8408, built at compile time.
constexpr std::array<std::uint16_t, 256> MakeFcsTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned v = i;
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 1u) ? (v >> 1) ^ 0x8408u : v >> 1;
        table[i] = static_cast<std::uint16_t>(v);
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kFcsTable = MakeFcsTable();
static_assert(kFcsTable[1] == 0x1189 && kFcsTable[255] == 0x0F78);

constexpr std::uint16_t kFcsInit = 0xFFFF;

inline std::uint16_t FcsStep(std::uint16_t fcs, std::uint8_t byte)
{
    return static_cast<std::uint16_t>((fcs >> 8) ^ kFcsTable[(fcs ^ byte) & 0xFFu]);
}

// Sliced tables: slice k holds what a byte does to the register when k zero
// bytes follow it, so n bytes fold in with n independent look-ups instead of
// a chain of n dependent steps.
constexpr std::size_t kFcsSlices = 16;
using FcsSlices = std::array<std::array<std::uint16_t, 256>, kFcsSlices>;

constexpr FcsSlices MakeFcsSlices()
{
    FcsSlices slices{};
    slices[0] = kFcsTable;
    for (std::size_t k = 1; k < kFcsSlices; ++k)
        for (std::size_t i = 0; i < 256; ++i) {
            const std::uint16_t prev = slices[k - 1][i];
            slices[k][i] = static_cast<std::uint16_t>((prev >> 8) ^ kFcsTable[prev & 0xFFu]);
        }
    return slices;
}

constexpr FcsSlices kFcsSliced = MakeFcsSlices();

// N bytes in one step (N from 2 to kFcsSlices): the register's low byte meets
// the first byte, its high byte the second.
template <std::size_t... I>
inline std::uint16_t FcsSliceStep(std::uint16_t fcs, const std::uint8_t* p, std::index_sequence<I...>)
{
    constexpr std::size_t n = sizeof...(I) + 2;
    const auto& t = kFcsSliced;
    return static_cast<std::uint16_t>(t[n - 1][(p[0] ^ fcs) & 0xFFu] ^ t[n - 2][(p[1] ^ (fcs >> 8)) & 0xFFu] ^
                                      (t[n - 3 - I][p[I + 2]] ^ ... ^ 0));
}

template <std::size_t N>
inline std::uint16_t FcsSliceStep(std::uint16_t fcs, const std::uint8_t* p)
{
    static_assert(N >= 2 && N <= kFcsSlices);
    return FcsSliceStep(fcs, p, std::make_index_sequence<N - 2>());
}

} // namespace

std::uint16_t HdlcFcsUpdate(std::uint16_t fcs, std::uint8_t byte) { return FcsStep(fcs, byte); }

std::uint16_t HdlcFcsUpdateRun(std::uint16_t fcs, std::span<const std::uint8_t> data)
{
    const std::uint8_t* p = data.data();
    std::size_t n = data.size();
    for (; n >= 16; n -= 16, p += 16)
        fcs = FcsSliceStep<16>(fcs, p);
    // The rest in halving steps, so a short run's tail is not a chain of single steps.
    if (n >= 8) {
        fcs = FcsSliceStep<8>(fcs, p);
        n -= 8;
        p += 8;
    }
    if (n >= 4) {
        fcs = FcsSliceStep<4>(fcs, p);
        n -= 4;
        p += 4;
    }
    if (n >= 2) {
        fcs = FcsSliceStep<2>(fcs, p);
        n -= 2;
        p += 2;
    }
    if (n != 0)
        fcs = FcsStep(fcs, *p);
    return fcs;
}

std::uint16_t HdlcFcs(std::span<const std::uint8_t> data)
{
    return static_cast<std::uint16_t>(~HdlcFcsUpdateRun(kFcsInit, data));
}

namespace {

// Where one encoding call stands: the packet bytes still to go, the room still
// free, and the frame's FCS and state.
struct EncodeCursor {
    const std::uint8_t* src;
    const std::uint8_t* srcEnd;
    std::uint8_t* dst;
    std::uint8_t* dstEnd;
    std::uint16_t fcs;
    std::uint32_t state;
    bool final;
};

// Packet bytes as far as input and room go: the plain run before the next
// flag or escape byte is copied whole and folded into the FCS in one step; an
// escape pair is never split. Works on locals: a store through an octet
// pointer could alias the cursor, which would be read again after every byte.
void PutPacketBytes(EncodeCursor& c)
{
    const std::uint8_t* src = c.src;
    const std::uint8_t* const srcEnd = c.srcEnd;
    std::uint8_t* dst = c.dst;
    std::uint8_t* const dstEnd = c.dstEnd;
    std::uint16_t fcs = c.fcs;
    while (src != srcEnd && dst != dstEnd) {
        const std::uint8_t b = *src;
        if (b == kHdlcFlag || b == kHdlcEscape) {
            if (dstEnd - dst < 2)
                break;   // the pair would be split: wait for more room
            dst[0] = kHdlcEscape;
            dst[1] = static_cast<std::uint8_t>(b ^ kHdlcEscapeXor);
            dst += 2;
            fcs = FcsStep(fcs, b);
            ++src;
            continue;
        }
        const auto room = static_cast<std::size_t>(dstEnd - dst);
        const std::uint8_t* const stop = src + std::min(static_cast<std::size_t>(srcEnd - src), room);
        const auto run = static_cast<std::size_t>(hdlc_scan::FindFlagOrEscape(src + 1, stop) - src);
        std::memcpy(dst, src, run);
        fcs = HdlcFcsUpdateRun(fcs, std::span<const std::uint8_t>(src, run));
        src += run;
        dst += run;
    }
    c.src = src;
    c.dst = dst;
    c.fcs = fcs;
}

// After the last packet byte: the complemented FCS low byte first, then the flag.
void PutTrailer(EncodeCursor& c)
{
    if (c.state == HDLC_DATA) {
        if (c.final) {
            c.fcs = static_cast<std::uint16_t>(~c.fcs);
            c.state = HDLC_FCS_LO;
        } else {
            c.state = HDLC_DONE;
        }
    }
    while ((c.state == HDLC_FCS_LO || c.state == HDLC_FCS_HI) && c.dst != c.dstEnd) {
        const auto b = static_cast<std::uint8_t>(c.fcs & 0xFFu);
        if (b == kHdlcFlag || b == kHdlcEscape) {
            if (c.dstEnd - c.dst < 2)
                break;   // the pair would be split: wait for more room
            c.dst[0] = kHdlcEscape;
            c.dst[1] = static_cast<std::uint8_t>(b ^ kHdlcEscapeXor);
            c.dst += 2;
        } else {
            *c.dst++ = b;
        }
        c.fcs = static_cast<std::uint16_t>(c.fcs >> 8);
        ++c.state;
    }
    if (c.state == HDLC_FLAG && c.dst != c.dstEnd) {
        *c.dst++ = kHdlcFlag;
        c.state = HDLC_DONE;
    }
}

void StartFrame(EncodeCursor& c)
{
    if (c.state == HDLC_START) {
        c.fcs = kFcsInit;
        c.state = HDLC_DATA;
    }
}

// The one encoding step every framing path runs.
void EncodeStep(EncodeCursor& c)
{
    StartFrame(c);
    PutPacketBytes(c);
    if (c.src == c.srcEnd)
        PutTrailer(c);
}

}  // namespace

int HdlcEncode(HdlcInput* in, HdlcOutput* out)
{
    if (in == nullptr || out == nullptr)
        return 0;
    // pLast is inclusive; a packet used up has pCur one past pLast.
    const bool anyInput = in->pCur <= in->pLast;
    EncodeCursor c{in->pCur, anyInput ? in->pLast + 1 : in->pCur, out->pCur, out->pCur,
                   out->wFcs, in->nState, in->bFinal != 0};
    if (out->pCur != nullptr && out->pLast != nullptr) {
        c.dstEnd = out->pLast + 1;
        EncodeStep(c);
    } else {
        StartFrame(c);   // no room at all: the frame starts and nothing moves
    }
    const std::size_t used = static_cast<std::size_t>(c.src - in->pCur);
    in->pCur += used;
    in->nState = c.state;
    out->pCur = c.dst;
    out->wFcs = c.fcs;
    return 0;
}

CHdlcEncoder::CHdlcEncoder(std::span<const std::uint8_t> packet, bool final)
    : m_src(packet.data()), m_srcEnd(packet.data() + packet.size()), m_final(final)
{
}

std::size_t CHdlcEncoder::Encode(std::span<std::uint8_t> room)
{
    if (room.empty())
        return 0;
    EncodeCursor c{m_src, m_srcEnd, room.data(), room.data() + room.size(), m_fcs, m_state, m_final};
    EncodeStep(c);
    m_src = c.src;
    m_fcs = c.fcs;
    m_state = c.state;
    return static_cast<std::size_t>(c.dst - room.data());
}

std::size_t HdlcFrameInto(std::span<const std::uint8_t> packet, std::span<std::uint8_t> room)
{
    return CHdlcEncoder(packet).Encode(room);
}

std::vector<std::uint8_t> HdlcFramePacket(std::span<const std::uint8_t> packet)
{
    return packet.empty() ? std::vector<std::uint8_t>{} : FramePacket(packet);
}

CHdlcFramer::CHdlcFramer() : m_out{nullptr, nullptr, 0}, m_in{} {}

int CHdlcFramer::Frame(unsigned char* buffer, int length)
{
    return FrameInto(buffer, length, kHdlcFrameRoom);
}

int CHdlcFramer::Frame(std::span<unsigned char> buffer, int length)
{
    if (length > 0 && static_cast<std::size_t>(length) > buffer.size())
        length = static_cast<int>(std::min<std::size_t>(buffer.size(), INT32_MAX));
    return FrameInto(buffer.data(), length, std::min<std::size_t>(buffer.size(), kHdlcFrameRoom));
}

int CHdlcFramer::FrameInto(unsigned char* buffer, int length, std::size_t room)
{
    if (buffer == nullptr || room == 0)
        return 0;

    // An empty packet is described as "already used up" (pCur one past pLast)
    // without forming a pointer before the start of the buffer.
    if (length > 0) {
        m_in.pCur = buffer;
        m_in.pLast = buffer + (length - 1);
    } else {
        m_in.pCur = buffer + 1;
        m_in.pLast = buffer;
    }
    m_in.nState = HDLC_START;
    m_in.bFinal = 1;

    // The frame is made in a room of the call's own and copied over the
    // packet: nothing outlives the call, so framers on two threads never meet.
    std::array<unsigned char, kHdlcFrameRoom> frame;
    m_out.pCur = frame.data();
    m_out.pLast = frame.data() + (room - 1);

    HdlcEncode(&m_in, &m_out);

    const auto n = static_cast<std::size_t>(m_out.pCur - frame.data());
    m_out.pCur = m_out.pLast = nullptr;   // the room is gone once the call returns
    std::memcpy(buffer, frame.data(), n);
    return static_cast<int>(n);
}
