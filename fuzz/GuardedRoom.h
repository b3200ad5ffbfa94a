// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// An output room that AddressSanitizer guards on both sides, without a heap
// block of its own per use: one static block, poisoned all over except the
// room. The room starts on an 8-byte boundary (ASan's granule), so the byte
// before it is poisoned, and ends exactly at its last byte. A write outside
// is caught as it would be past a heap block of that size, at the cost of two
// shadow updates instead of an allocation and a free.
#include <sanitizer/asan_interface.h>

#include <array>
#include <cstddef>
#include <span>

template <std::size_t MaxRoom>
class CGuardedRoom {
public:
    std::span<unsigned char> Take(std::size_t n)
    {
        ASAN_UNPOISON_MEMORY_REGION(m_block.data(), m_block.size());
        ASAN_POISON_MEMORY_REGION(m_block.data(), m_block.size());
        unsigned char* room = m_block.data() + kFront;
        ASAN_UNPOISON_MEMORY_REGION(room, n);
        return {room, n};
    }

private:
    static constexpr std::size_t kFront = 64;
    alignas(64) std::array<unsigned char, kFront + MaxRoom + 64> m_block{};
};
