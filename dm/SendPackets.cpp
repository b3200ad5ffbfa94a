// SPDX-License-Identifier: GPL-2.0-or-later
#include "dm/SendPackets.h"

#include "dm/DmCommand.h"
#include "dm/HdlcFramer.h"
#include "dm/TextCodec.h"

#include <algorithm>
#include <array>
#include <string>

namespace sendpkt {

std::optional<std::vector<std::uint8_t>> DmAtPacket(std::string_view text)
{
    if (text.size() > kMaxCommandText)
        return std::nullopt;
    std::vector<std::uint8_t> packet;
    packet.reserve(text.size() + 2);
    packet.push_back(dm::kDmAt);
    packet.insert(packet.end(), text.begin(), text.end());
    packet.push_back(0x0D);
    return packet;
}

std::vector<std::uint8_t> HexPacket(std::string_view text)
{
    // The parser folds and cuts its text in place: it works on a copy.
    std::string copy(text);
    std::transform(copy.begin(), copy.end(), copy.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    std::array<unsigned char, kSendBufferSize> bytes{};
    const int n = HexTokensToBytes(copy.data(), bytes.data(), bytes.size(), kHexDelimiters);
    return {bytes.begin(), bytes.begin() + std::max(n, 0)};
}

std::optional<std::vector<std::uint8_t>> AsciiPacket(std::string_view text, bool addCR, bool addLF)
{
    if (text.size() > kMaxCommandText)
        return std::nullopt;
    std::vector<std::uint8_t> packet(text.begin(), text.end());
    if (addCR)
        packet.push_back(0x0D);
    if (addLF)
        packet.push_back(0x0A);
    return packet;
}

std::vector<std::uint8_t> SendFrame(std::span<const std::uint8_t> packet)
{
    std::array<unsigned char, kSendBufferSize> buffer{};
    const std::size_t length = std::min(packet.size(), buffer.size());
    std::copy_n(packet.begin(), length, buffer.begin());
    CHdlcFramer framer;
    const int n = framer.Frame(buffer.data(), static_cast<int>(length));
    // Only the closing flag is a bare 0x7E: without it the framer cut the frame.
    if (n <= 0 || buffer[static_cast<std::size_t>(n - 1)] != kHdlcFlag)
        return {};
    return {buffer.begin(), buffer.begin() + n};
}

std::vector<std::uint8_t> WireBytes(SendMode mode, std::string_view text, bool addCR, bool addLF)
{
    switch (mode) {
    case SendMode::DmAt: {
        const auto packet = DmAtPacket(text);
        return packet ? SendFrame(*packet) : std::vector<std::uint8_t>{};
    }
    case SendMode::Hex: {
        const std::vector<std::uint8_t> packet = HexPacket(text);
        return addCR && addLF ? SendFrame(packet) : packet;
    }
    case SendMode::Ascii:
        return AsciiPacket(text, addCR, addLF).value_or(std::vector<std::uint8_t>{});
    }
    return {};
}

}   // namespace sendpkt
