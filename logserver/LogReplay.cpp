// SPDX-License-Identifier: GPL-2.0-or-later
#include "logserver/LogReplay.h"

#include "sys/RegularFile.h"
#include "sys/SysIo.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

LogLoadResult Refuse(LogLoadStatus status, const std::string& call, int error)
{
    LogLoadResult r;
    r.status = status;
    r.error = sysio::ErrnoText(call, error);
    return r;
}

}  // namespace

LogLoadResult LoadLogData(const std::string& path, std::uint64_t limit)
{
    // Never waits on the name (a named pipe without a writer, a device): only
    // a regular file is read. A directory stays what cannot be opened.
    sysio::RegularFile opened = sysio::OpenRegularFile(path);
    if (!opened.fd.Valid()) {
        struct stat st {};
        if (opened.errnoValue != 0)
            return Refuse(LogLoadStatus::CannotOpen, "open", opened.errnoValue);
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return Refuse(LogLoadStatus::CannotOpen, "open", EISDIR);
        LogLoadResult r;
        r.status = LogLoadStatus::CannotSize;
        r.error = opened.error;
        return r;
    }
    const sysio::UniqueFd file = std::move(opened.fd);

    const off_t end = lseek(file.Get(), 0, SEEK_END);
    if (end < 0)
        return Refuse(LogLoadStatus::CannotSize, "lseek", errno);
    const auto size = static_cast<std::uint64_t>(end);
    if (size > limit) {
        LogLoadResult r = Refuse(LogLoadStatus::TooLarge, "size", EFBIG);
        r.size = size;
        r.limit = limit;
        return r;
    }
    if (lseek(file.Get(), 0, SEEK_SET) != 0)
        return Refuse(LogLoadStatus::CannotSize, "lseek", errno);

    LogLoadResult r;
    r.size = size;
    r.limit = limit;
    try {
        r.data.assign(static_cast<std::size_t>(size), 0);
    } catch (const std::bad_alloc&) {
        return Refuse(LogLoadStatus::NoMemory, "allocate", ENOMEM);
    } catch (const std::length_error&) {
        return Refuse(LogLoadStatus::NoMemory, "allocate", ENOMEM);
    }

    // Read to the end; what cannot be delivered (a file that shrank since it
    // was sized, a read error) stays zero.
    std::size_t done = 0;
    while (done < r.data.size()) {
        const ssize_t n = sysio::RetryEintr([&] { return read(file.Get(), r.data.data() + done, r.data.size() - done); });
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    r.status = LogLoadStatus::Loaded;
    return r;
}

namespace {

// A file's size as people read it: decimal units, one decimal place.
std::string DecimalSize(std::uint64_t bytes)
{
    constexpr std::array<std::pair<double, const char*>, 4> kUnits{
        {{1e12, "TB"}, {1e9, "GB"}, {1e6, "MB"}, {1e3, "kB"}}};
    for (const auto& [scale, unit] : kUnits) {
        if (static_cast<double>(bytes) >= scale) {
            std::array<char, 32> text{};
            std::snprintf(text.data(), text.size(), "%.1f %s", static_cast<double>(bytes) / scale, unit);
            return text.data();
        }
    }
    return std::to_string(bytes) + " bytes";
}

// A limit as it was set: whole binary units where it is one.
std::string BinarySize(std::uint64_t bytes)
{
    constexpr std::array<std::pair<unsigned, const char*>, 3> kUnits{{{30, "GiB"}, {20, "MiB"}, {10, "KiB"}}};
    for (const auto& [shift, unit] : kUnits) {
        const std::uint64_t scale = std::uint64_t{1} << shift;
        if (bytes >= scale && bytes % scale == 0)
            return std::to_string(bytes / scale) + " " + unit;
    }
    return std::to_string(bytes) + " bytes";
}

}  // namespace

std::optional<LogRefusal> DescribeRefusal(const LogLoadResult& result)
{
    switch (result.status) {
    case LogLoadStatus::Loaded:
    case LogLoadStatus::CannotOpen:
        return std::nullopt;
    case LogLoadStatus::TooLarge:
        return LogRefusal{"Log file too large: " + DecimalSize(result.size) + ", at most " + BinarySize(result.limit),
                          {}};
    case LogLoadStatus::CannotSize:
    case LogLoadStatus::NoMemory:
        break;
    }
    return LogRefusal{"Fail to read log file", result.error};
}

std::size_t ReplayChunkCount(std::size_t size)
{
    return size / kReplayChunkSize + 1;
}

void ReplayInChunks(std::span<const std::uint8_t> data, const ReplayWriter& write)
{
    const std::size_t count = ReplayChunkCount(data.size());
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t begin = k * kReplayChunkSize;
        const std::size_t length = std::min(kReplayChunkSize, data.size() - begin);
        if (length > 0)
            write(data.data() + begin, length);
    }
}
