// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The packets the Send button builds from the command line, text in, bytes out:
//   DM AT   0x5E, the text, 0x0D; always framed
//   HEX     one byte per hexadecimal token; framed only with both options set
//   ASCII   the text, then 0x0D and 0x0A as the two options ask; never framed
// The text is 8-bit (one byte per character). The packet must fit the window's
// outgoing buffer of 2048 bytes, and a frame the framer's room of 1024 bytes
// (CHdlcFramer::Frame); what does not fit is not sent rather than sent cut.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace sendpkt {

inline constexpr std::size_t kSendBufferSize = 2048;
// The text, its terminator and two appended bytes fit the buffer.
inline constexpr std::size_t kMaxCommandText = kSendBufferSize - 2;
inline constexpr const char* kHexDelimiters = " \r\n\t";

enum class SendMode { DmAt, Hex, Ascii };

// 5E, text, 0D; nothing for a text longer than kMaxCommandText.
std::optional<std::vector<std::uint8_t>> DmAtPacket(std::string_view text);
// One byte per token, letters taken in either case; tokens past the buffer are
// left out.
std::vector<std::uint8_t> HexPacket(std::string_view text);
// text, 0D if addCR, 0A if addLF; nothing for a text longer than kMaxCommandText.
std::optional<std::vector<std::uint8_t>> AsciiPacket(std::string_view text, bool addCR, bool addLF);
// The frame CHdlcFramer::Frame makes of packet; empty when it had to cut it.
std::vector<std::uint8_t> SendFrame(std::span<const std::uint8_t> packet);
// The bytes Send writes for mode (framed where the mode asks); empty: nothing
// to send ("Not Sent...").
std::vector<std::uint8_t> WireBytes(SendMode mode, std::string_view text, bool addCR, bool addLF);

}   // namespace sendpkt
