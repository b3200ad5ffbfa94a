// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The Log server's answers to DM requests: what a modem would reply.
//
// A received chunk is taken as one raw frame (payload, two FCS bytes, 0x7E);
// it is neither un-escaped nor checked. The same request always gets the same
// reply; the replies are plain payloads, framed by whoever sends them.
#include "dm/DmCommand.h"

#include <cstdint>
#include <span>
#include <vector>

// Longest reply: the 0x26 echo.
inline constexpr unsigned kMaxCannedReply = 133;
// Longest bad-command reply: 0x13 and the first 16 request bytes.
inline constexpr unsigned kMaxBadCommandReply = 17;
inline constexpr std::uint8_t kBadCommandCode = dm::kBadCommand;

// Writes the reply to request (a received chunk, taken as one raw frame) into
// reply (room for 133 bytes); returns its length, 0 for no reply.
unsigned GetCannedReply(const unsigned char* request, unsigned length, unsigned char* reply);

// The same, for callers that keep their replies in vectors: empty for no reply.
std::vector<std::uint8_t> CannedReplyFor(std::span<const std::uint8_t> request);

// One of the fixed replies (R00, R1C, R1D, R4B, R51, R7C), keyed by the
// request's command byte. R4B answers only 4B 04 0E; other 0x4B requests get
// the bad-command reply.
struct CannedReply {
    const char* name;
    std::uint8_t command;
    std::span<const std::uint8_t> bytes;
};

// The six fixed replies, in the order R00, R1C, R1D, R4B, R51, R7C.
std::span<const CannedReply> CannedReplyTable();

// The fixed reply bytes for a command code, empty if that code has none.
std::span<const std::uint8_t> CannedReplyBytes(std::uint8_t command);
