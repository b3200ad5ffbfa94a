// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the decoder makes of one DIAG packet (one good HDLC frame): a record
// with its kind, the modem's time, a code (log code, event id, ssid or command
// code), a name and a one-line text. The window's decoded view, orvane-log's
// --decode lines and the GSMTAP path all start from these types.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace decode {

enum class RecordKind : std::uint8_t {
    Log,        // 0x10 log record
    Event,      // 0x60 event report (one record per event)
    Message,    // 0x79 extended debug message, or a terse one formatted from a database
    Terse,      // 0x7E / 0x92 / 0x99 without a database entry: hash and arguments
    Reply,      // the modem's reply to a request
    Malformed,  // too short for its kind: the bytes, in hex
};

// DIAG timestamps: the upper 48 bits count 1/800 s ticks since the GPS epoch
// (1980-01-06 00:00:00 UTC); the lower 16 bits are a fraction of a tick.
inline constexpr std::uint64_t kGpsEpochUnixSeconds = 315964800;

struct DecodedRecord {
    RecordKind kind = RecordKind::Malformed;
    std::optional<std::uint64_t> timestamp;  // raw 64-bit DIAG timestamp
    std::uint32_t code = 0;                  // log code, event id, ssid, or command code
    std::uint32_t radioId = 0;               // from a multi-SIM wrapper (0x98); 0 without
    std::string name;                        // log code / event / command name, or source file:line
    std::string text;                        // summary, formatted message, or hex bytes
    std::uint32_t level = 0;                 // a debug message's level bits (its ss mask)
};

// A 0x10 log record's fields: cmd(1), more(1), length(2), length again(2),
// log code(2), timestamp(8), payload. `payload` is what the inner length
// covers after the 12 bytes of code, timestamp and the length itself.
struct LogRecordView {
    std::uint16_t code = 0;
    std::uint64_t timestamp = 0;
    std::span<const std::uint8_t> payload;
};

inline constexpr std::size_t kLogRecordHeader = 16;  // cmd .. timestamp

// Reads a 0x10 packet's header; nullopt when the packet is not a log record or
// is shorter than its header or its own length field says.
std::optional<LogRecordView> ReadLogRecord(std::span<const std::uint8_t> packet);

}  // namespace decode
