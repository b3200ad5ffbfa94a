// SPDX-License-Identifier: GPL-2.0-or-later
// HDLC bytes to records in any chunking, and capture files read from disk:
// the real .qmdl samples when present, and files that are refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "decode/DiagDecoder.h"
#include "decode/RecordText.h"
#include "dm/HdlcFramer.h"
#include "support/SampleData.h"
#include "tests/decode/DecodeTestUtil.h"

namespace {

using decode::DecodedRecord;
using decode::RecordKind;
using decodetest::Bytes;

// A stream of every kind, with 0x7E and 0x7D inside records, and one frame with a wrong FCS.
Bytes Stream()
{
    Bytes wire;
    const auto add = [&wire](const Bytes& packet) {
        const Bytes frame = HdlcFramePacket(packet);
        wire.insert(wire.end(), frame.begin(), frame.end());
    };
    add(decodetest::LogRecord(0xB0C0, 0x7E7D, {0x7E, 0x7D, 0x5E}));
    Bytes message = decodetest::MessageHeader(0x79, 1, 0x7E, 0x7D, 7, 2);
    decodetest::Le(message, 0x7E, 4);
    decodetest::Text(message, "n=%d");
    decodetest::Text(message, "a.c");
    add(message);
    Bytes bad = HdlcFramePacket(decodetest::LogRecord(0xB0C0, 1, {}));
    bad[2] ^= 0x01;
    wire.insert(wire.end(), bad.begin(), bad.end());
    add({0x60, 0, 0});
    add(decodetest::LogRecord(0x412F, 2, {1}));
    return wire;
}

std::vector<std::string> Lines(const std::vector<DecodedRecord>& records)
{
    std::vector<std::string> lines;
    for (const DecodedRecord& r : records)
        lines.push_back(decode::FormatRecordLine(r));
    return lines;
}

TEST(RecordStream, TheSameRecordsInAnyChunking)
{
    const Bytes wire = Stream();
    decode::CRecordStream whole;
    std::vector<DecodedRecord> expected;
    whole.Push(wire, expected);
    ASSERT_EQ(expected.size(), 4u);
    EXPECT_EQ(expected[0].text.rfind("3 bytes", 0), 0u) << expected[0].text;   // the length first
    EXPECT_EQ(expected[1].text, "n=126");
    EXPECT_EQ(expected[2].kind, RecordKind::Reply);
    EXPECT_EQ(expected[3].name, "WCDMA RRC Signaling Messages");
    EXPECT_EQ(whole.GoodFrames(), 4u);
    EXPECT_EQ(whole.BadFrames(), 1u);
    EXPECT_EQ(whole.Records(), 4u);

    for (const std::size_t step : {1u, 2u, 3u, 7u, 64u}) {
        SCOPED_TRACE(step);
        decode::CRecordStream stream;
        std::vector<DecodedRecord> got;
        for (std::size_t at = 0; at < wire.size(); at += step)
            stream.Push(std::span(wire).subspan(at, std::min(step, wire.size() - at)), got);
        EXPECT_EQ(Lines(got), Lines(expected));
    }

    // The packet handler sees each good frame and the records made of it.
    decode::CRecordStream handed;
    std::vector<std::size_t> perPacket;
    handed.Push(wire, [&](std::span<const std::uint8_t> packet, std::span<const DecodedRecord> records) {
        EXPECT_FALSE(packet.empty());
        perPacket.push_back(records.size());
    });
    EXPECT_EQ(perPacket, (std::vector<std::size_t>{1, 1, 1, 1}));
}

TEST(RecordStream, ResetDropsAFrameCutInTwo)
{
    const Bytes frame = HdlcFramePacket(decodetest::LogRecord(0xB0C0, 1, {}));
    decode::CRecordStream stream;
    std::vector<DecodedRecord> got;
    stream.Push(std::span(frame).first(5), got);
    stream.Reset();
    stream.Push(frame, got);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].code, 0xB0C0u);
}

class CaptureFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("orvane-decode-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string Write(const char* name, const Bytes& bytes)
    {
        const auto path = m_dir / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path.string();
    }

    std::filesystem::path m_dir;
};

TEST_F(CaptureFiles, BadFilesAreRefusedWithTheirReason)
{
    struct Case {
        const char* name;
        std::string path;
        const char* reason;   // nullptr: read
    };
    const Case cases[] = {
        {"absent", (m_dir / "absent.bin").string(), "No such file"},
        {"a directory", m_dir.string(), "not a regular file"},
        {"no frame in it", Write("noise.bin", Bytes(100, 0x41)), "no DIAG frame in its 100 bytes"},
        {"empty: read, nothing in it", Write("empty.bin", {}), nullptr},
        {"a capture", Write("good.bin", Stream()), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        decode::CRecordStream stream;
        std::string error;
        std::uint64_t bytes = 0;
        decode::CaptureSinks sinks;
        sinks.onBytes = [&](std::span<const std::uint8_t> chunk) { bytes += chunk.size(); };
        const bool ok = decode::DecodeCaptureFile(c.path, stream, sinks, &error);
        EXPECT_EQ(ok, c.reason == nullptr) << error;
        if (c.reason) {
            EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        }
    }
}

TEST(CaptureSamples, DeadSimHoldsNinetyNineNamedRecords)
{
    const std::optional<std::string> path = SampleFile("qmdl/deadsim.qmdl");
    if (!path)
        GTEST_SKIP() << SampleMissing("qmdl/deadsim.qmdl");
    decode::CRecordStream stream;
    std::vector<DecodedRecord> records;
    decode::CaptureSinks sinks;
    sinks.onPacket = [&](std::span<const std::uint8_t>, std::span<const DecodedRecord> got) {
        records.insert(records.end(), got.begin(), got.end());
    };
    std::string error;
    ASSERT_TRUE(decode::DecodeCaptureFile(*path, stream, sinks, &error)) << error;
    ASSERT_EQ(records.size(), 99u);
    EXPECT_EQ(stream.GoodFrames(), 99u);
    EXPECT_EQ(stream.BadFrames(), 0u);
    for (const DecodedRecord& r : records) {
        SCOPED_TRACE(decode::FormatRecordLine(r));
        EXPECT_EQ(r.kind, RecordKind::Log);
        EXPECT_TRUE(r.name == "LTE RRC OTA" || r.name == "LTE NAS EMM Plain Incoming"
                    || r.name == "LTE NAS EMM Plain Outgoing");
        EXPECT_TRUE(r.timestamp);
    }
}

}  // namespace
