// SPDX-License-Identifier: GPL-2.0-or-later
// The modem's printf-like format over 32-bit arguments: every conversion the
// modem's messages use, and every way a format and its arguments disagree.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decode/MessageFormat.h"

namespace {

struct Case {
    const char* format;
    std::vector<std::uint32_t> args;
    const char* text;
};

void Walk(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(decode::FormatMessage(c.format, c.args), c.text);
    }
}

TEST(MessageFormat, ConversionsAsPrintfWritesThem)
{
    Walk({
        {"plain text, no conversion", {}, "plain text, no conversion"},
        {"%d %i", {0xFFFFFFFF, 42}, "-1 42"},
        {"%u", {0xFFFFFFFF}, "4294967295"},
        {"%x %X %o", {0xBEEF, 0xBEEF, 8}, "beef BEEF 10"},
        {"%c%c", {'o', 0x100 + 'k'}, "ok"},                    // the low byte
        {"%p", {0x1234}, "0x00001234"},
        {"%s", {0xC0FFEE}, "0x00c0ffee"},                      // an address in the modem, never read
        {"100%%", {}, "100%"},
        {"%%d", {7}, "%d"},                                    // %% takes no argument
        // Flags, width, precision.
        {"[%5d|%-5d|%05d]", {42, 42, 42}, "[   42|42   |00042]"},
        {"[%+d|% d]", {5, 5}, "[+5| 5]"},
        {"[%#x|%#o]", {255, 8}, "[0xff|010]"},
        {"[%.3d|%8.3d]", {7, 7}, "[007|     007]"},
        {"[%*d|%-*d]", {4, 1, 3, 2}, "[   1|2  ]"},
        {"[%*d]", {static_cast<std::uint32_t>(-3), 9}, "[9  ]"},    // a negative * width: left-justified
        {"[%.*d]", {3, 5}, "[005]"},
        {"[%10s]", {0xAB}, "[0x000000ab]"},
        {"[%-12p]", {1}, "[0x00000001  ]"},
        // Length modifiers: the modem's long and size_t are 32 bits; ll takes two arguments.
        {"%ld %lu %zu %lx", {0xFFFFFFFE, 0xFFFFFFFE, 3, 0xAB}, "-2 4294967294 3 ab"},
        {"%hd %hu %hx", {0x18000, 0x18000, 0x12345}, "-32768 32768 2345"},
        {"%hhd %hhu %hhx", {0x1FF, 0x1FF, 0x1AB}, "-1 255 ab"},
        {"%lld", {0xFFFFFFFF, 0xFFFFFFFF}, "-1"},
        {"%llu", {0x00000001, 0x00000001}, "4294967297"},     // low word first
        {"%llx then %d", {0x89ABCDEF, 0x01234567, 9}, "123456789abcdef then 9"},
    });
}

TEST(MessageFormat, WhatCannotBePrintedIsMarkedAndNoArgumentIsReadPastTheEnd)
{
    Walk({
        {"a=%d b=%d", {1}, "a=1 b=[missing %d]"},
        {"%5.2x", {}, "[missing %5.2x]"},
        {"%lld", {1}, "[missing %lld]"},                       // ll needs two arguments
        {"%lld %d", {1}, "[missing %lld] 1"},                  // ... and takes none when it has one
        {"%*d", {}, "[missing %*d]"},                          // the width's argument is missing
        {"%*d", {5}, "[missing %*d]"},                         // the width took the only argument
        {"%s %p %c", {}, "[missing %s] [missing %p] [missing %c]"},
        {"%q and %d", {3}, "[unknown %q] and 3"},              // unknown: no argument taken
        {"%f %e %g %n", {1, 2, 3, 4}, "[unknown %f] [unknown %e] [unknown %g] [unknown %n]"},
        {"%Lf", {1}, "[unknown %L]f"},
        {"ends in %", {}, "ends in [unknown %]"},
        {"ends in %-08l", {1}, "ends in [unknown %-08l]"},
        {"%d", {1, 2, 3}, "1"},                                // arguments left over are not shown
        {"", {1}, ""},
    });
}

TEST(MessageFormat, FieldsAreCappedAndTheTextStaysOnOneLine)
{
    const std::string wide = decode::FormatMessage("%99999999d", std::vector<std::uint32_t>{1});
    EXPECT_EQ(wide.size(), static_cast<std::size_t>(decode::kMaxFieldWidth));
    EXPECT_EQ(wide.back(), '1');
    const std::string precise = decode::FormatMessage("%.99999llx", std::vector<std::uint32_t>{1, 0});
    EXPECT_EQ(precise.size(), static_cast<std::size_t>(decode::kMaxFieldWidth));
    const std::string starred = decode::FormatMessage("%*d", std::vector<std::uint32_t>{0x7FFFFFFF, 1});
    EXPECT_EQ(starred.size(), static_cast<std::size_t>(decode::kMaxFieldWidth));

    Walk({
        {"line one\nline two\r\tend", {}, "line one line two  end"},
        {"%c|%c", {'\n', 0x7F}, " | "},
        {"bad %\n", {}, "bad [unknown % ]"},
    });
}

TEST(MessageFormat, AppendsToWhatIsThere)
{
    std::string text = "head: ";
    decode::AppendFormattedMessage(text, "%u", std::vector<std::uint32_t>{7});
    EXPECT_EQ(text, "head: 7");
}

}  // namespace
