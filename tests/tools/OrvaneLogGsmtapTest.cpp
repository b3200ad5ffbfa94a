// SPDX-License-Identifier: GPL-2.0-or-later
// orvane-log's GSMTAP options and its --read conversion.
#include "OrvaneLogProcess.h"
#include "support/TsharkCheck.h"
#include "support/Pty.h"
#include "support/UdpListener.h"
#include "ui/LogClientFarEnd.h"
#include "support/DmFrames.h"
#include "support/SampleData.h"
#include "support/SignallingRecords.h"
#include "tools/orvanelog/Options.h"
#include "tools/orvanelog/PcapOutput.h"

#include <gtest/gtest.h>
#include <array>
#include <csignal>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
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
        {"read and gsmtap", {"--read", "c.bin", "--gsmtap", "10.0.0.9:5000"}, nullptr, "", "10.0.0.9", 5000},
        {"read and a port", {"COM1", "--read", "c.bin", "--pcap", "x"}, "without a port", "", "", 0},
        {"gsmtap-v3 with pcap", {"COM1", "--pcap", "x.pcap", "--gsmtap-v3"}, nullptr, "COM1", "127.0.0.1", 4729},
        {"gsmtap-v3 on a read", {"--gsmtap-v3", "--read", "c.bin", "--gsmtap"}, nullptr, "", "127.0.0.1", 4729},
        {"gsmtap-v3 alone", {"COM1", "--gsmtap-v3"}, "--gsmtap-v3 goes with --pcap or --gsmtap", "", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ParsedArgs parsed = ParseLogArgs(c.args);
        if (!c.says) {
            ASSERT_TRUE(parsed.options) << parsed.message;
            EXPECT_EQ(parsed.options->port, c.port);
            EXPECT_EQ(parsed.options->gsmtapHost, c.host);
            EXPECT_EQ(parsed.options->gsmtapPort, c.gsmtapPort);
            EXPECT_EQ(parsed.options->gsmtapV3,
                      std::find(c.args.begin(), c.args.end(), "--gsmtap-v3") != c.args.end());
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
    ASSERT_EQ(RunRead(options, out, err), kExitClean);
    EXPECT_NE(ReadAll(out).find("99 messages sent as GSMTAP, 0 records skipped"), std::string::npos);
    EXPECT_EQ(ReadAll(err), "");
    if (TsharkInstalled()) {
        const TsharkReading reading = ReadWithTshark(options.pcapPath);
        EXPECT_EQ(reading.frames.size(), 99u);
        EXPECT_TRUE(reading.errors.empty()) << reading.errors.front();
    }
    std::filesystem::remove(options.pcapPath);

    options.readPath = "/nonexistent/capture.bin";
    EXPECT_EQ(RunRead(options, out, err), kExitFile);
    EXPECT_NE(ReadAll(err).find("/nonexistent/capture.bin"), std::string::npos);
    std::fclose(out);
    std::fclose(err);
}

// NR RRC goes into the pcap only with --gsmtap-v3; without it the summary
// says what was left out and how to have it.
TEST(OrvaneLogGsmtap, ReadSendsNrRrcAsVersion3OnlyWhenAsked)
{
    using namespace signalling_records;
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::string capture = (dir / "orvane-log-nr.bin").string();
    {
        std::ofstream file(capture, std::ios::binary);
        for (const Bytes& frame : {ReferenceFrame(LogRecord(0xB821, NrRrcPayload(17, 7, 632628, 1, {0x04, 0x6A, 0x98}))),
                                   ReferenceFrame(LogRecord(0xB0EC, LteNasPayload({0x07, 0x55, 0x01})))})
            file.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
    struct Case { bool v3; const char* says; };
    const Case cases[] = {
        {false, "1 message sent as GSMTAP, 1 record skipped (0xB821 1)\n"
                "  GSMTAP: 1 NR RRC message skipped: GSMTAP version 2 has no NR RRC; --gsmtap-v3 sends them as version 3\n"},
        {true, "2 messages sent as GSMTAP, 0 records skipped\n  pcap: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.v3);
        LogOptions options;
        options.readPath = capture;
        options.pcapPath = (dir / "orvane-log-nr.pcap").string();
        options.gsmtapV3 = c.v3;
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        ASSERT_EQ(RunRead(options, out, err), kExitClean);
        const std::string summary = ReadAll(out);
        EXPECT_NE(summary.find(c.says), std::string::npos) << summary;
        const std::string whole = "  bytes: " + std::to_string(std::filesystem::file_size(capture)) + "  frames: 2";
        EXPECT_NE(summary.find(whole), std::string::npos) << "read whole, nothing lost: " << summary;
        std::fclose(out);
        std::fclose(err);
        std::filesystem::remove(options.pcapPath);
    }
    std::filesystem::remove(capture);
}

// The records a pcap file holds when every one is whole; -1 when the file
// ends inside a record or its header.
long WholeRecords(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), {}};
    if (file.size() < 24)
        return -1;
    long records = 0;
    std::size_t at = 24;
    while (at < file.size()) {
        if (file.size() - at < 16)
            return -1;
        const std::size_t length = file[at + 8] | file[at + 9] << 8 | file[at + 10] << 16
                                   | static_cast<std::size_t>(file[at + 11]) << 24;
        if (file.size() - at - 16 < length)
            return -1;
        at += 16 + length;
        ++records;
    }
    return records;
}

// As records arrive in pieces, the pcap holds the whole ones after every
// chunk; a rotation starts a new file; the summary says what went where.
TEST(OrvaneLogGsmtap, LivePcapHoldsWholeRecordsAfterEveryChunkAndRotates)
{
    using signalling_records::LogRecord;
    using signalling_records::LteNasPayload;
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    LogOptions options;
    options.pcapPath = (dir / "orvane-log-live-1.pcap").string();
    CGsmtapOutput output;
    std::string error;
    ASSERT_TRUE(output.Start(options, &error)) << error;
    ASSERT_TRUE(output.Active());
    EXPECT_EQ(WholeRecords(options.pcapPath), 0);

    const Bytes frame = ReferenceFrame(LogRecord(0xB0EC, LteNasPayload({0x07, 0x55, 0x01})));
    Bytes stream;
    for (int i = 0; i < 4; ++i)
        stream.insert(stream.end(), frame.begin(), frame.end());
    const Bytes other = ReferenceFrame(LogRecord(0xB193, {1, 2, 3}));
    stream.insert(stream.end(), other.begin(), other.end());
    const std::size_t frameSize = frame.size();
    long seen = 0;
    for (std::size_t at = 0; at < stream.size(); at += 7) {
        output.OnChunk(std::span(stream).subspan(at, std::min<std::size_t>(7, stream.size() - at)));
        const long now = WholeRecords(options.pcapPath);
        ASSERT_GE(now, seen) << "at byte " << at;
        EXPECT_EQ(now, static_cast<long>(std::min<std::size_t>((at + 7) / frameSize, 4)));
        seen = now;
    }
    const std::string second = (dir / "orvane-log-live-2.pcap").string();
    ASSERT_TRUE(output.Rotate(second, &error)) << error;
    output.OnChunk(std::span(stream).first(frameSize));
    output.Stop();
    EXPECT_EQ(WholeRecords(options.pcapPath), 4);
    EXPECT_EQ(WholeRecords(second), 1);
    EXPECT_EQ(output.Summary(), "  GSMTAP: 5 messages sent as GSMTAP, 1 record skipped (0xB193 1)\n  pcap: "
                                    + options.pcapPath + "\n  pcap: " + second + "\n");
    std::filesystem::remove(options.pcapPath);
    std::filesystem::remove(second);

    CGsmtapOutput refused;
    options.pcapPath = "/nonexistent/x.pcap";
    EXPECT_FALSE(refused.Start(options, &error));
    EXPECT_EQ(error.rfind("/nonexistent/x.pcap: open: ", 0), 0u) << error;
    EXPECT_EQ(CGsmtapOutput().Summary(), "");
}

// On a thread of its own the output keeps the order of what the reader
// handed over (bytes, a capture's end, a rotation), converts what is queued
// before it stops, and a chunk beyond its queue is counted, not converted,
// with the frame it tore not joined to what follows.
TEST(OrvaneLogGsmtap, OnItsOwnThreadTheOutputKeepsOrderAndCountsWhatItCouldNotTake)
{
    using signalling_records::LogRecord;
    using signalling_records::LteNasPayload;
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const Bytes frame = ReferenceFrame(LogRecord(0xB0EC, LteNasPayload({0x07, 0x55, 0x01})));
    Bytes big;
    for (int i = 0; i < 8; ++i)
        big.insert(big.end(), frame.begin(), frame.end());
    LogOptions options;
    options.pcapPath = (dir / "orvane-log-thread-1.pcap").string();
    const std::string second = (dir / "orvane-log-thread-2.pcap").string();
    CGsmtapOutput output(4 * frame.size());   // room for four frames' bytes at a time
    std::string error;
    ASSERT_TRUE(output.Start(options, &error, CGsmtapOutput::Feeding::OwnThread)) << error;

    output.OnChunk(std::span(frame).first(frame.size() / 2));   // a frame's head...
    output.OnChunk(big);                                         // ...too much to queue: not taken
    output.OnChunk(std::span(frame).subspan(frame.size() / 2));  // the tail is not joined to the head
    output.OnChunk(frame);
    output.OnCaptureClosed();
    ASSERT_TRUE(output.Rotate(second, &error)) << error;
    output.OnChunk(frame);
    output.OnChunk(frame);
    output.Stop();

    EXPECT_EQ(output.SkippedBytes(), big.size());
    EXPECT_EQ(WholeRecords(options.pcapPath), 1);
    EXPECT_EQ(WholeRecords(second), 2);
    const std::string summary = output.Summary();
    EXPECT_NE(summary.find("  GSMTAP: 3 messages sent as GSMTAP"), std::string::npos) << summary;
    EXPECT_NE(summary.find("  GSMTAP: " + std::to_string(big.size()) + " bytes not converted"), std::string::npos)
        << summary;
    std::filesystem::remove(options.pcapPath);
    std::filesystem::remove(second);
}

// The program itself on a port: the modem's signalling goes into the pcap
// and out as datagrams while the capture runs, and at a stop everything
// queued for them has gone out before the summary counts it.
TEST(OrvaneLogGsmtap, ALiveRunWritesThePcapAndSendsEveryMessage)
{
    using namespace orvanelog_test;
    using signalling_records::LogRecord;
    using signalling_records::LteNasPayload;
    PtyPair pty;
    PortDir ports;
    ports.Link("COM1", pty.SlavePath());
    TempDir dir;
    const UdpListener listener;
    ASSERT_NE(listener.Port(), 0);

    logclient_test::FarEnd far(pty);
    const std::string pcap = dir.Path() + "/live.pcap";
    LogProcess run({"COM1", "--dir", dir.Path(), "--pcap", pcap, "--gsmtap",
                    "127.0.0.1:" + std::to_string(listener.Port())});
    ASSERT_TRUE(childproc::WaitFor([&] { return far.Size() > 0; }, 20s)) << run.Err();
    constexpr int kMessages = 300;
    Bytes stream;
    for (int i = 0; i < kMessages; ++i) {
        const Bytes frame = ReferenceFrame(LogRecord(0xB0EC, LteNasPayload({0x07, 0x55, static_cast<std::uint8_t>(i)})));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    pty.Send(stream);
    auto captured = [&] {
        for (const std::string& name : dir.Files())
            if (name.ends_with(".bin"))
                return std::filesystem::file_size(dir.Path() + "/" + name);
        return std::uintmax_t{0};
    };
    ASSERT_TRUE(childproc::WaitFor([&] { return captured() >= stream.size(); }, 20s)) << run.Err();
    EXPECT_EQ(run.Stop(SIGTERM), kExitClean) << run.Err();

    EXPECT_EQ(WholeRecords(pcap), kMessages);
    EXPECT_NE(run.Out().find("  GSMTAP: 300 messages sent as GSMTAP, 0 records skipped\n"), std::string::npos)
        << run.Out();
    EXPECT_NE(run.Out().find(": 300 datagrams\n"), std::string::npos) << run.Out();
    EXPECT_EQ(listener.Drain(), kMessages);
}

}  // namespace
