// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// orvane-log's status line and end-of-run summary, as text. Pure formatting:
// the figures come in, the line goes out.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct StatusFigures {
    double elapsedSeconds = 0;
    std::string capture;            // the open capture's path; empty while none is open
    std::uint64_t bytes = 0;        // received since the start
    double bytesPerSecond = 0;      // over the last refresh period
    std::uint64_t frames = 0;
    std::uint64_t badFrames = 0;
    std::size_t logCodes = 0;       // distinct log codes seen
};

// "1:02:03", "02:03" for under an hour.
std::string FormatElapsed(double seconds);
// 999 B, 1.0 KiB, 12.3 MiB, 1.50 GiB.
std::string FormatBytes(std::uint64_t bytes);

// One line, no newline: elapsed, capture, bytes, rate, frames, bad, codes.
std::string FormatStatus(const StatusFigures& figures);

// What --decode made of the bytes.
struct DecodeCounts {
    std::uint64_t records = 0;
    std::uint64_t messages = 0;    // debug messages (formatted or terse)
    std::uint64_t malformed = 0;
};
// The status line in at most columns - 1 characters (the last column would
// wrap on some terminals): the capture's base name first, then that name
// shortened from its start, then the figures from the right; 0 columns: as
// FormatStatus.
std::string FitStatus(const StatusFigures& figures, std::size_t columns);

struct SummaryFigures {
    double elapsedSeconds = 0;
    std::vector<std::string> captures;   // every capture of the run, in order (more than 10: first and last)
    std::uint64_t bytes = 0;        // received
    std::uint64_t keptBytes = 0;    // written into the captures (less after a failure)
    std::uint64_t frames = 0;
    std::uint64_t badFrames = 0;
    std::vector<std::pair<std::uint16_t, std::uint64_t>> topCodes;   // most first
    std::size_t logCodes = 0;
    std::optional<DecodeCounts> decoded;  // with --decode
};

// Several lines, each ending in a newline. The top log codes are named from
// the decoder's table, one a line: "0xB0C0 LTE RRC OTA 1,659".
std::string FormatSummary(const SummaryFigures& figures);

// 1,659: a count with its thousands grouped.
std::string FormatCount(std::uint64_t count);

// The kTopLogCodes most frequent codes, most first (the lower code first on a tie).
inline constexpr std::size_t kTopLogCodes = 10;
std::vector<std::pair<std::uint16_t, std::uint64_t>> TopLogCodes(const std::map<std::uint16_t, std::uint64_t>& codes);
