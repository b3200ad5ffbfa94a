// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The modem's printf-like debug message format, applied to the 32-bit
// arguments a message record carries. The format string comes from the
// record (or a message database) and may be anything: it never drives a read
// past the arguments, and what it cannot print is marked in the text.
//
// Conversions: d i u x X o c p and %% with the flags - + space # 0, a width
// and a precision (either may be *, taking an argument), and the length
// modifiers hh h l ll z (the modem's long and size_t are 32 bits; ll takes
// two arguments, low word first). %s prints its argument in hex, as 0x and
// eight digits: it is an address in the modem, never read.
//
// Marks, each in place of one conversion:
//   [missing %5d]   the conversion has no argument left
//   [unknown %q]    a conversion this formatter does not know (it takes no
//                   argument); also a format that ends inside a conversion
// Control characters (line ends, tabs, escapes) print as spaces, so the text
// stays on one line. Width and precision are capped at kMaxFieldWidth.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace decode {

inline constexpr int kMaxFieldWidth = 64;

std::string FormatMessage(std::string_view format, std::span<const std::uint32_t> args);

// Appends to out instead of returning a new string.
void AppendFormattedMessage(std::string& out, std::string_view format, std::span<const std::uint32_t> args);

}  // namespace decode
