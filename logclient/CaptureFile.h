#pragma once
// The Log client's capture file: raw received bytes, named after the local time.
#include "sys/SysIo.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

class CCaptureFile {
public:
    CCaptureFile() = default;
    ~CCaptureFile();
    CCaptureFile(const CCaptureFile&) = delete;
    CCaptureFile& operator=(const CCaptureFile&) = delete;

    // Creates "MM-DD-hh-mm-ss.bin" in dir (with "-2", "-3", ... when the name is
    // taken; an existing file is never truncated). false and a reason on failure.
    // Does nothing and returns true when a file is already open.
    bool Create(const std::string& dir, const std::tm& localTime, std::string* error = nullptr);
    bool IsOpen() const { return m_fd.Valid(); }
    // Writes all of data (short writes and EINTR are carried on). false when the
    // file refused part of it; the reason is kept in LastError.
    bool Write(const std::uint8_t* data, std::size_t count);
    void Close();
    const std::string& Path() const { return m_path; }
    const std::string& LastError() const { return m_lastError; }
    std::uint64_t BytesWritten() const { return m_written; }

    // The name a capture created at localTime gets when it is the n-th of that
    // name (n = 1: no suffix).
    static std::string FileName(const std::tm& localTime, unsigned n = 1);

private:
    sysio::UniqueFd m_fd;
    std::string m_path;
    std::string m_lastError;
    std::uint64_t m_written = 0;
};
