// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The records the virtual modem streams once a client enables them: log
// records (command 0x10) with the layout each log code has on a real modem,
// event reports (0x60) and extended messages (0x79).
//
// A log record on the line (multi-byte fields little-endian):
//   10 00 len len2 code timestamp payload
// len and len2 both count the bytes from len2 to the end (12 + payload);
// timestamp is the DM time: 1.25 ms ticks since 1980-01-06 00:00 UTC in the
// upper 48 bits, the time since the last tick in 1/32 chips in the lower 16.
//
// Only codes whose payload layout the modem knows are built: a DIAG client
// decodes each code's payload by its layout, and a made-up payload makes it
// warn or fail. Each payload carries a real over-the-air message (a system
// information block, a connection request, an attach request), so a decoder
// that hands it on (to Wireshark through GSMTAP) shows a plausible message.
#include <chrono>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vmlog {

// Bytes before a log record's payload: 10 00, len, len2, code, timestamp.
inline constexpr std::size_t kLogHeader = 16;

// One log code the modem builds, and the messages it cycles through.
struct LogKind {
    std::uint16_t code;
    std::string_view name;
    std::size_t messages;
};

// The log codes the modem can build, in ascending order.
std::span<const LogKind> BuildableLogKinds();
bool CanBuildLog(std::uint16_t code);

// The payload of record number `seq` for `code` (the code's messages in
// turn); empty for a code the modem cannot build.
std::vector<std::uint8_t> LogPayload(std::uint16_t code, std::uint32_t seq);

// A whole log record: header and payload.
std::vector<std::uint8_t> WrapLogRecord(std::uint16_t code, std::uint64_t timestamp, std::span<const std::uint8_t> payload);
// Record number `seq` for `code`; empty for a code the modem cannot build.
std::vector<std::uint8_t> BuildLogRecord(std::uint16_t code, std::uint32_t seq, std::uint64_t timestamp);

// The DM timestamp of a time since 1980-01-06 00:00 UTC.
std::uint64_t DmTimestamp(std::chrono::nanoseconds sinceGpsEpoch);
// The same for a wall-clock time.
std::uint64_t DmTimestamp(std::chrono::system_clock::time_point wall);

// The event the modem reports, and the report of its occurrence number `seq`:
//   60 len, then id u16 (id, payload length 1 in bits 13-14, full timestamp),
//   timestamp u64, one payload byte (the new RRC state).
inline constexpr std::uint16_t kStreamEventId = 1606;   // LTE RRC state change
std::vector<std::uint8_t> BuildEventReport(std::uint32_t seq, std::uint64_t timestamp);

// The events the modem reports, in turn: the RRC state change above and
// RRC message events whose payloads take the other forms (two bytes; a
// length byte and that many). Event n of the stream is entry n % size.
std::span<const std::uint16_t> StreamEventIds();
std::vector<std::uint8_t> BuildStreamEvent(std::uint32_t seq, std::uint64_t timestamp);

// The extended messages the modem sends, as real modems word them: format
// strings with the conversions, flags, widths and length modifiers of the
// modem's printf, each with its ssid and level bit; a message goes out while
// the client's mask for its ssid has its level bit.
//   79, timestamp type 0, argument count, drop count 0, timestamp u64, line
//   u16, ssid u16, level mask u32, the arguments u32, format NUL, file NUL.
// The first is the one message of earlier versions, on ssid 0 at medium level.
inline constexpr std::uint16_t kStreamMessageSsid = 0;
inline constexpr std::uint32_t kStreamMessageLevel = 0x02;   // medium
struct StreamMessage {
    std::uint16_t ssid;
    std::uint32_t level;
    std::uint16_t line;
    std::string_view file;
    std::string_view format;
};
std::span<const StreamMessage> StreamMessages();
// The arguments of message `seq` (entry seq % size), which move on with seq.
std::vector<std::uint32_t> StreamMessageArgs(std::uint32_t seq);
// Message `seq`: entry seq % size with its arguments.
std::vector<std::uint8_t> BuildExtMessage(std::uint32_t seq, std::uint64_t timestamp);

}  // namespace vmlog
