// SPDX-License-Identifier: GPL-2.0-or-later
// The HEX command line parser and its companions, against a plain model:
// byte 0 picks the capacity of the destination, byte 1 the delimiter set and
// a count, the rest is the text.
#include "FuzzCheck.h"
#include "dm/TextCodec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

unsigned DigitValue(unsigned char c)
{
    auto s = static_cast<signed char>(c);
    if (s >= 0x61)
        s = static_cast<signed char>(s ^ 0x20);
    return static_cast<unsigned>((s > '9') ? s - 0x37 : s - 0x30) & 0xFFu;
}

std::vector<unsigned char> ModelTokens(std::string_view text, std::string_view delimiters)
{
    std::vector<unsigned char> bytes;
    std::size_t i = 0;
    while (i < text.size()) {
        if (delimiters.find(text[i]) != std::string_view::npos) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < text.size() && delimiters.find(text[j]) == std::string_view::npos)
            ++j;
        const std::string_view token = text.substr(i, j - i);
        const auto a = static_cast<unsigned char>(token[0]);
        bytes.push_back(static_cast<unsigned char>(
            token.size() == 1 ? DigitValue(a) : (DigitValue(a) * 16 + DigitValue(static_cast<unsigned char>(token[1]))) & 0xFF));
        i = j;
    }
    return bytes;
}

// A heap copy of exactly the text and its terminator, so any read past it is caught.
std::vector<char> Text(std::string_view text)
{
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    return copy;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t capacity = data[0];
    const char* const delimiterSets[] = {" \r\n\t", nullptr, ",", " \t0"};
    const char* delimiters = delimiterSets[data[1] % 4];
    const int count = (data[1] >> 2) % 16 - 2;
    std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
    text = text.substr(0, text.find('\0'));

    // Unbounded: a token is at least one character and one delimiter apart.
    std::vector<char> whole = Text(text);
    std::vector<unsigned char> all((text.size() + 1) / 2);
    const int n = HexTokensToBytes(whole.data(), all.data(), delimiters);
    const auto model = ModelTokens(text, delimiters ? delimiters : " ");
    FUZZ_CHECK(n >= 0 && static_cast<std::size_t>(n) <= all.size());
    FUZZ_CHECK(std::equal(all.begin(), all.begin() + n, model.begin(), model.end()));

    // Bounded: a prefix of the same bytes, never past capacity.
    std::vector<char> bounded = Text(text);
    std::vector<unsigned char> room(capacity);
    const int m = HexTokensToBytes(bounded.data(), room.data(), capacity, delimiters);
    FUZZ_CHECK(m >= 0 && static_cast<std::size_t>(m) == std::min(capacity, model.size()));
    FUZZ_CHECK(std::equal(room.begin(), room.begin() + m, model.begin()));

    // Pairs of digits straight from the text, never read past its end.
    std::vector<char> pairs = Text(text);
    std::vector<unsigned char> out(static_cast<std::size_t>(std::max(count, 1)));
    const int k = HexTextToBytes(pairs.data(), out.data(), count);
    FUZZ_CHECK(k >= 0 && static_cast<std::size_t>(k) <= out.size());

    // The received-text conversions, into exactly the room they are documented to need.
    const auto* bytes = reinterpret_cast<const unsigned char*>(data + 2);
    const int length = static_cast<int>(size - 2);
    std::vector<char> hex(3 * static_cast<std::size_t>(length) + 1);
    BytesToHexText(bytes, hex.data(), length);
    FUZZ_CHECK(std::strlen(hex.data()) == hex.size() - 1);
    std::vector<char> plain(static_cast<std::size_t>(length) + 1);
    FUZZ_CHECK(CopyBytesAsText(bytes, plain.data(), length) == length);
    FUZZ_CHECK(std::memcmp(plain.data(), bytes, static_cast<std::size_t>(length)) == 0 && plain.back() == '\0');
    return 0;
}
