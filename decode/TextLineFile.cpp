// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/TextLineFile.h"

#include "sys/SysIo.h"

#include <cerrno>

namespace decode {

bool CTextLineFile::Open(const std::string& path)
{
    m_lastError.clear();
    m_file.reset(std::fopen(path.c_str(), "we"));   // e: close-on-exec
    if (!m_file) {
        Fail("open", errno);
        m_lastError += " (" + path + ")";
        return false;
    }
    return true;
}

bool CTextLineFile::WriteLine(std::string_view line)
{
    if (!m_file || !m_lastError.empty())
        return false;
    if (std::fwrite(line.data(), 1, line.size(), m_file.get()) != line.size() || std::fputc('\n', m_file.get()) == EOF) {
        Fail("write", errno);
        return false;
    }
    return true;
}

bool CTextLineFile::Close()
{
    if (!m_file)
        return m_lastError.empty();
    const bool flushed = std::fflush(m_file.get()) == 0;
    const int flushError = errno;
    // fclose releases the stream even when it fails: never closed twice.
    const bool closed = std::fclose(m_file.release()) == 0;
    if (m_lastError.empty() && !flushed)
        Fail("write", flushError);
    else if (m_lastError.empty() && !closed)
        Fail("close", errno);
    return m_lastError.empty();
}

void CTextLineFile::Fail(const char* call, int error)
{
    if (m_lastError.empty())
        m_lastError = sysio::ErrnoText(call, error);
}

}  // namespace decode
