#pragma once
// The Log client's capture file: raw received bytes, named after the local time.
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
    bool Create(const std::string& dir, const std::tm& localTime, std::string* error = nullptr);
    bool IsOpen() const { return m_fd >= 0; }
    void Write(const std::uint8_t* data, std::size_t count);
    void Close();
    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
};
