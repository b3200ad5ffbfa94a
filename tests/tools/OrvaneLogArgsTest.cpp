// SPDX-License-Identifier: GPL-2.0-or-later
// orvane-log's command line and its texts: every refusal is a row.
#include "tools/orvanelog/OptionValues.h"
#include "tools/orvanelog/Options.h"
#include "tools/orvanelog/Status.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(OrvaneLogArgs, RefusalsAndAcceptedForms)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;               // kExitClean with options, or the exit status
        const char* says;         // in the message; nullptr: no message
    };
    const Case cases[] = {
        {"no port", {}, kExitUsage, "which port?"},
        {"only options", {"--defaults", "--quiet"}, kExitUsage, "which port?"},
        {"two ports", {"COM1", "COM2"}, kExitUsage, "one port only"},
        {"unknown option", {"COM1", "--fast"}, kExitUsage, "unknown option \"--fast\""},
        {"dmc without file", {"COM1", "--dmc"}, kExitUsage, "--dmc needs a value"},
        {"dmc empty", {"COM1", "--dmc", ""}, kExitUsage, "--dmc needs a file name"},
        {"dmc and defaults", {"COM1", "--dmc", "a.dmc", "--defaults"}, kExitUsage, "exclude each other"},
        {"dmc twice", {"COM1", "--dmc", "a.dmc", "--dmc", "b.dmc"}, kExitUsage, "--dmc given twice"},
        {"dir empty", {"COM1", "--dir", ""}, kExitUsage, "--dir needs a directory"},
        {"duration zero", {"COM1", "--duration", "0"}, kExitUsage, "above 0"},
        {"duration negative", {"COM1", "--duration", "-5"}, kExitUsage, "above 0"},
        {"duration words", {"COM1", "--duration", "10s"}, kExitUsage, "not \"10s\""},
        {"duration not finite", {"COM1", "--duration", "inf"}, kExitUsage, "above 0"},
        {"view other", {"COM1", "--view", "events"}, kExitUsage, "messages or logging"},
        {"settings words", {"COM1", "--settings", "fast"}, kExitUsage, "not a baud rate"},
        {"settings signed", {"COM1", "--settings", "-9600"}, kExitUsage, "not a baud rate"},
        {"settings two fields", {"COM1", "--settings", "9600,8"}, kExitUsage, "BAUD,BITS,PARITY,STOP"},
        {"settings parity", {"COM1", "--settings", "9600,8,X,1"}, kExitUsage, "parity \"X\""},
        {"settings stop", {"COM1", "--settings", "9600,8,N,3"}, kExitUsage, "stop bits \"3\""},
        {"settings bits", {"COM1", "--settings", "9600,eight,N,1"}, kExitUsage, "data bits"},
        {"name too long", {"ABCDEFGHIJKLMNO"}, kExitUsage, "longer than 14"},
        {"read without file", {"--read"}, kExitUsage, "--read needs a value"},
        {"read empty", {"--read", ""}, kExitUsage, "--read needs a file name"},
        {"read twice", {"--read", "a", "--read", "b"}, kExitUsage, "--read given twice"},
        {"read with a port", {"COM1", "--read", "a.qmdl"}, kExitUsage, "without a port"},
        {"qdb empty", {"COM1", "--qdb", ""}, kExitUsage, "--qdb needs a file name"},
        {"qdb twice", {"COM1", "--qdb", "a", "--qdb", "b"}, kExitUsage, "--qdb given twice"},
        {"decode without a port", {"--decode"}, kExitUsage, "which port?"},
        {"read alone", {"--read", "a.qmdl"}, kExitClean, nullptr},
        {"read, decode, database", {"--read", "a.qmdl", "--decode", "--qdb", "m.qdb"}, kExitClean, nullptr},
        {"live decode", {"COM1", "--decode", "--qdb", "m.qdb"}, kExitClean, nullptr},
        {"4 data bits", {"COM1", "--settings", "115200,4,N,1"}, kExitUsage, "byte size 4 cannot be set"},
        {"baud 0", {"COM1", "--settings", "0"}, kExitUsage, "baud rate 0 cannot be set"},
        {"1.5 stop bits with 8 data bits", {"COM1", "--settings", "9600,8,N,1.5"}, kExitUsage, "cannot be set"},
        {"rotate size words", {"COM1", "--rotate-size", "big"}, kExitUsage, "--rotate-size takes a size"},
        {"rotate size unit", {"COM1", "--rotate-size", "10T"}, kExitUsage, "not \"10T\""},
        {"rotate size zero", {"COM1", "--rotate-size", "0"}, kExitUsage, "--rotate-size takes a size"},
        {"rotate time zero", {"COM1", "--rotate-time", "0m"}, kExitUsage, "--rotate-time takes a time"},
        {"rotate time unit", {"COM1", "--rotate-time", "5d"}, kExitUsage, "not \"5d\""},
        {"keep zero", {"COM1", "--keep", "0"}, kExitUsage, "--keep takes a whole number"},
        {"keep fraction", {"COM1", "--keep", "2.5"}, kExitUsage, "--keep takes a whole number"},
        {"min free twice", {"COM1", "--min-free", "1G", "--min-free", "2G"}, kExitUsage, "--min-free given twice"},
        {"allow empty alone", {"COM1", "--allow-empty"}, kExitUsage, "--allow-empty goes with --dmc"},
        {"version", {"--version"}, kExitClean, "orvane-log "},
        {"help", {"COM1", "--help"}, kExitClean, "Usage: orvane-log PORT"},
        {"port alone", {"COM1"}, kExitClean, nullptr},
        {"device path", {"/dev/serial/by-id/usb-modem-if00-port0"}, kExitClean, nullptr},
        {"everything", {"--quiet", "COM60", "--dmc", "x.dmc", "--dir", "/tmp", "--settings", "9600,7,e,2",
                        "--duration", "2.5", "--view", "logging"}, kExitClean, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ParsedArgs parsed = ParseLogArgs(c.args);
        EXPECT_EQ(parsed.status, c.status);
        EXPECT_EQ(parsed.options.has_value(), c.status == kExitClean && c.says == nullptr);
        if (c.says) {
            EXPECT_NE(parsed.message.find(c.says), std::string::npos) << parsed.message;
        }
        if (c.status == kExitUsage) {
            // One line with the reason, then where the help is: no page of usage.
            EXPECT_NE(parsed.message.find("\nTry 'orvane-log --help' for more information.\n"), std::string::npos);
            EXPECT_EQ(parsed.message.find("Usage:"), std::string::npos);
        }
    }
}

