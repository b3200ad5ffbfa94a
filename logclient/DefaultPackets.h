// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The eleven built-in packets that configure a modem's logging when no ".dmc"
// file is applied: event reporting on, the event mask, four log masks and five
// message level masks, unframed. Built once from tables of ranges.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr std::size_t kDefaultPacketCount = 11;

using DefaultPacketTable = std::array<std::vector<std::uint8_t>, kDefaultPacketCount>;

// Each packet's length follows from its own header (dmcmd::PacketLengthFromHeader).
const DefaultPacketTable& DefaultConfigPackets();
