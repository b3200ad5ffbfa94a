// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/MessageDatabase.h"

#include <zlib.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <optional>
#include <vector>

#include "sys/RegularFile.h"
#include "sys/SysIo.h"

namespace decode {
namespace {

constexpr std::size_t kQdbHeader = 64;
constexpr std::array<std::uint8_t, 4> kQdbMagic = {0x7F, 'Q', 'D', 'B'};

void SetError(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
}

std::optional<std::uint32_t> ParseNumber(std::string_view text)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// The first `count` colon-separated fields of a line, and the rest after them.
bool SplitFields(std::string_view line, std::span<std::string_view> fields, std::string_view& rest)
{
    for (std::string_view& field : fields) {
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return false;
        field = line.substr(0, colon);
        line.remove_prefix(colon + 1);
    }
    rest = line;
    return true;
}

std::string_view Trim(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    return line;
}

// Calls take(line) for each line of text.
template <typename Take>
void ForEachLine(std::string_view text, Take take)
{
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        take(Trim(text.substr(0, end)));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

// Inflates a zlib stream, refusing one that inflates past `limit`.
bool Inflate(std::span<const std::uint8_t> in, std::size_t limit, std::string& out, std::string* error)
{
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) {
        SetError(error, "zlib could not start");
        return false;
    }
    struct End {
        z_stream& zs;
        ~End() { inflateEnd(&zs); }
    } end{zs};
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    std::array<std::uint8_t, 65536> buffer{};
    for (;;) {
        zs.next_out = buffer.data();
        zs.avail_out = static_cast<uInt>(buffer.size());
        const int status = inflate(&zs, Z_NO_FLUSH);
        const std::size_t produced = buffer.size() - zs.avail_out;
        if (out.size() + produced > limit) {
            SetError(error, "the compressed text inflates past " + std::to_string(limit) + " bytes");
            return false;
        }
        out.append(reinterpret_cast<const char*>(buffer.data()), produced);
        if (status == Z_STREAM_END)
            return true;
        if (status != Z_OK || (produced == 0 && zs.avail_in == 0)) {
            SetError(error, std::string("the compressed text is broken (zlib: ") + (zs.msg ? zs.msg : "truncated") + ")");
            return false;
        }
    }
}

}  // namespace

bool CMessageDatabase::Load(const std::string& path, std::string* error)
{
    // Looked at before it is opened: open() of a FIFO would wait for a writer.
    const sysio::RegularFile file = sysio::OpenRegularFile(path);
    if (!file.fd.Valid()) {
        SetError(error, file.errnoValue != 0 ? sysio::ErrnoText(path, file.errnoValue)
                                             : path + ": " + sysio::kNotRegularFile);
        return false;
    }
    std::vector<std::uint8_t> bytes;
    std::array<std::uint8_t, 65536> chunk{};
    for (;;) {
        const long long n = sysio::ReadUpTo(file.fd.Get(), chunk.data(), chunk.size());
        if (n < 0) {
            SetError(error, path + ": read failed");
            return false;
        }
        bytes.insert(bytes.end(), chunk.data(), chunk.data() + n);
        if (bytes.size() > kMaxFile) {
            SetError(error, path + ": larger than " + std::to_string(kMaxFile >> 20) + " MiB");
            return false;
        }
        if (static_cast<std::size_t>(n) < chunk.size())
            break;
    }
    std::string why;
    if (!LoadBytes(bytes, &why)) {
        SetError(error, path + ": " + why);
        return false;
    }
    return true;
}

bool CMessageDatabase::LoadBytes(std::span<const std::uint8_t> bytes, std::string* error, std::size_t maxText)
{
    CMessageDatabase next;
    bool ok = false;
    if (bytes.size() >= kQdbMagic.size() && std::equal(kQdbMagic.begin(), kQdbMagic.end(), bytes.begin())) {
        if (bytes.size() <= kQdbHeader) {
            SetError(error, "a QShrink 4 database cut short in its 64-byte header");
            return false;
        }
        std::string text;
        if (!Inflate(bytes.subspan(kQdbHeader), maxText, text, error))
            return false;
        next.m_qshrink4 = true;
        ok = next.ReadQShrink4Text(text, error);
    } else {
        ok = next.ReadHashText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error);
    }
    if (!ok)
        return false;
    *this = std::move(next);
    return true;
}

bool CMessageDatabase::ReadQShrink4Text(std::string_view text, std::string* error)
{
    bool inContent = false;
    bool sawContent = false;
    std::size_t bad = 0;
    ForEachLine(text, [&](std::string_view line) {
        if (line.empty() || line[0] == '#')
            return;
        if (line == "<Content>") {
            inContent = sawContent = true;
            return;
        }
        if (line == "</Content>" || line == "<\\Content>" || line[0] == '<') {
            inContent = false;   // another section's tags: skipped
            return;
        }
        if (!inContent)
            return;
        std::array<std::string_view, 5> f;
        std::string_view format;
        std::optional<std::uint32_t> hash, mask, ssid, number;
        if (!SplitFields(line, f, format) || !(hash = ParseNumber(f[0])) || !(mask = ParseNumber(f[1]))
            || !(ssid = ParseNumber(f[2])) || !(number = ParseNumber(f[3]))) {
            ++bad;
            return;
        }
        m_entries.insert_or_assign(*hash, MessageEntry{*ssid, *mask, *number, std::string(f[4]), std::string(format)});
    });
    if (!sawContent) {
        SetError(error, "a QShrink 4 database without a <Content> section");
        return false;
    }
    if (m_entries.empty()) {
        SetError(error, "no message in the <Content> section" + (bad ? " (" + std::to_string(bad) + " lines unreadable)" : ""));
        return false;
    }
    return true;
}

bool CMessageDatabase::ReadHashText(std::string_view text, std::string* error)
{
    std::size_t bad = 0;
    ForEachLine(text, [&](std::string_view line) {
        if (line.empty() || line[0] == '#' || line[0] == '<')
            return;
        std::array<std::string_view, 2> f;
        std::string_view format;
        const std::optional<std::uint32_t> hash = SplitFields(line, f, format) ? ParseNumber(f[0]) : std::nullopt;
        if (!hash) {
            ++bad;
            return;
        }
        m_entries.insert_or_assign(*hash, MessageEntry{0, 0, 0, std::string(f[1]), std::string(format)});
    });
    if (m_entries.empty()) {
        SetError(error, bad ? "not a message database: no line of the form hash:file:format"
                            : "not a message database: no message in it");
        return false;
    }
    return true;
}

const MessageEntry* CMessageDatabase::Find(std::uint32_t hash) const
{
    const auto it = m_entries.find(hash);
    return it != m_entries.end() ? &it->second : nullptr;
}

}  // namespace decode
