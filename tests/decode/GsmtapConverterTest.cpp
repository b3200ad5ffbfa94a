// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/TsharkCheck.h"
#include "decode/GsmtapConverter.h"
#include "support/DmFrames.h"
#include "support/SampleData.h"
#include "support/SignallingRecords.h"

namespace {

using signalling_records::LogRecord;
using signalling_records::LteNasPayload;
using signalling_records::LteRrcFields;
using signalling_records::LteRrcPayload;
using signalling_records::NrRrcPayload;

struct Collected {
    std::vector<Bytes> messages;
    std::vector<std::uint64_t> timestamps;
    decode::CGsmtapConverter converter{[this](std::span<const std::uint8_t> m, std::uint64_t t) {
        messages.emplace_back(m.begin(), m.end());
        timestamps.push_back(t);
    }};
};

Bytes LteRrc(std::uint8_t channel, Bytes pdu, std::uint8_t version = 20, std::uint8_t segment = 0)
{
    LteRrcFields f;
    f.version = version;
    f.channel = channel;
    f.segment = segment;
    f.pdu = std::move(pdu);
    return LteRrcPayload(f);
}

// Every log record is a message of its own, a held part or a skipped record.
void ExpectNoneLost(const decode::GsmtapCounts& c)
{
    EXPECT_EQ(c.logRecords, c.sent - c.debugMessages + c.held + c.skippedRecords);
    std::uint64_t byCode = 0;
    for (const auto& [code, n] : c.skippedByCode)
        byCode += n;
    EXPECT_EQ(byCode, c.skippedRecords);
}

// A stream of every outcome, framed as the modem frames it.
Bytes MixedStream()
{
    Bytes stream;
    auto add = [&](const Bytes& packet) {
        const Bytes frame = ReferenceFrame(packet);
        stream.insert(stream.end(), frame.begin(), frame.end());
    };
    add(LogRecord(0xB0C0, LteRrc(7, {0x28, 0x02}), 0x1111));          // sent
    add(LogRecord(0xB0EC, LteNasPayload({0x07, 0x55, 0x01}), 0x2222)); // sent
    add(LogRecord(0xB0C0, Bytes(30, 21)));                             // unknown version
    add(LogRecord(0xB0C0, LteRrc(3, {0x00})));                         // unknown channel in version 20
    add(LogRecord(0xB0E2, {1, 9}));                                    // malformed
    add(LogRecord(0xB821, NrRrcPayload(17, 1, 1, 4, {0x00})));         // no GSMTAP v2 form
    add(LogRecord(0xB193, {1, 2, 3, 4}));                              // not signalling
    add({0x60, 0x04, 0x00, 0x01, 0x02, 0x03, 0x04});                   // an event report
    Bytes wrapped{0x98, 0, 0, 0, 1, 0, 0, 0};                          // multi-SIM, radio 1: GSM RR, sent
    const Bytes inner = LogRecord(0x512F, {0x81, 0x1B, 0x00});
    wrapped.insert(wrapped.end(), inner.begin(), inner.end());
    add(wrapped);
    stream.insert(stream.end(), {0x01, 0x02, 0x03, 0x04, 0x7E});       // a bad FCS
    return stream;
}

TEST(GsmtapConverter, EveryRecordIsSentOrCountedUnderItsCodeInAnyChunking)
{
    const Bytes stream = MixedStream();
    Collected whole;
    whole.converter.Feed(stream);
    whole.converter.Finish();
    const decode::GsmtapCounts& c = whole.converter.Counts();
    EXPECT_EQ(c.sent, 3u);
    EXPECT_EQ(c.logRecords, 8u);
    EXPECT_EQ(c.skippedRecords, 5u);
    EXPECT_EQ(c.unknownVersion, 1u);
    EXPECT_EQ(c.unknownChannel, 1u);
    EXPECT_EQ(c.malformed, 1u);
    EXPECT_EQ(c.noGsmtapForm, 1u);
    EXPECT_EQ(c.otherPackets, 1u);
    EXPECT_EQ(c.badFrames, 1u);
    EXPECT_EQ(c.skippedByCode.at(0xB0C0), 2u);
    EXPECT_EQ(c.skippedByCode.at(0xB0E2), 1u);
    EXPECT_EQ(c.skippedByCode.at(0xB821), 1u);
    EXPECT_EQ(c.skippedByCode.at(0xB193), 1u);
    ExpectNoneLost(c);
    ASSERT_EQ(whole.messages.size(), 3u);
    EXPECT_EQ(whole.messages[0][2], 0x0D);   // LTE RRC
    EXPECT_EQ(whole.messages[1][2], 0x12);   // LTE NAS
    EXPECT_EQ(whole.messages[2][2], 0x01);   // GSM Um
    EXPECT_EQ(whole.timestamps[0], 0x1111u);
    EXPECT_EQ(whole.timestamps[1], 0x2222u);

    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{17}}) {
        SCOPED_TRACE(chunk);
        Collected parts;
        for (std::size_t at = 0; at < stream.size(); at += chunk)
            parts.converter.Feed(std::span(stream).subspan(at, std::min(chunk, stream.size() - at)));
        EXPECT_EQ(parts.messages, whole.messages);
        EXPECT_EQ(parts.converter.Counts().skippedByCode, c.skippedByCode);
    }
}

