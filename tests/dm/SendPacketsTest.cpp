// SPDX-License-Identifier: GPL-2.0-or-later
// What Send puts on the wire per mode, from the command line's text.
#include "dm/SendPackets.h"

#include "support/DmFrames.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using sendpkt::SendMode;

TEST(SendPackets, WireBytesPerMode)
{
    struct Case {
        const char* name;
        SendMode mode;
        std::string text;
        bool addCR, addLF;
        Bytes wire;
    };
    const Case cases[] = {
        {"DM AT: 5E, the text, 0D, framed", SendMode::DmAt, "ATI", false, false,
         ReferenceFrame({0x5E, 'A', 'T', 'I', 0x0D})},
        {"DM AT ignores the options", SendMode::DmAt, "ATI", true, true, ReferenceFrame({0x5E, 'A', 'T', 'I', 0x0D})},
        {"DM AT of an empty line: 5E 0D framed", SendMode::DmAt, "", false, false, ReferenceFrame({0x5E, 0x0D})},
        {"ASCII with CR and LF", SendMode::Ascii, "AT", true, true, {'A', 'T', 0x0D, 0x0A}},
        {"ASCII with CR only", SendMode::Ascii, "AT", true, false, {'A', 'T', 0x0D}},
        {"ASCII with LF only", SendMode::Ascii, "AT", false, true, {'A', 'T', 0x0A}},
        {"ASCII plain", SendMode::Ascii, "AT", false, false, {'A', 'T'}},
        {"ASCII empty: nothing to send", SendMode::Ascii, "", false, false, {}},
        {"ASCII empty with CR: the CR alone", SendMode::Ascii, "", true, false, {0x0D}},
        {"ASCII keeps 8-bit characters", SendMode::Ascii, "\xE9", false, false, {0xE9}},
        {"HEX with both options: framed", SendMode::Hex, "7e 00 ff", true, true, ReferenceFrame({0x7E, 0x00, 0xFF})},
        {"HEX with one option: as parsed", SendMode::Hex, "7e 00 ff", true, false, {0x7E, 0x00, 0xFF}},
        {"HEX with the other option: as parsed", SendMode::Hex, "7E 00 FF", false, true, {0x7E, 0x00, 0xFF}},
        {"HEX lower case reads as upper case", SendMode::Hex, "ab\tcd\r\nef", false, false, {0xAB, 0xCD, 0xEF}},
        {"HEX empty, not framed: nothing", SendMode::Hex, "", true, false, {}},
        {"HEX empty, framed: the frame of nothing", SendMode::Hex, "", true, true, ReferenceFrame({})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sendpkt::WireBytes(c.mode, c.text, c.addCR, c.addLF), c.wire);
    }
}

TEST(SendPackets, LimitsOfTheBufferAndTheFramer)
{
    struct Case {
        const char* name;
        SendMode mode;
        std::string text;
        bool addCR, addLF;
        std::size_t wire;   // bytes on the wire; 0: not sent
    };
    std::string tokens;
    for (int i = 0; i < 3000; ++i)
        tokens += "41 ";
    const Case cases[] = {
        {"ASCII of 2046 characters and CR LF fills the buffer", SendMode::Ascii, std::string(2046, 'a'), true, true, 2048},
        {"ASCII of 2047 characters is refused", SendMode::Ascii, std::string(2047, 'a'), false, false, 0},
        {"DM AT whose frame fits the framer's room", SendMode::DmAt, std::string(1019, 'a'), false, false, 1024},
        {"DM AT whose frame would be cut is refused", SendMode::DmAt, std::string(1020, 'a'), false, false, 0},
        {"DM AT longer than the buffer is refused", SendMode::DmAt, std::string(3000, 'a'), false, false, 0},
        {"HEX tokens past the buffer are left out", SendMode::Hex, tokens, false, false, 2048},
        {"HEX of 2048 bytes framed would be cut: refused", SendMode::Hex, tokens, true, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sendpkt::WireBytes(c.mode, c.text, c.addCR, c.addLF).size(), c.wire);
    }
}

}   // namespace
