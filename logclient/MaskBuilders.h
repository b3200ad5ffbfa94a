// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The DM commands that switch a modem's diagnostic logging on, built from the
// lists of a ".dmc" configuration: event report (0x60), event mask (0x82), log
// masks per equipment id (0x73) and message level masks per ssid range (0x7D).
//
// Each builder writes one raw (unframed) packet at the start of out and
// returns its length, 0 when there is nothing to send. Nothing is written past
// out, so an entry whose bit would fall outside it is left out.
//
// The log code and message level lists may need several packets: the caller
// starts with its positions at 0 and calls again until done is set. The
// positions are not character offsets: for log codes they hold the next
// equipment id to send, for message levels the next ssid, so the lists may come
// in any order (the logging tool saves them in descending order) and every call
// either moves a position forward or sets done.
#include "dm/DmCommand.h"
#include "dm/LittleEndian.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace dmcmd {

using dm::kEventMask;
using dm::kEventReport;
using dm::kExtMsgConfig;
using dm::kLogConfig;

inline constexpr std::uint32_t kLogConfigSetMask = dm::kLogOpSetMask;   // 0x73 operation
inline constexpr std::uint8_t kExtMsgSetRange = dm::kMsgSetMasks;       // 0x7D sub-command

using dm::kEventMaskHeader;
using dm::kExtMsgHeader;
using dm::kLogConfigHeader;
inline constexpr unsigned kExtMsgMaxSpan = 50;            // last ssid - first ssid of one 0x7D packet

// Layout helpers shared by the builders and the default packets.
using dm::GetU16;
using dm::GetU32;
using dm::PutU16;
using dm::PutU32;
// Sets bit (n mod 8) of byte offset + n / 8; false (nothing written) outside out.
bool SetMaskBit(std::span<std::uint8_t> out, std::size_t offset, std::size_t n);

// Length of a raw 0x60, 0x82, 0x73 or 0x7D packet as its own header gives it;
// 0 for any other first byte or a header that does not fit in packet.
std::size_t PacketLengthFromHeader(std::span<const std::uint8_t> packet);

}   // namespace dmcmd

// The room a builder is given in the outgoing buffer: a frame longer than this
// is not sent, so a mask entry past it could never reach the modem anyway.
inline constexpr std::size_t kMaskPacketRoom = 1024;

// 60 01 when the EventIDs text is not empty.
std::size_t BuildEventReport(std::string_view text, std::span<std::uint8_t> out);

// 0x82 with a bit for every event id from character position pos on; the bit
// count follows the highest id. done is always set. 0 for an empty text.
std::size_t BuildEventMask(std::string_view text, std::int32_t pos, std::span<std::uint8_t> out,
                           std::int32_t* done);

// One 0x73 for the lowest equipment id at or above posA that has a log code in
// either list, carrying every code of that id from both. posA and posB move past
// it; done is set with the last packet, or when nothing is left (no packet).
std::size_t BuildLogConfig(std::string_view logCodes, std::string_view otaTypes, std::int32_t& posA,
                           std::int32_t& posB, std::span<std::uint8_t> out, std::int32_t* done);

// One 0x7D for the lowest ssid at or above pos that has an entry, covering the
// entries of at most 51 consecutive ssids from it. pos moves past the range;
// done is set with the last packet. A list without any entry sends the empty
// range FFFF..FFFF once, with done set.
std::size_t BuildExtMsgConfig(std::string_view text, std::int32_t& pos, std::span<std::uint8_t> out,
                              std::int32_t* done);
