// SPDX-License-Identifier: GPL-2.0-or-later
#include "dm/HdlcFrameCounter.h"

#include <algorithm>
#include <cstring>

CHdlcFrameCounter::CHdlcFrameCounter(std::size_t maxFrame) : m_core(maxFrame) {}

void CHdlcFrameCounter::Reset()
{
    m_core.Reset();
    m_bGoodFrameEnded = false;
}

HdlcFrameHead CHdlcFrameCounter::GoodFrameHead() const
{
    const std::size_t length = m_core.PayloadLength();
    return {std::span<const std::uint8_t>(m_head).first(std::min(length, kHeadSize)), length};
}

std::size_t CHdlcFrameCounter::ReadToGoodFrame(std::span<const std::uint8_t> bytes)
{
    const std::uint8_t* const begin = bytes.data();
    const std::uint8_t* const end = begin + bytes.size();
    const auto keepHead = [this](std::size_t offset, std::span<const std::uint8_t> run) {
        if (offset < kHeadSize)
            std::memcpy(m_head.data() + offset, run.data(), std::min(run.size(), kHeadSize - offset));
    };
    const std::uint8_t* p = begin;
    while (p != end) {
        p = m_core.ReadToFlag(p, end, keepHead, [](std::span<const std::uint8_t>) {});
        if (p == end)
            break;
        ++p;
        if (m_core.EndFrame() == hdlc_core::Verdict::Good) {
            m_bGoodFrameEnded = true;
            break;
        }
    }
    return static_cast<std::size_t>(p - begin);
}