// NR RRC goes out as GSMTAP version 3 only when asked; otherwise it is
// counted as skipped, and as wanting version 3. A segmented one (version
// 23 on) goes out whole, its parts as one message.
TEST(GsmtapConverter, NrRrcGoesOutAsVersion3OnlyWhenAsked)
{
    struct Case { const char* name; bool v3; std::size_t sent, skipped, withoutV3; };
    const Case cases[] = {
        {"version 2 only: counted as skipped", false, 0, 3, 3},
        {"version 3 asked for", true, 2, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Collected out;
        out.converter.SetNrRrcAsGsmtapV3(c.v3);
        out.converter.OnPacket(LogRecord(0xB821, NrRrcPayload(17, 7, 632628, 4, {0x22, 0x00}), 0x10000));
        out.converter.OnPacket(LogRecord(0xB821, NrRrcPayload(23, 7, 632628, 9, {0x01}, 1)));
        out.converter.OnPacket(LogRecord(0xB821, NrRrcPayload(23, 7, 632628, 9, {0x02}, 7)));
        out.converter.Finish();
        const decode::GsmtapCounts& counts = out.converter.Counts();
        EXPECT_EQ(counts.sent, c.sent);
        EXPECT_EQ(counts.skippedRecords, c.skipped);
        EXPECT_EQ(counts.nrRrcWithoutV3, c.withoutV3);
        ExpectNoneLost(counts);
        if (c.sent == 0)
            continue;
        ASSERT_EQ(out.messages.size(), 2u);
        const std::size_t header = decode::gsmtap::kV3NrRrcHeaderLength;
        EXPECT_EQ(out.messages[0][0], 3);
        EXPECT_EQ(out.messages[0][7], 0x04);   // DL-DCCH
        EXPECT_EQ(Bytes(out.messages[0].begin() + header, out.messages[0].end()), (Bytes{0x22, 0x00}));
        EXPECT_EQ(out.messages[1][7], 0x09);   // UL-DCCH, its two parts as one
        EXPECT_EQ(Bytes(out.messages[1].begin() + header, out.messages[1].end()), (Bytes{0x01, 0x02}));
    }
}

TEST(GsmtapConverter, SegmentedMessageIsSentWholeAfterItsLastPart)
{
    struct Case { const char* name; std::vector<std::uint8_t> segments; std::size_t sent, skipped; Bytes pdu; };
    const Case cases[] = {
        {"whole", {0}, 1, 0, {0xA0}},
        {"three parts", {1, 2, 7}, 1, 0, {0xA1, 0xA2, 0xA7}},
        {"last part lost", {1, 2}, 0, 2, {}},
        {"first part lost", {2, 7}, 0, 2, {}},
        {"a new first part drops the old ones", {1, 2, 1, 7}, 1, 2, {0xA1, 0xA7}},
        {"segment number past 7", {1, 9}, 0, 2, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Collected out;
        for (std::uint8_t segment : c.segments)
            out.converter.OnPacket(LogRecord(0xB0C0, LteRrc(9, {static_cast<std::uint8_t>(0xA0 + segment)}, 30, segment)));
        out.converter.Finish();
        EXPECT_EQ(out.converter.Counts().sent, c.sent);
        EXPECT_EQ(out.converter.Counts().skippedRecords, c.skipped);
        EXPECT_EQ(out.converter.Counts().held, c.sent ? c.pdu.size() - 1 : 0);
        ExpectNoneLost(out.converter.Counts());
        if (c.sent) {
            ASSERT_EQ(out.messages.size(), 1u);
            EXPECT_EQ(Bytes(out.messages[0].begin() + 16, out.messages[0].end()), c.pdu);
        }
    }
}

TEST(GsmtapConverter, DebugMessagesGoAsLogLinesOnceAFormatterIsConnected)
{
    const Bytes message{0x79, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0x00, 0x94, 0x13, 0, 0, 0, 0, 'h', 'i', 0, 'f', 0};
    Collected out;
    out.converter.OnPacket(message);
    EXPECT_EQ(out.converter.Counts().otherPackets, 1u);
    EXPECT_TRUE(out.messages.empty());

    out.converter.SetMessageFormatter([](std::span<const std::uint8_t>) {
        return std::optional<decode::FormattedMessage>(decode::FormattedMessage{"hi", "f", 5012, 12, 800ull << 16});
    });
    out.converter.OnPacket(message);
    EXPECT_EQ(out.converter.Counts().debugMessages, 1u);
    ASSERT_EQ(out.messages.size(), 1u);
    EXPECT_EQ(out.messages[0][2], 0x10);   // osmocore log
    EXPECT_EQ(std::string(out.messages[0].end() - 2, out.messages[0].end()), "hi");
    ExpectNoneLost(out.converter.Counts());
}

TEST(GsmtapConverter, CountsInOneLine)
{
    decode::GsmtapCounts c;
    EXPECT_EQ(decode::DescribeGsmtapCounts(c), "0 messages sent as GSMTAP, 0 records skipped");
    c.sent = 1;
    c.skippedRecords = 7;
    c.skippedByCode = {{0xB193, 4}, {0x1234, 1}, {0xB0C0, 2}};
    EXPECT_EQ(decode::DescribeGsmtapCounts(c),
              "1 message sent as GSMTAP, 7 records skipped (0xB193 4, 0xB0C0 2, 0x1234 1)");
    EXPECT_EQ(decode::DescribeGsmtapCounts(c, 2),
              "1 message sent as GSMTAP, 7 records skipped (0xB193 4, 0xB0C0 2, ...)");
}

std::string TempPath(const char* name)
{
    return (std::filesystem::temp_directory_path() / (std::string("orvane-convert-") + name)).string();
}

TEST(ConvertCaptureToPcap, SaysWhichFileFailed)
{
    const decode::PcapConversion missing = decode::ConvertCaptureToPcap("/nonexistent/capture.bin", TempPath("x.pcap"));
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error.rfind("/nonexistent/capture.bin: open: ", 0), 0u) << missing.error;

    const std::string capture = TempPath("in.bin");
    std::ofstream(capture, std::ios::binary).write("x", 1);
    const decode::PcapConversion unwritable = decode::ConvertCaptureToPcap(capture, "/nonexistent/out.pcap");
    EXPECT_FALSE(unwritable.ok);
    EXPECT_EQ(unwritable.error.rfind("/nonexistent/out.pcap: open: ", 0), 0u) << unwritable.error;
    std::filesystem::remove(capture);
}

TEST(ConvertCaptureToPcap, MixedStreamReadsBackInTshark)
{
    const std::string capture = TempPath("mixed.bin");
    const std::string pcap = TempPath("mixed.pcap");
    const Bytes stream = MixedStream();
    std::ofstream(capture, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                                   static_cast<std::streamsize>(stream.size()));
    const decode::PcapConversion result = decode::ConvertCaptureToPcap(capture, pcap);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.bytesRead, stream.size());
    EXPECT_EQ(result.counts.sent, 3u);
    if (TsharkInstalled()) {
        const TsharkReading reading = ReadWithTshark(pcap);
        ASSERT_EQ(reading.frames.size(), 3u);
        EXPECT_NE(reading.frames[0].find("lte_rrc"), std::string::npos) << reading.frames[0];
        EXPECT_NE(reading.frames[1].find("nas-eps"), std::string::npos) << reading.frames[1];
        EXPECT_NE(reading.frames[2].find("gsmtap"), std::string::npos) << reading.frames[2];
    }
    std::filesystem::remove(capture);
    std::filesystem::remove(pcap);
}

