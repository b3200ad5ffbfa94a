#include "logserver/LogReplay.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <sys/stat.h>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

LogLoadResult Refuse(LogLoadStatus status, const std::string& call, int error)
{
    LogLoadResult r;
    r.status = status;
    r.error = call + ": " + std::strerror(error);
    return r;
}

}  // namespace

LogLoadResult LoadLogData(const std::string& path, std::uint64_t limit)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return Refuse(LogLoadStatus::CannotOpen, "fopen", errno);

    // A directory opens for reading on Linux but has no bytes to replay.
    struct stat st {};
    if (fstat(fileno(file.get()), &st) != 0)
        return Refuse(LogLoadStatus::CannotSize, "fstat", errno);
    if (S_ISDIR(st.st_mode))
        return Refuse(LogLoadStatus::CannotOpen, "fopen", EISDIR);

    if (fseeko(file.get(), 0, SEEK_END) != 0)
        return Refuse(LogLoadStatus::CannotSize, "fseeko", errno);
    const off_t end = ftello(file.get());
    if (end < 0)
        return Refuse(LogLoadStatus::CannotSize, "ftello", errno);
    const auto size = static_cast<std::uint64_t>(end);
    if (size > limit)
        return Refuse(LogLoadStatus::TooLarge, "size", EFBIG);
    if (fseeko(file.get(), 0, SEEK_SET) != 0)
        return Refuse(LogLoadStatus::CannotSize, "fseeko", errno);

    LogLoadResult r;
    try {
        r.data.assign(static_cast<std::size_t>(size), 0);
    } catch (const std::bad_alloc&) {
        return Refuse(LogLoadStatus::NoMemory, "allocate", ENOMEM);
    } catch (const std::length_error&) {
        return Refuse(LogLoadStatus::NoMemory, "allocate", ENOMEM);
    }

    // fread already retries partial reads and EINTR; what it cannot deliver
    // (a file that shrank since it was sized, a read error) stays zero.
    std::size_t done = 0;
    while (done < r.data.size()) {
        const std::size_t n = std::fread(r.data.data() + done, 1, r.data.size() - done, file.get());
        if (n == 0)
            break;
        done += n;
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
