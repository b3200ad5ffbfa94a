// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Opening a file that must be a regular file (a configuration, a capture to
// replay) without ever waiting on it. open() of a FIFO waits for a writer and
// open() of some devices waits for a carrier; while it waits, the stop
// signals (read from a signalfd in the program's own loop) are never looked
// at. So the name is looked at first, the open never blocks (O_NONBLOCK), and
// the descriptor is looked at again, since the name may have changed in
// between. Anything but a regular file is refused with "not a regular file".
#include "sys/SysIo.h"

#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

namespace sysio {

inline constexpr const char* kNotRegularFile = "not a regular file";

struct RegularFile {
    UniqueFd fd;            // open for reading, blocking again; invalid on failure
    std::uint64_t size = 0;
    std::string error;      // "open: No such file or directory", "not a regular file"
    int errnoValue = 0;     // the failed call's errno; 0 for a refusal of the file's kind
};

inline RegularFile OpenRegularFile(const std::string& path)
{
    RegularFile file;
    const auto fail = [&](const char* call) {
        file.errnoValue = errno;
        file.error = ErrnoText(call, file.errnoValue);
        file.fd.Reset();
        return std::move(file);
    };
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return fail("open");
    if (!S_ISREG(st.st_mode)) {
        file.error = kNotRegularFile;
        return file;
    }
    file.fd.Reset(RetryEintr([&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }));
    if (!file.fd.Valid())
        return fail("open");
    if (::fstat(file.fd.Get(), &st) != 0)
        return fail("fstat");
    if (!S_ISREG(st.st_mode)) {
        file.fd.Reset();
        file.error = kNotRegularFile;
        return file;
    }
    // Regular files never block; reads go on as usual.
    const int flags = ::fcntl(file.fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fail("fcntl");
    file.size = static_cast<std::uint64_t>(st.st_size);
    return file;
}

// Reads up to count bytes into data until the end of the file; returns how
// many were read, or -1 (errno set) on a read error.
inline long long ReadUpTo(int fd, std::uint8_t* data, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = RetryEintr([&] { return ::read(fd, data + done, count - done); });
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}

}  // namespace sysio
