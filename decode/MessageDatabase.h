// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CMessageDatabase: the strings a modem's terse (hashed) debug messages leave
// out, keyed by the hash the message carries. Two file forms are read:
//
//  - QShrink 4 (.qdb, in modem firmware images and GPL dumps): a 64-byte
//    header starting with the magic 7F 'Q' 'D' 'B' (then a 16-byte UUID),
//    then zlib-compressed text. The text holds tagged sections; each line of
//    <Content> ... </Content> (the close tag is also written <\Content>) is
//    hash:subsys_mask:ssid:line:file:format. Other sections are skipped.
//  - The older QShrink hash files: plain text lines hash:file:format; lines
//    starting with '#' or '<' are comments and tags.
//
// Hashes are decimal (0x-prefixed hex is taken too). The format is the rest
// of the line after its fields, colons and all. A file that is neither form,
// whose compressed text is broken or inflates past kMaxText, or that holds no
// entry at all is refused with the reason.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

namespace decode {

struct MessageEntry {
    std::uint32_t ssid = 0;
    std::uint32_t subsysMask = 0;   // the level bits (QShrink 4 only)
    std::uint32_t line = 0;         // 0: not known (older files)
    std::string file;
    std::string format;
};

class CMessageDatabase {
public:
    static constexpr std::size_t kMaxFile = std::size_t{64} << 20;
    static constexpr std::size_t kMaxText = std::size_t{512} << 20;

    // Reads a file of either form; false and why (error) when it is refused.
    bool Load(const std::string& path, std::string* error);
    // The same for bytes already in memory; maxText bounds the inflated text.
    bool LoadBytes(std::span<const std::uint8_t> bytes, std::string* error, std::size_t maxText = kMaxText);

    const MessageEntry* Find(std::uint32_t hash) const;
    std::size_t Size() const { return m_entries.size(); }
    bool IsQShrink4() const { return m_qshrink4; }

private:
    bool ReadQShrink4Text(std::string_view text, std::string* error);
    bool ReadHashText(std::string_view text, std::string* error);

    std::unordered_map<std::uint32_t, MessageEntry> m_entries;
    bool m_qshrink4 = false;
};

}  // namespace decode
