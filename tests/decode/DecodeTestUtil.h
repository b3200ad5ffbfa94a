// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Helpers for the decoder's tests: hex text to bytes, records built by hand.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <span>
#include <string_view>
#include <vector>

namespace decodetest {

using Bytes = std::vector<std::uint8_t>;

// "79 00 0a" or "79000a": spaces are skipped.
inline Bytes Hex(std::string_view text)
{
    Bytes out;
    int high = -1;
    for (const char c : text) {
        int v = -1;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

inline void Le(Bytes& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline void Text(Bytes& out, std::string_view text)
{
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// A 0x10 log record around payload.
inline Bytes LogRecord(std::uint16_t code, std::uint64_t stamp, const Bytes& payload)
{
    Bytes p{0x10, 0};
    Le(p, 12 + payload.size(), 2);
    Le(p, 12 + payload.size(), 2);
    Le(p, code, 2);
    Le(p, stamp, 8);
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

// The 20-byte header of 0x79 / 0x7E / 0x92.
inline Bytes MessageHeader(std::uint8_t cmd, std::uint8_t args, std::uint64_t stamp, std::uint16_t line,
                           std::uint16_t ssid, std::uint32_t level)
{
    Bytes p{cmd, 0, args, 0};
    Le(p, stamp, 8);
    Le(p, line, 2);
    Le(p, ssid, 2);
    Le(p, level, 4);
    return p;
}

// A QShrink 4 database: the 64-byte header (magic, a made-up UUID, zeros)
// and the text, zlib-compressed.
inline Bytes Qdb(const std::string& text)
{
    Bytes out{0x7F, 'Q', 'D', 'B'};
    for (int i = 0; i < 16; ++i)
        out.push_back(static_cast<std::uint8_t>(0xA0 + i));
    out.resize(64, 0);
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    Bytes packed(size);
    compress(packed.data(), &size, reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()));
    out.insert(out.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(size));
    return out;
}

inline std::span<const std::uint8_t> AsBytes(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace decodetest
