// SPDX-License-Identifier: GPL-2.0-or-later
// The number parser of the configuration lists, against a plain model: "0x"
// then hex digits, or whatever the C library's strtol makes of it in decimal.
#include "FuzzCheck.h"
#include "dm/TextCodec.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view token(reinterpret_cast<const char*>(data), size);
    token = token.substr(0, token.find('\0'));
    std::vector<char> text(token.begin(), token.end());
    text.push_back('\0');

    unsigned short out = 0xBEEF;
    const int ok = ParseNumberToken(text.data(), &out);
    FUZZ_CHECK(ok == 0 || ok == 1);

    if (token.size() >= 2 && token[0] == '0' && token[1] == 'x') {
        const std::string_view digits = token.substr(2);
        bool valid = !digits.empty();
        unsigned value = 0;
        for (char c : digits) {
            int d = -1;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
            if (d < 0) { valid = false; break; }
            value = ((value << 4) | static_cast<unsigned>(d)) & 0xFFFF;
        }
        FUZZ_CHECK(ok == (valid ? 1 : 0));
        FUZZ_CHECK(out == (valid ? value : 0xBEEF));
    } else if (token.empty()) {
        FUZZ_CHECK(ok == 0 && out == 0xBEEF);
    } else {
        const long value = std::strtol(text.data(), nullptr, 10);
        FUZZ_CHECK(ok == 1);
        FUZZ_CHECK(out == (static_cast<unsigned long>(value) & 0xFFFF));
    }
    return 0;
}
