// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Helpers for the virtual modem tests: a reference framer that shares no code
// with the one under test (bitwise CRC-16/X-25), and a frame splitter.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vmtest {

using Bytes = std::vector<std::uint8_t>;

// Complemented CRC-16/X-25, bit by bit (reflected polynomial 0x8408).
inline std::uint16_t RefFcs(std::span<const std::uint8_t> data)
{
    std::uint16_t fcs = 0xFFFF;
    for (const std::uint8_t b : data) {
        fcs ^= b;
        for (int bit = 0; bit < 8; ++bit)
            fcs = (fcs & 1) ? static_cast<std::uint16_t>((fcs >> 1) ^ 0x8408) : static_cast<std::uint16_t>(fcs >> 1);
    }
    return static_cast<std::uint16_t>(~fcs);
}

inline Bytes RefFrame(const Bytes& packet)
{
    Bytes plain = packet;
    const std::uint16_t fcs = RefFcs(packet);
    plain.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
    plain.push_back(static_cast<std::uint8_t>(fcs >> 8));
    Bytes wire;
    for (const std::uint8_t b : plain) {
        if (b == 0x7E || b == 0x7D) {
            wire.push_back(0x7D);
            wire.push_back(b ^ 0x20);
        } else {
            wire.push_back(b);
        }
    }
    wire.push_back(0x7E);
    return wire;
}

// Splits wire bytes at each 0x7E; returns the un-escaped packets of frames
// whose FCS is right and counts the others in `bad`. A tail without its flag
// is left in `rest`.
inline std::vector<Bytes> RefDeframe(const Bytes& wire, int& bad, Bytes* rest = nullptr)
{
    std::vector<Bytes> packets;
    Bytes cur;
    bool escape = false;
    for (const std::uint8_t b : wire) {
        if (b == 0x7E) {
            if (!cur.empty()) {
                if (cur.size() >= 2) {
                    Bytes packet(cur.begin(), cur.end() - 2);
                    const std::uint16_t fcs = RefFcs(packet);
                    if (cur[cur.size() - 2] == (fcs & 0xFF) && cur.back() == (fcs >> 8) && !escape)
                        packets.push_back(std::move(packet));
                    else
                        ++bad;
                } else {
                    ++bad;
                }
            }
            cur.clear();
            escape = false;
        } else if (escape) {
            cur.push_back(b ^ 0x20);
            escape = false;
        } else if (b == 0x7D) {
            escape = true;
        } else {
            cur.push_back(b);
        }
    }
    if (rest)
        *rest = cur;
    return packets;
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace vmtest
