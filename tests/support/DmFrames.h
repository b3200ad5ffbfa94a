// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Reference HDLC framing for tests, written bit by bit and independent of the
// tool's table-driven framer: escapes, complemented CRC-16/X-25 low byte
// first, closing 0x7E.
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline std::uint16_t ReferenceFcs(const Bytes& payload)
{
    std::uint16_t fcs = 0xFFFF;
    for (std::uint8_t b : payload) {
        fcs ^= b;
        for (int i = 0; i < 8; ++i)
            fcs = (fcs & 1) ? static_cast<std::uint16_t>((fcs >> 1) ^ 0x8408) : static_cast<std::uint16_t>(fcs >> 1);
    }
    return static_cast<std::uint16_t>(~fcs);
}

inline Bytes ReferenceFrame(const Bytes& payload)
{
    const std::uint16_t fcs = ReferenceFcs(payload);
    Bytes out;
    auto put = [&out](std::uint8_t b) {
        if (b == 0x7E || b == 0x7D) {
            out.push_back(0x7D);
            out.push_back(static_cast<std::uint8_t>(b ^ 0x20));
        } else {
            out.push_back(b);
        }
    };
    for (std::uint8_t b : payload)
        put(b);
    put(static_cast<std::uint8_t>(fcs & 0xFF));
    put(static_cast<std::uint8_t>(fcs >> 8));
    out.push_back(0x7E);
    return out;
}

inline Bytes BytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}
