// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Inside dm/: the searches the frame readers use to jump over the plain bytes
// of a frame. Only 0x7E (a flag) and 0x7D (an escape) change a reader's state,
// so everything between them is one run for the FCS and the frame buffer.
#include "dm/HdlcFramer.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hdlc_scan {

#if defined(__SSE2__)
// The first flag or escape in [p, end), else end; sixteen bytes a step.
inline const std::uint8_t* FindFlagOrEscape(const std::uint8_t* p, const std::uint8_t* end)
{
    const __m128i flags = _mm_set1_epi8(static_cast<char>(kHdlcFlag));
    const __m128i escapes = _mm_set1_epi8(static_cast<char>(kHdlcEscape));
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, flags), _mm_cmpeq_epi8(v, escapes)));
        if (hits != 0)
            return p + std::countr_zero(static_cast<unsigned>(hits));
    }
    while (p != end && *p != kHdlcFlag && *p != kHdlcEscape)
        ++p;
    return p;
}
#else
inline constexpr std::uint64_t kEachByte = 0x0101010101010101u;
inline constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;

// The high bit of every byte of v that is zero, and no other bit (no borrow
// runs between bytes, so it holds in either byte order).
constexpr std::uint64_t ZeroBytes(std::uint64_t v) { return ~(((v & kLow7) + kLow7) | v | kLow7); }
static_assert(ZeroBytes(0x0100FF0000000080u) == 0x0080008080808000u);

// The first flag or escape in [p, end), else end; eight bytes a step.
inline const std::uint8_t* FindFlagOrEscape(const std::uint8_t* p, const std::uint8_t* end)
{
    for (; end - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        const std::uint64_t hits = ZeroBytes(word ^ (kEachByte * kHdlcFlag)) | ZeroBytes(word ^ (kEachByte * kHdlcEscape));
        if (hits != 0) {
            const int bit = std::endian::native == std::endian::little ? std::countr_zero(hits) : std::countl_zero(hits);
            return p + bit / 8;
        }
    }
    while (p != end && *p != kHdlcFlag && *p != kHdlcEscape)
        ++p;
    return p;
}
#endif

// The first flag in [p, end), else end.
inline const std::uint8_t* FindFlag(const std::uint8_t* p, const std::uint8_t* end)
{
    const void* flag = std::memchr(p, kHdlcFlag, static_cast<std::size_t>(end - p));
    return flag != nullptr ? static_cast<const std::uint8_t*>(flag) : end;
}

}  // namespace hdlc_scan
