#pragma once
// The system habits every module shares, in one small header (after
// picocom's fdio): one owner of a file descriptor, one EINTR retry, one way
// to put a failed call into words. Header-only and free of termios, so the
// core modules, the tools, the tests and the benchmarks all include it.
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

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

// "call: reason" for a failed system call.
inline std::string ErrnoText(std::string_view call, int error)
{
    std::string text(call);
    text += ": ";
    text += std::strerror(error);
    return text;
}

}  // namespace sysio
