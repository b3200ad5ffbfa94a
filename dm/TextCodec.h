// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Conversions between the text a user types or sees and the bytes on the line.
#include <cstddef>

// Pairs of hexadecimal digits to bytes (one byte from a one-character text).
// Digits are folded to upper case in place; any character has a value ('G' is
// 0x10). Stops at the end of the text; returns the number of bytes written.
int HexTextToBytes(char* text, unsigned char* out, int count);
// Whitespace- or delimiter-separated tokens to one byte each (first two digits
// of a token; "1234" gives 0x12). Null delimiters mean " ". Writes zeros into text.
int HexTokensToBytes(char* text, unsigned char* out, const char* delimiters);
// As above, but never stores more than capacity bytes (tokens past it are skipped).
int HexTokensToBytes(char* text, unsigned char* out, std::size_t capacity, const char* delimiters);
// "%02X " per byte; out needs 3 * count + 1 bytes.
void BytesToHexText(const unsigned char* data, char* out, int count);
// count bytes unchanged plus a terminator; out needs count + 1 bytes.
int CopyBytesAsText(const unsigned char* data, char* out, int count);
// "0x..." (lower-case x) as hexadecimal, anything else as atoi does; the low
// 16 bits go to out. 0 (out untouched) for an empty token or bad hex digits.
int ParseNumberToken(const char* token, unsigned short* out);
