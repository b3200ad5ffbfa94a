#include "logserver/LogReplay.h"

#include "sys/SysIo.h"

#include <algorithm>
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
    // Non-blocking, so that a named pipe without a writer is refused at once
    // instead of hanging the window; regular files do not care.
    const sysio::UniqueFd file(sysio::RetryEintr([&] { return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }));
    if (!file.Valid())
        return Refuse(LogLoadStatus::CannotOpen, "open", errno);

    // A directory opens for reading but has no bytes to replay.
    struct stat st {};
    if (fstat(file.Get(), &st) != 0)
        return Refuse(LogLoadStatus::CannotSize, "fstat", errno);
    if (S_ISDIR(st.st_mode))
        return Refuse(LogLoadStatus::CannotOpen, "open", EISDIR);

    const off_t end = lseek(file.Get(), 0, SEEK_END);
    if (end < 0)
        return Refuse(LogLoadStatus::CannotSize, "lseek", errno);
    const auto size = static_cast<std::uint64_t>(end);
    if (size > limit)
        return Refuse(LogLoadStatus::TooLarge, "size", EFBIG);
    if (lseek(file.Get(), 0, SEEK_SET) != 0)
        return Refuse(LogLoadStatus::CannotSize, "lseek", errno);

    LogLoadResult r;
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
