// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// DM command codes: the first byte of a DM request and of the modem's reply
// to it, with the sub-operation codes and header sizes of the commands that
// carry them. The one table of them: the builders, the stop-logging packets,
// the Log server's replies, the virtual modem and the deframer all name their
// codes from here.
#include <array>
#include <cstddef>
#include <cstdint>

namespace dm {

enum Command : std::uint8_t {
    kVersionInfo = 0x00,     // version and build strings (a canned reply)
    kStatus = 0x0C,          // modem status (the Log server refuses it)
    kLog = 0x10,             // a log record the modem sends on its own
    kBadCommand = 0x13,      // reply: the request's code is unknown
    kBadLength = 0x15,       // reply: the request is too short for its code
    kDiagVersion = 0x1C,     // a canned reply
    kTimestamp = 0x1D,       // a canned reply
    kNvRead = 0x26,          // answered by echoing the request
    kSubsystem = 0x4B,       // subsystem dispatch (a canned reply for 4B 04 0E)
    kFeatureQuery = 0x51,    // a canned reply
    kDmAt = 0x5E,            // an AT command carried as a DM packet: 5E, text, 0D
    kEventReport = 0x60,     // switch event reporting on or off; also an event record the modem sends
    kLogConfig = 0x73,       // log masks per equipment id
    kExtMessage = 0x79,      // an extended message record the modem sends on its own
    kExtBuildId = 0x7C,      // a canned reply
    kExtMsgConfig = 0x7D,    // message level masks per ssid range
    kEventMask = 0x82,       // event mask
};

// Codes a modem serves that the Log server answers with the bad-command reply.
inline constexpr std::array<std::uint8_t, 4> kRefusedCommands = {kStatus, 0x3F, 0x44, 0x63};

// 0x4B: the subsystem id and command of the one request the Log server knows.
inline constexpr std::uint8_t kSubsystemId = 0x04;
inline constexpr std::uint8_t kSubsystemCommand = 0x0E;

// 0x73: operation (32-bit, offset 4) and the status word of its reply (offset 8).
enum LogConfigOp : std::uint32_t {
    kLogOpDisable = 0,       // every log mask off
    kLogOpGetRanges = 1,     // last item number per equipment id
    kLogOpSetMask = 3,       // one equipment id's mask
    kLogOpGetMask = 4,
};
inline constexpr std::uint32_t kLogStatusSuccess = 0;
inline constexpr std::uint32_t kLogStatusInvalid = 1;

// 0x7D: sub-command (offset 1) and the status byte of its reply (1 is success there).
enum ExtMsgOp : std::uint8_t {
    kMsgGetRanges = 1,       // the ssid ranges
    kMsgGetMasks = 3,        // level masks of a range
    kMsgSetMasks = 4,        // level masks of a range of ssids
    kMsgSetAll = 5,          // one level mask for every ssid
};
inline constexpr std::uint8_t kMsgStatusFail = 0;
inline constexpr std::uint8_t kMsgStatusSuccess = 1;

// Request header sizes: the fixed part before the mask bits or words.
inline constexpr std::size_t kEventMaskHeader = 6;     // 0x82: code, 00, 00, 00, bit count (16-bit)
inline constexpr std::size_t kLogConfigHeader = 16;    // 0x73: code, 3 bytes, operation, equipment id, item count
inline constexpr std::size_t kExtMsgHeader = 8;        // 0x7D: code, sub-command, first ssid, last ssid, 2 bytes

// 0x10 log record: its log code (16-bit) sits at this offset.
inline constexpr std::size_t kLogCodeOffset = 6;

}  // namespace dm