// The public captures: every record a message or counted, and tshark finds
// LTE RRC and NAS with names and nothing malformed.
TEST(ConvertCaptureToPcap, SampleCapturesConvertWhole)
{
    for (const char* sample : {"qmdl/deadsim.qmdl", "qmdl/goodsim-small.qmdl"}) {
        SCOPED_TRACE(sample);
        const std::optional<std::string> path = SampleFile(sample);
        if (!path)
            GTEST_SKIP() << SampleMissing(sample);
        const std::string pcap = TempPath("sample.pcap");
        const decode::PcapConversion result = decode::ConvertCaptureToPcap(*path, pcap);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.bytesRead, std::filesystem::file_size(*path));
        EXPECT_GT(result.counts.sent, 0u);
        EXPECT_EQ(result.counts.badFrames, 0u);
        ExpectNoneLost(result.counts);
        if (!TsharkInstalled()) {
            std::filesystem::remove(pcap);
            GTEST_SKIP() << "tshark is not installed";
        }
        const TsharkReading reading = ReadWithTshark(pcap);
        EXPECT_EQ(reading.frames.size(), result.counts.sent);
        for (const std::string& frame : reading.frames)
            EXPECT_TRUE(frame.find("gsmtap:lte_rrc") != std::string::npos
                        || frame.find("gsmtap:nas-eps") != std::string::npos)
                << frame;
        EXPECT_TRUE(reading.errors.empty()) << reading.errors.front();
        std::filesystem::remove(pcap);
    }
}

}  // namespace
