// SPDX-License-Identifier: GPL-2.0-or-later
#include "dm/TextCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const char* const kSendDelimiters = " \r\n\t";

TEST(TextCodec, HexTextToBytes)
{
    const struct {
        const char* name;
        std::string text;
        int count;
        Bytes out;
        std::string textAfter;   // digits are folded to upper case in place
    } cases[] = {
        {"one character: its digit, folded", "a", 5, {0x0A}, "A"},
        {"one digit", "9", 1, {0x09}, "9"},
        {"pair, folded", "ff", 1, {0xFF}, "FF"},
        {"G counts as 0x10: 0x10 * 16 wraps to 0", "G0", 1, {0x00}, "G0"},
        {"count pairs", "7e01fF", 3, {0x7E, 0x01, 0xFF}, "7E01FF"},
        {"later characters are ignored", "1234", 1, {0x12}, "1234"},
        {"0x7F folds to 0x5F ('_' - 0x37 = 0x28)", "\x7F" "0", 1, {0x80}, "_0"},
        {"bytes 0x80.. are not folded: 0x80 - 0x30 = 0x50", "\x80" "1", 1, {0x01}, "\x80" "1"},
        {"count 0", "12", 0, {}, "12"},
        {"negative count", "12", -4, {}, "12"},
        {"odd digit pairs with the terminator (0 - 0x30 = D0)", "123", 2, {0x12, (3 * 16 + 0xD0) & 0xFF}, "123"},
        {"stops at the end of the text", "1234", 9, {0x12, 0x34}, "1234"},
        {"empty text converts nothing", "", 1, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> text(c.text.begin(), c.text.end());
        text.push_back('\0');
        Bytes out(16, 0xEE);
        const int n = HexTextToBytes(text.data(), out.data(), c.count);
        ASSERT_EQ(n, static_cast<int>(c.out.size()));
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), c.out);
        EXPECT_TRUE(std::all_of(out.begin() + n, out.end(), [](std::uint8_t b) { return b == 0xEE; }));
        EXPECT_EQ(std::string(text.data()), c.textAfter);
    }
}

TEST(TextCodec, HexTokensToBytes)
{
    const struct {
        const char* name;
        std::string text;
        const char* delimiters;
        Bytes out;
    } cases[] = {
        {"three tokens", "7E 01 FF", kSendDelimiters, {0x7E, 0x01, 0xFF}},
        {"mixed delimiters, leading spaces", "  1 2\t3\r\n", kSendDelimiters, {0x01, 0x02, 0x03}},
        {"empty text", "", kSendDelimiters, {}},
        {"spaces only", "    ", kSendDelimiters, {}},
        {"third and later characters ignored", "ABC DEF", kSendDelimiters, {0xAB, 0xDE}},
        {"one character token is a digit", "A 0A", kSendDelimiters, {0x0A, 0x0A}},
        {"1234 gives 12", "1234", kSendDelimiters, {0x12}},
        {"null delimiters split at spaces only", "01\t02", nullptr, {0x01}},
        {"null delimiters, two tokens", "01 02", nullptr, {0x01, 0x02}},
        {"lower case is folded", "7e ff", kSendDelimiters, {0x7E, 0xFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> text(c.text.begin(), c.text.end());
        text.push_back('\0');
        Bytes out(16, 0xEE);
        const int n = HexTokensToBytes(text.data(), out.data(), c.delimiters);
        ASSERT_EQ(n, static_cast<int>(c.out.size()));
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), c.out);
        EXPECT_TRUE(std::all_of(out.begin() + n, out.end(), [](std::uint8_t b) { return b == 0xEE; }));
    }

    char text[] = "01 02";
    EXPECT_EQ(HexTokensToBytes(text, nullptr, kSendDelimiters), 0);
}

// Several tokenizing callers interleaved must not disturb one another.
TEST(TextCodec, HexTokensToBytesKeepsNoSharedPosition)
{
    char first[] = "01 02 03";
    char other[] = "AA BB";
    unsigned char out[8] = {};
    char* tok = strtok(first, " ");   // a caller in the middle of its own strtok
    ASSERT_NE(tok, nullptr);
    EXPECT_EQ(HexTokensToBytes(other, out, kSendDelimiters), 2);
    EXPECT_STREQ(strtok(nullptr, " "), "02");
}

