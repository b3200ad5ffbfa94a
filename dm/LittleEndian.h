// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Little-endian fields of DM packets (every multi-byte field of the protocol
// is little-endian). Reads give 0 and writes write nothing when the field does
// not fit, so a short packet can never be read or written past its end.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace dm {

inline std::uint16_t GetU16(std::span<const std::uint8_t> in, std::size_t offset)
{
    if (offset > in.size() || in.size() - offset < 2)
        return 0;
    return static_cast<std::uint16_t>(in[offset] | (in[offset + 1] << 8));
}

inline std::uint32_t GetU32(std::span<const std::uint8_t> in, std::size_t offset)
{
    if (offset > in.size() || in.size() - offset < 4)
        return 0;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(in[offset + i]) << (8 * i);
    return value;
}

inline void PutU16(std::span<std::uint8_t> out, std::size_t offset, std::uint16_t value)
{
    if (offset > out.size() || out.size() - offset < 2)
        return;
    out[offset] = static_cast<std::uint8_t>(value);
    out[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void PutU32(std::span<std::uint8_t> out, std::size_t offset, std::uint32_t value)
{
    if (offset > out.size() || out.size() - offset < 4)
        return;
    for (std::size_t i = 0; i < 4; ++i)
        out[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline void AppendU16(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    AppendU16(out, static_cast<std::uint16_t>(value));
    AppendU16(out, static_cast<std::uint16_t>(value >> 16));
}

inline void AppendU64(std::vector<std::uint8_t>& out, std::uint64_t value)
{
    AppendU32(out, static_cast<std::uint32_t>(value));
    AppendU32(out, static_cast<std::uint32_t>(value >> 32));
}

}  // namespace dm
