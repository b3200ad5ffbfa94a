// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The packets that switch a modem's diagnostic logging off, as open DIAG
// clients send them when they let go of a modem: every log mask cleared, event
// reporting off, every message level 0. Raw (unframed); sent in this order.
#include <array>
#include <cstdint>
#include <span>

struct StopLoggingPacket {
    const char* what;                      // for the user: what the packet switches off
    std::span<const std::uint8_t> bytes;
};

// 73 00 00 00 00 00 00 00: log config, operation 0 (all log masks off).
// 60 00: event reporting off.
// 7D 05 00 00 00 00 00 00: extended message config, all levels 0.
const std::array<StopLoggingPacket, 3>& StopLoggingPackets();