TEST(OrvaneLogArgs, DefaultsAreTheWindowsAndOptionsLandWhereTheySay)
{
    const ParsedArgs plain = ParseLogArgs({"COM3"});
    ASSERT_TRUE(plain.options);
    EXPECT_EQ(plain.options->port, "COM3");
    EXPECT_TRUE(plain.options->dmcPath.empty());
    EXPECT_EQ(plain.options->dir, ".");
    EXPECT_EQ(DcbFlagWord(plain.options->dcb), 0x5011u);
    EXPECT_EQ(plain.options->dcb.BaudRate, 115200u);
    EXPECT_EQ(plain.options->view, DmcListView::MessagesView);
    EXPECT_FALSE(plain.options->quiet);

    const ParsedArgs all = ParseLogArgs({"--quiet", "COM60", "--dmc", "x.dmc", "--dir", "/tmp", "--settings",
                                         "9600,7,e,2", "--duration", "2.5", "--view", "logging"});
    ASSERT_TRUE(all.options);
    EXPECT_EQ(all.options->dmcPath, "x.dmc");
    EXPECT_EQ(all.options->dir, "/tmp");
    EXPECT_EQ(all.options->dcb.BaudRate, 9600u);
    EXPECT_EQ(all.options->dcb.ByteSize, 7);
    EXPECT_EQ(all.options->dcb.Parity, EVENPARITY);
    EXPECT_EQ(all.options->dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(DcbFlagWord(all.options->dcb), 0x5011u);   // the flags stay the window's
    EXPECT_DOUBLE_EQ(all.options->durationSeconds, 2.5);
    EXPECT_EQ(all.options->view, DmcListView::LoggingView);
    EXPECT_TRUE(all.options->quiet);

    // systemd's %f makes a path of the instance: "/COM1" is the port COM1
    // when nothing of that name is on disk; a real path stays a path.
    struct Word {
        const char* word;
        const char* port;
    };
    const Word words[] = {{"/COM1", "COM1"}, {"/dev/ttyUSB0", "/dev/ttyUSB0"}, {"/tmp", "/tmp"},
                          {"/ABCDEFGHIJKLMNO", "/ABCDEFGHIJKLMNO"}, {"COM2", "COM2"}};
    for (const Word& w : words) {
        SCOPED_TRACE(w.word);
        EXPECT_EQ(PortFromWord(w.word), w.port);
    }
    const ParsedArgs service = ParseLogArgs({"/COM7", "--quiet", "--rotate-size", "256M", "--min-free", "1G",
                                             "--rotate-time", "1.5h", "--keep", "50", "--leave-logging"});
    ASSERT_TRUE(service.options) << service.message;
    EXPECT_EQ(service.options->port, "COM7");
    EXPECT_EQ(service.options->rotateSize, 256ull << 20);
    EXPECT_EQ(service.options->minFree, 1ull << 30);
    EXPECT_DOUBLE_EQ(service.options->rotateSeconds, 5400.0);
    EXPECT_EQ(service.options->keep, 50u);
    EXPECT_TRUE(service.options->leaveLogging);
}

// The form is checked here; what Linux cannot express is the port's refusal
// at open (4 data bits, 1.5 stop bits with 8), as in the window.
TEST(OrvaneLogArgs, SettingsFieldsMapToTheRecord)
{
    struct Case {
        const char* text;
        std::uint32_t baud;
        std::uint8_t bits, parity, stop;
    };
    const Case cases[] = {
        {"230400", 230400, 8, NOPARITY, ONESTOPBIT},
        {"9600,8,N,1", 9600, 8, NOPARITY, ONESTOPBIT},
        {"9600,7,O,1", 9600, 7, ODDPARITY, ONESTOPBIT},
        {"9600,8,M,2", 9600, 8, MARKPARITY, TWOSTOPBITS},
        {"9600,5,s,1.5", 9600, 5, SPACEPARITY, ONE5STOPBITS},
        {"9600,4,N,1.5", 9600, 4, NOPARITY, ONE5STOPBITS},
        {"0,8,N,1", 0, 8, NOPARITY, ONESTOPBIT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        DCB dcb = DefaultDcb();
        EXPECT_EQ(ApplySettings(c.text, dcb), "");
        EXPECT_EQ(dcb.BaudRate, c.baud);
        EXPECT_EQ(dcb.ByteSize, c.bits);
        EXPECT_EQ(dcb.Parity, c.parity);
        EXPECT_EQ(dcb.StopBits, c.stop);
    }
    DCB untouched = DefaultDcb();
    EXPECT_NE(ApplySettings("9600,8,N,9", untouched), "");
    EXPECT_EQ(untouched.BaudRate, 115200u);   // a refused text changes nothing
}

TEST(OrvaneLogStatus, FiguresReadAsUnitsAtTheirEdges)
{
    struct Case {
        std::uint64_t bytes;
        const char* text;
    };
    const Case sizes[] = {{0, "0 B"}, {1023, "1023 B"}, {1024, "1.00 KiB"}, {10 * 1024 - 1, "10.0 KiB"},
                          {1048575, "1.00 MiB"}, {1023 * 1024, "1023.0 KiB"}, {1048576, "1.00 MiB"}, {5ull << 30, "5.00 GiB"},
                          {3ull << 50, "3072.0 TiB"}};
    for (const Case& c : sizes) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(FormatBytes(c.bytes), c.text);
    }
    struct Time {
        double seconds;
        const char* text;
    };
    const Time times[] = {{0, "00:00"}, {59.99, "00:59"}, {61, "01:01"}, {3599, "59:59"}, {3600, "1:00:00"},
                          {100 * 3600 + 62, "100:01:02"}, {-3, "00:00"}};
    for (const Time& t : times) {
        SCOPED_TRACE(t.seconds);
        EXPECT_EQ(FormatElapsed(t.seconds), t.text);
    }
}

TEST(OrvaneLogStatus, SummaryNamesEveryCaptureAndTheTopCodes)
{
    SummaryFigures f;
    f.elapsedSeconds = 75;
    f.captures = {"/tmp/a.bin", "/tmp/b.bin"};
    f.bytes = 4096;
    f.keptBytes = 4096;
    f.frames = 40;
    f.badFrames = 2;
    f.logCodes = 3;
    f.topCodes = {{0xB0C0, 1659}, {0x412F, 15}, {0x0001, 5}};
    // Each code with its name from the decoder's table, where it has one.
    EXPECT_EQ(FormatSummary(f), "orvane-log: stopped after 01:15\n"
                                "  capture: /tmp/a.bin\n"
                                "  capture: /tmp/b.bin\n"
                                "  bytes: 4096  frames: 40  bad frames: 2  distinct log codes: 3\n"
                                "  top log codes:\n"
                                "    0xB0C0 LTE RRC OTA 1,659\n"
                                "    0x412F WCDMA RRC Signaling Messages 15\n"
                                "    0x0001 5\n");
    f.topCodes.clear();
    f.decoded = DecodeCounts{1234567, 12, 0};
    EXPECT_NE(FormatSummary(f).find("  decoded records: 1,234,567  debug messages: 12  malformed: 0\n"),
              std::string::npos);
    // After a failed write the captures keep less than was received: both are told.
    f.keptBytes = 1000;
    EXPECT_NE(FormatSummary(f).find("  bytes: 4096 received, 1000 kept  frames: 40"), std::string::npos);
    // A rotating run of days names its first and last capture, not thousands.
    f.captures.clear();
    for (int i = 0; i < 11; ++i)
        f.captures.push_back("/c/" + std::to_string(i) + ".bin");
    EXPECT_NE(FormatSummary(f).find("\n  captures: 11, from /c/0.bin to /c/10.bin\n"), std::string::npos)
        << FormatSummary(f);
}

TEST(OrvaneLogStatus, CountsAreGroupedAndTheTopCodesAreTheMostFrequent)
{
    const std::pair<std::uint64_t, const char*> counts[] = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {1659, "1,659"}, {1000000, "1,000,000"},
        {18446744073709551615ull, "18,446,744,073,709,551,615"}};
    for (const auto& [count, text] : counts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(FormatCount(count), text);
    }
    std::map<std::uint16_t, std::uint64_t> codes;
    for (std::uint16_t code = 1; code <= 12; ++code)
        codes[code] = code % 3;   // ties keep the lower code first
    const auto top = TopLogCodes(codes);
    ASSERT_EQ(top.size(), kTopLogCodes);
    EXPECT_EQ(top[0], (std::pair<std::uint16_t, std::uint64_t>{2, 2}));
    EXPECT_EQ(top[1], (std::pair<std::uint16_t, std::uint64_t>{5, 2}));
    EXPECT_EQ(top[4], (std::pair<std::uint16_t, std::uint64_t>{1, 1}));
}

}  // namespace
