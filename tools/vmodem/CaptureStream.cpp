// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/vmodem/CaptureStream.h"

#include "dm/DmCommand.h"

#include "sys/SysIo.h"
#include "tools/vmodem/LogRecords.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

constexpr std::size_t kChunk = 65536;

// A log record whose two lengths say what its frame holds.
bool IsLogRecord(const std::vector<std::uint8_t>& p)
{
    if (p.size() < vmlog::kLogHeader || p[0] != dm::kLog)
        return false;
    const std::size_t len = p[2] | (p[3] << 8);
    const std::size_t len2 = p[4] | (p[5] << 8);
    return len == p.size() - 4 && len2 == len;
}

}  // namespace

std::unique_ptr<CCaptureStream> CCaptureStream::Open(const std::string& path, std::string& error)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = sysio::ErrnoText(path, EISDIR);
        return nullptr;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = sysio::ErrnoText(path, errno);
        return nullptr;
    }
    std::unique_ptr<CCaptureStream> stream(new CCaptureStream());
    stream->m_file = std::move(file);
    return stream;
}

std::unique_ptr<CCaptureStream> CCaptureStream::FromBytes(std::vector<std::uint8_t> bytes)
{
    std::unique_ptr<CCaptureStream> stream(new CCaptureStream());
    stream->m_bytes = std::move(bytes);
    return stream;
}

bool CCaptureStream::ReadMore()
{
    std::vector<HdlcItem> items;
    while (m_records.empty()) {
        std::array<std::uint8_t, kChunk> chunk{};
        std::size_t n = 0;
        if (m_file) {
            n = std::fread(chunk.data(), 1, chunk.size(), m_file.get());
        } else {
            n = std::min(chunk.size(), m_bytes.size() - m_nPos);
            std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(m_nPos), n, chunk.begin());
            m_nPos += n;
        }
        if (n == 0)
            return false;
        items.clear();
        m_deframer.Push(std::span<const std::uint8_t>(chunk.data(), n), items);
        for (HdlcItem& item : items)
            if (item.kind == HdlcItem::Kind::Frame && IsLogRecord(item.data))
                m_records.push_back(std::move(item.data));
    }
    return true;
}

void CCaptureStream::Rewind()
{
    if (m_file)
        std::rewind(m_file.get());
    m_nPos = 0;
    // A frame cut by the end of the capture does not run into its start.
    m_deframer.Reset();
    ++m_nRounds;
}

std::optional<std::vector<std::uint8_t>> CCaptureStream::Next(const std::function<bool(std::uint16_t)>& wanted)
{
    // At most one wrap: a round that finds nothing ends the search.
    bool wrapped = false;
    for (;;) {
        while (!m_records.empty()) {
            std::vector<std::uint8_t> record = std::move(m_records.front());
            m_records.pop_front();
            const std::uint16_t code = static_cast<std::uint16_t>(record[6] | (record[7] << 8));
            if (wanted(code))
                return record;
        }
        if (ReadMore())
            continue;
        if (wrapped)
            return std::nullopt;
        Rewind();
        wrapped = true;
    }
}
