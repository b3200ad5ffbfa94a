// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A text file written line by line ("Save Decoded Text..." and any tool that
// saves decoded records): replaces the file, buffers through stdio, and keeps
// the first failure with its reason ("write: No space left on device") for the
// one place that tells the user.
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace decode {

class CTextLineFile {
public:
    // Creates or truncates path; false and a reason when it cannot.
    bool Open(const std::string& path);
    // Appends line and a line end; false once anything has failed.
    bool WriteLine(std::string_view line);
    // Flushes and closes; false when any write or the close failed.
    bool Close();
    bool IsOpen() const { return m_file != nullptr; }
    const std::string& LastError() const { return m_lastError; }

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    void Fail(const char* call, int error);

    std::unique_ptr<std::FILE, Closer> m_file;
    std::string m_lastError;
};

}  // namespace decode
