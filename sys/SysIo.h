// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The system habits every module shares, in one small header (after
// picocom's fdio): one owner of a file descriptor, one EINTR retry, one
// write-all, one poll, one way to put a failed call into words. Header-only and free of termios, so the
// core modules, the tools, the tests and the benchmarks all include it.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include <poll.h>
#include <unistd.h>

namespace sysio {

// Owner of one file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    int Release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd = -1)
    {
        if (m_fd >= 0 && m_fd != fd)
            ::close(m_fd);   // never retried: the descriptor is gone even on EINTR
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// Runs `call` again while it fails with EINTR; returns its last result (errno
// is that of the last attempt).
template <class Call>
auto RetryEintr(Call call) -> decltype(call())
{
    decltype(call()) result;
    do
        result = call();
    while (result < 0 && errno == EINTR);
    return result;
}

// What WriteAll did: every byte written, or where and why it stopped.
struct WriteOutcome {
    std::size_t written = 0;
    int error = 0;   // errno of the write that failed (EAGAIN: a full non-blocking
                     // descriptor); 0 when all was written or a write took nothing
    bool Complete(std::size_t count) const { return written == count; }
};

// Writes all of data, carrying on after EINTR and short writes; stops at the
// first write that fails or takes nothing.
inline WriteOutcome WriteAll(int fd, std::span<const std::uint8_t> data)
{
    WriteOutcome outcome;
    while (outcome.written < data.size()) {
        const std::span<const std::uint8_t> rest = data.subspan(outcome.written);
        const ssize_t n = RetryEintr([&] { return ::write(fd, rest.data(), rest.size()); });
        if (n <= 0) {
            outcome.error = n < 0 ? errno : 0;
            break;
        }
        outcome.written += static_cast<std::size_t>(n);
    }
    return outcome;
}

// poll() run again when a signal interrupts it (with the same timeout, so a
// caller that keeps a deadline recomputes it around its own loop).
inline int Poll(pollfd* fds, nfds_t count, int timeoutMs)
{
    return RetryEintr([&] { return ::poll(fds, count, timeoutMs); });
}

// "call: reason" for a failed system call.
inline std::string ErrnoText(std::string_view call, int error)
{
    std::string text(call);
    text += ": ";
    text += std::strerror(error);
    return text;
}

}  // namespace sysio
