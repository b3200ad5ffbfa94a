// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Log replay: a log file is read whole into memory and written to the port
// unchanged, in chunks of 1024 bytes. Nothing is framed, escaped or converted,
// so a capture replays as the very byte stream the modem sent.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

inline constexpr std::size_t kReplayChunkSize = 1024;
// Larger files are refused rather than read: the whole file is held in memory.
inline constexpr std::uint64_t kMaxLogFileSize = std::uint64_t{1} << 30;

enum class LogLoadStatus {
    Loaded,
    CannotOpen,   // missing, unreadable or a directory
    CannotSize,   // not a regular file (a pipe, a device), or one that cannot seek to its end
    TooLarge,     // above the limit
    NoMemory,     // the buffer could not be allocated
};

struct LogLoadResult {
    LogLoadStatus status = LogLoadStatus::CannotOpen;
    std::vector<std::uint8_t> data;   // the file's bytes; only when Loaded
    std::string error;                // "<call>: <reason>" when not Loaded
    std::uint64_t size = 0;           // the file's size, once it was learned
    std::uint64_t limit = 0;          // the largest size that was allowed
};

// What the user is told when a file is refused: "Log file too large: 1.1 GB,
// at most 1 GiB", or "Fail to read log file" with the system's reason as
// detail. Nothing for a file that cannot be opened, which stays silent.
struct LogRefusal {
    std::string text;
    std::string detail;
};
std::optional<LogRefusal> DescribeRefusal(const LogLoadResult& result);

// Reads the whole file at path. The buffer is sized first and zero-filled, then
// read until the end: bytes that a short read did not deliver stay zero. A file
// that cannot be sized, is larger than limit or does not fit in memory is
// refused, and nothing of it is returned.
LogLoadResult LoadLogData(const std::string& path, std::uint64_t limit = kMaxLogFileSize);

// The number of chunks a replay of size bytes walks: size / 1024 + 1, the
// last one empty when size is a multiple of 1024.
std::size_t ReplayChunkCount(std::size_t size);

// Hands data to write in file order, 1024 bytes at a time; the last write
// carries the remainder. Empty chunks are not written. A write's result is not
// looked at: a failed chunk is not retried and the replay goes on.
using ReplayWriter = std::function<void(const std::uint8_t* data, std::size_t count)>;
void ReplayInChunks(std::span<const std::uint8_t> data, const ReplayWriter& write);