TEST(TextCodec, BoundedHexTokensNeverWritePastCapacity)
{
    constexpr std::size_t kCapacity = 2048;   // the outgoing packet buffer
    constexpr std::size_t kGuard = 64;
    const struct {
        const char* name;
        std::size_t tokens;
    } cases[] = {
        {"well below", 10}, {"one below", kCapacity - 1}, {"exactly at", kCapacity},
        {"one past", kCapacity + 1}, {"far past", 100000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string line;
        for (std::size_t i = 0; i < c.tokens; ++i) {
            char token[8];
            std::snprintf(token, sizeof token, "%02zX%s", i & 0xFF, (i % 7 == 0) ? "\t" : " ");
            line += token;
        }
        std::vector<char> text(line.begin(), line.end());
        text.push_back('\0');
        Bytes area(kCapacity + kGuard, 0xEE);
        const int n = HexTokensToBytes(text.data(), area.data(), kCapacity, kSendDelimiters);
        const std::size_t expected = std::min(c.tokens, kCapacity);
        ASSERT_EQ(n, static_cast<int>(expected));
        for (std::size_t i = 0; i < expected; ++i)
            ASSERT_EQ(area[i], i & 0xFF) << "byte " << i;
        EXPECT_TRUE(std::all_of(area.begin() + static_cast<long>(expected), area.end(),
                                [](std::uint8_t b) { return b == 0xEE; }));
    }

    char text[] = "01 02 03";
    unsigned char byte = 0xEE;
    EXPECT_EQ(HexTokensToBytes(text, &byte, 0, kSendDelimiters), 0);
    EXPECT_EQ(byte, 0xEE);
}

TEST(TextCodec, BytesToHexText)
{
    const struct {
        const char* name;
        Bytes in;
        std::string out;
    } cases[] = {
        {"three bytes, trailing space", {0x00, 0x7E, 0xFF}, "00 7E FF "},
        {"nothing", {}, ""},
        {"upper case digits", {0xAB, 0xCD, 0x0F}, "AB CD 0F "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> out(3 * c.in.size() + 8, '#');
        const std::uint8_t none = 0;
        BytesToHexText(c.in.empty() ? &none : c.in.data(), out.data(), static_cast<int>(c.in.size()));
        EXPECT_EQ(std::string(out.data()), c.out);
        EXPECT_EQ(out[3 * c.in.size() + 1], '#') << "writes exactly 3 * count + 1 bytes";
    }

    char untouched[] = "keep";
    BytesToHexText(nullptr, untouched, 3);
    EXPECT_STREQ(untouched, "keep");

    // Every byte value, against the formatted print it stands for.
    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    std::vector<char> out(3 * 256 + 1);
    BytesToHexText(all.data(), out.data(), 256);
    for (int i = 0; i < 256; ++i) {
        char expected[4];
        std::snprintf(expected, sizeof expected, "%02X ", static_cast<unsigned>(i));
        ASSERT_EQ(std::string(out.data() + 3 * i, 3), expected);
    }
}

TEST(TextCodec, CopyBytesAsText)
{
    const Bytes in{0x41, 0x00, 0x42};
    char out[8];
    std::fill(std::begin(out), std::end(out), '#');
    EXPECT_EQ(CopyBytesAsText(in.data(), out, 3), 3);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x41, 0x00, 0x42, 0x00}));
    EXPECT_EQ(out[4], '#');

    EXPECT_EQ(CopyBytesAsText(in.data(), out, 0), 0);
    EXPECT_EQ(out[0], '\0');
    out[0] = 'x';
    EXPECT_EQ(CopyBytesAsText(in.data(), out, -2), 0);
    EXPECT_EQ(out[0], '\0');
    out[0] = 'x';
    EXPECT_EQ(CopyBytesAsText(nullptr, out, 3), 0);
    EXPECT_EQ(out[0], 'x');
}

TEST(TextCodec, ParseNumberToken)
{
    constexpr int kFails = -1;
    const struct {
        const char* token;
        int value;   // kFails: returns 0 and leaves out unchanged
    } cases[] = {
        {"0x1F", 31}, {"0x1f", 31}, {"0X1F", 0}, {"0x", kFails}, {"", kFails},
        {"0x12G4", kFails}, {"0x12345", 0x2345}, {"4660", 4660}, {"70000", 4464},
        {"-1", 65535}, {"12ab", 12}, {"03246", 3246}, {"0x157F", 0x157F},
        {"  +42", 42}, {"abc", 0}, {"0x 1", kFails}, {"0xFFFFFFFFFFFFFFFF1", 0xFFF1},
        {"99999999999999999999", 0xFFFF}, {"-99999999999999999999", 0}, {"0", 0}, {"x1", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.token);
        unsigned short out = 0xBEEF;
        const int ok = ParseNumberToken(c.token, &out);
        if (c.value == kFails) {
            EXPECT_EQ(ok, 0);
            EXPECT_EQ(out, 0xBEEF);
        } else {
            EXPECT_EQ(ok, 1);
            EXPECT_EQ(out, c.value);
        }
    }
}

TEST(TextCodec, ParseNumberTokenOnRandomStrings)
{
    std::mt19937 rng(4242);
    const std::string alphabet = "0123456789abcdefABCDEFxX+- \t\n/,.G\x80\xFF";
    for (int round = 0; round < 10000; ++round) {
        std::string token(rng() % 40, '\0');
        for (auto& ch : token)
            ch = (rng() % 8 == 0) ? static_cast<char>(rng() % 255 + 1) : alphabet[rng() % alphabet.size()];
        if (round % 5 == 0 && token.size() >= 2)
            token.replace(0, 2, "0x");
        SCOPED_TRACE(::testing::PrintToString(token));
        unsigned short out = 0xBEEF;
        const int ok = ParseNumberToken(token.c_str(), &out);
        ASSERT_TRUE(ok == 0 || ok == 1);
        if (ok == 0) {
            ASSERT_EQ(out, 0xBEEF);
        }
        // Decimal tokens follow the C library's atoi (strtol cut to int).
        if (!(token.size() >= 2 && token[0] == '0' && token[1] == 'x') && !token.empty()) {
            ASSERT_EQ(ok, 1);
            const long expected = std::strtol(token.c_str(), nullptr, 10);
            ASSERT_EQ(out, static_cast<unsigned short>(static_cast<unsigned long>(expected) & 0xFFFF));
        }
    }
}

} // namespace
