// orvane-log's GSMTAP options and its --read conversion.
#include "support/TsharkCheck.h"
#include "support/SampleData.h"
#include "tools/orvanelog/Options.h"
#include "tools/orvanelog/PcapOutput.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

TEST(OrvaneLogGsmtap, OptionsAndTheirRefusals)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* says;          // nullptr: accepted
        const char* port;          // what stays the port
        const char* host;
        std::uint16_t gsmtapPort;
    };
    const Case cases[] = {
        {"gsmtap default", {"COM1", "--gsmtap"}, nullptr, "COM1", "127.0.0.1", 4729},
        {"gsmtap before the port", {"--gsmtap", "COM1"}, nullptr, "COM1", "127.0.0.1", 4729},
        {"gsmtap host", {"COM1", "--gsmtap", "10.0.0.5"}, nullptr, "COM1", "10.0.0.5", 4729},
        {"gsmtap host and port", {"--gsmtap", "lab.example:5000", "COM1"}, nullptr, "COM1", "lab.example", 5000},
        {"gsmtap=", {"COM1", "--gsmtap=localhost:4800"}, nullptr, "COM1", "localhost", 4800},
        {"gsmtap bad port", {"COM1", "--gsmtap", "host:0"}, "--gsmtap: port \"0\"", "", "", 0},
        {"gsmtap twice", {"COM1", "--gsmtap", "--gsmtap"}, "--gsmtap given twice", "", "", 0},
        {"pcap", {"COM1", "--pcap", "x.pcap"}, nullptr, "COM1", "127.0.0.1", 4729},
        {"pcap without file", {"COM1", "--pcap"}, "--pcap needs a file name", "", "", 0},
        {"pcap twice", {"COM1", "--pcap", "a", "--pcap", "b"}, "--pcap given twice", "", "", 0},
        {"read", {"--read", "c.bin", "--pcap", "x.pcap"}, nullptr, "", "127.0.0.1", 4729},
        {"read without pcap", {"--read", "c.bin"}, "--read needs --pcap OUT", "", "", 0},
        {"read and a port", {"COM1", "--read", "c.bin", "--pcap", "x"}, "without a port", "", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ParsedArgs parsed = ParseLogArgs(c.args);
        if (!c.says) {
            ASSERT_TRUE(parsed.options) << parsed.message;
            EXPECT_EQ(parsed.options->port, c.port);
            EXPECT_EQ(parsed.options->gsmtapHost, c.host);
            EXPECT_EQ(parsed.options->gsmtapPort, c.gsmtapPort);
            continue;
        }
        EXPECT_FALSE(parsed.options);
        EXPECT_EQ(parsed.status, kExitUsage);
        EXPECT_NE(parsed.message.find(c.says), std::string::npos) << parsed.message;
    }
}

std::string ReadAll(std::FILE* file)
{
    std::rewind(file);
    std::string text;
    for (int ch; (ch = std::fgetc(file)) != EOF;)
        text += static_cast<char>(ch);
    return text;
}

TEST(OrvaneLogGsmtap, ReadConvertsTheSampleCapture)
{
    const std::optional<std::string> sample = SampleFile("qmdl/deadsim.qmdl");
    if (!sample)
        GTEST_SKIP() << SampleMissing("qmdl/deadsim.qmdl");
    LogOptions options;
    options.readPath = *sample;
    options.pcapPath = (std::filesystem::temp_directory_path() / "orvane-log-read.pcap").string();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_EQ(RunReadToPcap(options, out, err), kExitClean);
    EXPECT_NE(ReadAll(out).find("99 messages sent as GSMTAP, 0 records skipped"), std::string::npos);
    EXPECT_EQ(ReadAll(err), "");
    if (TsharkInstalled()) {
        const TsharkReading reading = ReadWithTshark(options.pcapPath);
        EXPECT_EQ(reading.frames.size(), 99u);
        EXPECT_TRUE(reading.errors.empty()) << reading.errors.front();
    }
    std::filesystem::remove(options.pcapPath);

    options.readPath = "/nonexistent/capture.bin";
    EXPECT_EQ(RunReadToPcap(options, out, err), kExitCapture);
    EXPECT_NE(ReadAll(err).find("/nonexistent/capture.bin: open: "), std::string::npos);
    std::fclose(out);
    std::fclose(err);
}

}  // namespace
