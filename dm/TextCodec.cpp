// SPDX-License-Identifier: GPL-2.0-or-later
#include "dm/TextCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// The value of one typed digit. Lower case is folded to upper case in the text
// itself; there is no check for a real hex digit, so 'G' counts as 0x10 and
// bytes 0x80..0xFF (negative as signed chars) are neither folded nor letters.
unsigned DigitValue(char& c)
{
    auto s = static_cast<signed char>(c);
    if (s >= 0x61)          // 0x61..0x7F: fold
        s = static_cast<signed char>(s ^ 0x20);
    c = static_cast<char>(s);
    const int v = (s > '9') ? s - 0x37 : s - 0x30;
    return static_cast<unsigned>(v) & 0xFFu;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

} // namespace

int HexTextToBytes(char* text, unsigned char* out, int count)
{
    if (text == nullptr || out == nullptr)
        return 0;
    if (text[0] != '\0' && text[1] == '\0') {
        out[0] = static_cast<unsigned char>(DigitValue(text[0]));
        return 1;
    }
    // Never read past the terminator: a pair whose first character is the end
    // of the text is not converted (a trailing odd digit pairs with the terminator).
    int written = 0;
    for (int i = 0; i < count; ++i) {
        char& hi = text[2 * static_cast<std::size_t>(i)];
        if (hi == '\0')
            break;
        char& lo = text[2 * static_cast<std::size_t>(i) + 1];
        const bool last = (lo == '\0');
        const unsigned h = DigitValue(hi);
        const unsigned l = DigitValue(lo);
        out[i] = static_cast<unsigned char>((h * 16u + l) & 0xFFu);
        ++written;
        if (last)
            break;
    }
    return written;
}

int HexTokensToBytes(char* text, unsigned char* out, std::size_t capacity, const char* delimiters)
{
    if (delimiters == nullptr)
        delimiters = " ";
    if (out == nullptr || text == nullptr)
        return 0;

    // A local tokenizer position, so two threads (or a nested caller) never
    // share the process-wide one; tokens come out exactly as strtok gives them.
    text += std::strspn(text, delimiters);
    char* save = nullptr;
    std::size_t stored = 0;
    const std::size_t limit = std::min<std::size_t>(capacity, std::numeric_limits<int>::max());
    for (char* token = strtok_r(text, delimiters, &save); token != nullptr && stored < limit;
         token = strtok_r(nullptr, delimiters, &save)) {
        unsigned char byte = 0;
        HexTextToBytes(token, &byte, 1);
        out[stored++] = byte;
    }
    return static_cast<int>(stored);
}

int HexTokensToBytes(char* text, unsigned char* out, const char* delimiters)
{
    return HexTokensToBytes(text, out, std::numeric_limits<std::size_t>::max(), delimiters);
}

void BytesToHexText(const unsigned char* data, char* out, int count)
{
    if (data == nullptr || out == nullptr)
        return;
    char* p = out;
    for (int i = 0; i < count; ++i) {
        const unsigned char b = data[i];
        p[0] = kHexDigits[b >> 4];
        p[1] = kHexDigits[b & 0x0F];
        p[2] = ' ';
        p += 3;
    }
    *p = '\0';
}

int CopyBytesAsText(const unsigned char* data, char* out, int count)
{
    if (data == nullptr || out == nullptr)
        return 0;
    if (count <= 0) {
        out[0] = '\0';
        return 0;
    }
    std::memcpy(out, data, static_cast<std::size_t>(count));
    out[count] = '\0';
    return count;
}

int ParseNumberToken(const char* token, unsigned short* out)
{
    if (token == nullptr || out == nullptr)
        return 0;

    if (token[0] == '0' && token[1] == 'x') {
        const char* digits = token + 2;
        if (*digits == '\0')
            return 0;
        unsigned value = 0;
        for (const char* p = digits; *p != '\0'; ++p) {
            const int d = HexValue(*p);
            if (d < 0)
                return 0;
            value = ((value << 4) | static_cast<unsigned>(d)) & 0xFFFFu;
        }
        *out = static_cast<unsigned short>(value);
        return 1;
    }

    if (token[0] == '\0')
        return 0;
    // atoi as the C library defines it (strtol cut to int), without atoi's
    // undefined behaviour on overflow: a value out of range saturates to
    // LONG_MAX/LONG_MIN, whose low 16 bits are kept like any other value.
    const int saved = errno;
    const long value = std::strtol(token, nullptr, 10);
    errno = saved;
    *out = static_cast<unsigned short>(static_cast<unsigned long>(value) & 0xFFFFu);
    return 1;
}
