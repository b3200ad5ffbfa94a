// SPDX-License-Identifier: GPL-2.0-or-later
#include "logclient/CaptureFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Enough for everyone's captures of one second of one day; past it something
// else is wrong with the directory.
constexpr unsigned kMaxSameName = 1000;

}   // namespace

CCaptureFile::~CCaptureFile() { Close(); }

std::string CCaptureFile::FileName(const std::tm& t, unsigned n)
{
    std::array<char, 64> name{};
    if (n <= 1)
        std::snprintf(name.data(), name.size(), "%02d-%02d-%02d-%02d-%02d.bin", t.tm_mon + 1, t.tm_mday,
                      t.tm_hour, t.tm_min, t.tm_sec);
    else
        std::snprintf(name.data(), name.size(), "%02d-%02d-%02d-%02d-%02d-%u.bin", t.tm_mon + 1, t.tm_mday,
                      t.tm_hour, t.tm_min, t.tm_sec, n);
    return name.data();
}

bool CCaptureFile::Create(const std::string& dir, const std::tm& localTime, std::string* error, unsigned from)
{
    if (IsOpen())
        return true;
    const std::string prefix = dir.empty() ? std::string() : (dir.back() == '/' ? dir : dir + '/');
    for (unsigned n = std::max(from, 1u); n <= kMaxSameName; ++n) {
        const std::string path = prefix + FileName(localTime, n);
        const int fd = sysio::RetryEintr([&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666); });
        if (fd >= 0) {
            m_fd.Reset(fd);
            m_path = path;
            m_number = n;
            m_lastError.clear();
            m_written = 0;
            m_failed = false;
            m_lastLinkCheck = Clock::now();
            return true;
        }
        if (errno != EEXIST) {
            m_lastError = sysio::ErrnoText("open", errno) + " (" + path + ")";
            if (error)
                *error = m_lastError;
            return false;
        }
    }
    m_lastError = "open: too many captures named " + prefix + FileName(localTime);
    if (error)
        *error = m_lastError;
    return false;
}

bool CCaptureFile::Write(const std::uint8_t* data, std::size_t count)
{
    if (!IsOpen())
        return false;
    const sysio::WriteOutcome outcome = sysio::WriteAll(m_fd.Get(), {data, count});
    m_written += outcome.written;
    if (!outcome.Complete(count)) {
        Fail(outcome.error != 0 ? sysio::ErrnoText("write", outcome.error) : std::string("write: no progress"));
        return false;
    }
    // Bytes written into a file without a name are gone when it closes.
    return CheckLinked();
}

bool CCaptureFile::CheckLinked(Clock::time_point now)
{
    if (!IsOpen())
        return !m_failed;
    if (now - m_lastLinkCheck < kLinkCheckInterval)
        return true;
    m_lastLinkCheck = now;
    struct stat st {};
    if (::fstat(m_fd.Get(), &st) != 0) {
        Fail(sysio::ErrnoText("fstat", errno));
        return false;
    }
    if (st.st_nlink == 0) {
        Fail("the file was removed (its folder or the file itself was deleted)");
        return false;
    }
    return true;
}

std::optional<CaptureFileId> CCaptureFile::Id() const
{
    struct stat st {};
    if (!IsOpen() || ::fstat(m_fd.Get(), &st) != 0)
        return std::nullopt;
    return CaptureFileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

void CCaptureFile::Fail(std::string reason)
{
    m_lastError = std::move(reason);
    m_failed = true;
    m_failure = CaptureFailure{m_path, m_lastError};
    // Never written to again: whatever comes later would follow a gap.
    Close();
}

std::optional<CaptureFailure> CCaptureFile::TakeFailure()
{
    std::optional<CaptureFailure> failure;
    failure.swap(m_failure);
    return failure;
}

void CCaptureFile::Close()
{
    if (!m_fd.Valid())
        return;
    // An empty capture is removed, but only while its name still leads to this
    // very file: a file someone put in its place is not ours to delete.
    if (m_written == 0 && !m_failed) {
        struct stat mine {}, named {};
        if (::fstat(m_fd.Get(), &mine) == 0 && mine.st_size == 0 && ::stat(m_path.c_str(), &named) == 0
            && named.st_dev == mine.st_dev && named.st_ino == mine.st_ino)
            ::unlink(m_path.c_str());
    }
    m_fd.Reset();
}
