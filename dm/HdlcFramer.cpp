#include "dm/HdlcFramer.h"

#include <algorithm>
#include <cstring>
#include <utility>

std::array<unsigned char, kHdlcScratchSize> g_HdlcScratch{};

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

inline bool NeedsEscape(std::uint8_t b) { return b == kHdlcFlag || b == kHdlcEscape; }

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

std::vector<std::uint8_t> HdlcFramePacket(std::span<const std::uint8_t> packet)
{
    std::vector<std::uint8_t> frame;
    if (packet.empty())
        return frame;
    // HdlcEncode resumes where it stopped, so any length goes through a small window.
    std::vector<unsigned char> in(packet.begin(), packet.end());
    HdlcInput hin{in.data(), in.data() + in.size() - 1, HDLC_START, 1};
    HdlcOutput hout{nullptr, nullptr, 0};
    std::array<unsigned char, 256> window{};
    frame.reserve(packet.size() + packet.size() / 8 + 4);
    for (;;) {
        hout.pCur = window.data();
        hout.pLast = window.data() + window.size() - 1;
        HdlcEncode(&hin, &hout);
        frame.insert(frame.end(), window.data(), hout.pCur);
        if (hin.nState == HDLC_DONE || hout.pCur == window.data())
            break;
    }
    return frame;
}

namespace {

// Puts b (escaped when it must be) at dst; false when the pair would not fit,
// so that an escape pair is never split.
bool PutByte(unsigned char*& dst, unsigned char* dstLast, std::uint8_t b)
{
    if (NeedsEscape(b)) {
        if (dst == dstLast)
            return false;   // the pair would be split: wait for more room
        dst[0] = kHdlcEscape;
        dst[1] = static_cast<unsigned char>(b ^ kHdlcEscapeXor);
        dst += 2;
    } else {
        *dst++ = b;
    }
    return true;
}

// After the last packet byte: the complemented FCS low byte first, then the flag.
void PutTrailer(std::uint32_t& state, std::uint16_t& fcs, std::int32_t final, unsigned char*& dst,
                unsigned char* dstLast)
{
    if (state == HDLC_DATA) {
        if (final != 0) {
            fcs = static_cast<std::uint16_t>(~fcs);
            state = HDLC_FCS_LO;
        } else {
            state = HDLC_DONE;
        }
    }
    while ((state == HDLC_FCS_LO || state == HDLC_FCS_HI) && dst <= dstLast) {
        if (!PutByte(dst, dstLast, static_cast<std::uint8_t>(fcs & 0xFFu)))
            break;
        fcs = static_cast<std::uint16_t>(fcs >> 8);
        ++state;
    }
    if (state == HDLC_FLAG && dst <= dstLast) {
        *dst++ = kHdlcFlag;
        state = HDLC_DONE;
    }
}

}  // namespace

int HdlcEncode(HdlcInput* in, HdlcOutput* out)
{
    if (in == nullptr || out == nullptr)
        return 0;

    const bool starting = in->nState == HDLC_START;
    std::uint16_t fcs = starting ? kFcsInit : out->wFcs;
    std::uint32_t state = starting ? std::uint32_t{HDLC_DATA} : in->nState;

    unsigned char* src = in->pCur;
    unsigned char* const srcLast = in->pLast;
    unsigned char* dst = out->pCur;
    unsigned char* const dstLast = out->pLast;

    if (dst != nullptr && dstLast != nullptr) {
        // Packet bytes, as far as input and room go.
        while (src <= srcLast && dst <= dstLast && PutByte(dst, dstLast, *src)) {
            fcs = FcsStep(fcs, *src);
            ++src;
        }
        if (src > srcLast)
            PutTrailer(state, fcs, in->bFinal, dst, dstLast);
    }

    out->pCur = dst;
    out->pLast = dstLast;
    out->wFcs = fcs;
    in->nState = state;
    in->pCur = src;
    in->pLast = srcLast;
    return 0;
}

CHdlcFramer::CHdlcFramer() : m_out{nullptr, nullptr, 0}, m_in{} {}

int CHdlcFramer::Frame(unsigned char* buffer, int length)
{
    return FrameInto(buffer, length, g_HdlcScratch.size());
}

int CHdlcFramer::Frame(std::span<unsigned char> buffer, int length)
{
    if (length > 0 && static_cast<std::size_t>(length) > buffer.size())
        length = static_cast<int>(std::min<std::size_t>(buffer.size(), INT32_MAX));
    return FrameInto(buffer.data(), length, std::min(buffer.size(), g_HdlcScratch.size()));
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

    unsigned char* const scratch = g_HdlcScratch.data();
    m_out.pCur = scratch;
    m_out.pLast = scratch + (room - 1);

    HdlcEncode(&m_in, &m_out);

    const auto n = static_cast<std::size_t>(m_out.pCur - scratch);
    if (n == 0)
        return 0;
    std::memmove(buffer, scratch, n);
    return static_cast<int>(n);
}
