// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The Log client's capture file: raw received bytes, named after the local time.
//
// A capture holds every byte handed to it, in order, or it ends: a write that
// fails or comes up short, or a file that lost its name (the file or its folder
// was removed), closes it at once, and it is never written to again. So a
// capture can be cut short but never holds a hole: space that comes back later
// cannot resume it behind a gap a reader would not see. The failure is kept
// until the caller takes it (TakeFailure) to tell the user once.
#include "sys/SysIo.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

// Which file a capture is, by device and inode: a name can be taken over by
// another file, these cannot while the file exists.
struct CaptureFileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const CaptureFileId&) const = default;
};

// Why a capture ended before it was closed, and which file it was.
struct CaptureFailure {
    std::string path;     // the capture's path as it was created
    std::string reason;   // "write: No space left on device"
};

class CCaptureFile {
public:
    using Clock = std::chrono::steady_clock;
    // How often an open capture looks whether its file still has a name.
    static constexpr Clock::duration kLinkCheckInterval = std::chrono::seconds(1);

    CCaptureFile() = default;
    ~CCaptureFile();
    CCaptureFile(const CCaptureFile&) = delete;
    CCaptureFile& operator=(const CCaptureFile&) = delete;

    // Creates "MM-DD-hh-mm-ss.bin" in dir (with "-2", "-3", ... when the name is
    // taken; an existing file is never truncated, and a link in the name's
    // place is never followed: it takes the name as a file does). false and a reason on failure.
    // Does nothing and returns true when a file is already open.
    // A rotating run passes from = the number after the one it took last in
    // the same second, so a name it removed (--keep) is never taken again.
    bool Create(const std::string& dir, const std::tm& localTime, std::string* error = nullptr, unsigned from = 1);
    // The n of the name the open capture took (1: no suffix).
    unsigned Number() const { return m_number; }
    bool IsOpen() const { return m_fd.Valid(); }
    // Writes all of data (short writes and EINTR are carried on). When the file
    // refuses part of it, the capture fails: it is closed with what it holds, the
    // reason is kept in LastError and for TakeFailure, and false is returned.
    // Also looks at the file's name at most once per kLinkCheckInterval.
    bool Write(const std::uint8_t* data, std::size_t count);
    // Looks (fstat on the open descriptor) whether the file still has a name,
    // unless it looked less than kLinkCheckInterval before now. A removed file
    // fails the capture as a failed write does. false when the capture failed.
    bool CheckLinked(Clock::time_point now = Clock::now());
    // Closes the file. A capture that never received a byte and never failed is
    // removed, so reconnects do not leave empty files behind.
    void Close();
    const std::string& Path() const { return m_path; }
    const std::string& LastError() const { return m_lastError; }
    std::uint64_t BytesWritten() const { return m_written; }
    // The open file's device and inode (from the descriptor); nothing when closed.
    std::optional<CaptureFileId> Id() const;

    // The capture in hand ended by a failure (until the next Create).
    bool Failed() const { return m_failed; }
    // The last failure, once: later calls give nothing until another one happens.
    std::optional<CaptureFailure> TakeFailure();

    // The name a capture created at localTime gets when it is the n-th of that
    // name (n = 1: no suffix).
    static std::string FileName(const std::tm& localTime, unsigned n = 1);

private:
    void Fail(std::string reason);

    sysio::UniqueFd m_fd;
    std::string m_path;
    std::string m_lastError;
    std::uint64_t m_written = 0;
    unsigned m_number = 1;
    bool m_failed = false;
    std::optional<CaptureFailure> m_failure;
    Clock::time_point m_lastLinkCheck{};
};
