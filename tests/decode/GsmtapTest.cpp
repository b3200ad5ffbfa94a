// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/TsharkCheck.h"
#include "decode/Gsmtap.h"
#include "decode/PcapWriter.h"
#include "decode/Signalling.h"
#include "support/SignallingRecords.h"

namespace {

using namespace signalling_records;
namespace gt = decode::gsmtap;

decode::LogRecordView View(std::uint16_t code, const Bytes& payload)
{
    return decode::LogRecordView{code, 0, payload};
}

Bytes GsmtapOf(std::uint16_t code, const Bytes& payload)
{
    decode::SignallingMessage m;
    EXPECT_EQ(decode::ReadSignalling(View(code, payload), m), decode::SignallingResult::Ok);
    Bytes out;
    EXPECT_TRUE(gt::AppendSignalling(m, out));
    return out;
}

Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// GSMTAP version 2 header: version 2, 4 words, type, timeslot 0, ARFCN (bit 14
// uplink) big-endian, signal 0, SNR 0, frame number big-endian, sub-type, 0, 0, 0.
TEST(Gsmtap, SignallingRecordsGiveTheseBytes)
{
    LteRrcFields dl;
    dl.version = 20;
    dl.pci = 0x0102;
    dl.earfcn = 2050;
    dl.sfnSubframe = (0x123 << 4) | 5;
    dl.channel = 7;   // DL-DCCH in version 20
    dl.pdu = {0x28, 0x02};
    LteRrcFields ul = dl;
    ul.version = 9;
    ul.channel = 14;  // UL-CCCH in version 9
    ul.pdu = {0x5A, 0xA3};
    LteRrcFields wide = dl;
    wide.earfcn = 66536;   // beyond 14 bits: ARFCN 0
    struct Case { const char* name; std::uint16_t code; Bytes payload; Bytes gsmtap; };
    const Case cases[] = {
        {"LTE RRC DL-DCCH", 0xB0C0, LteRrcPayload(dl),
         {2, 4, 0x0D, 0, 0x08, 0x02, 0, 0, 0, 0, 0x01, 0x23, 1, 0, 0, 0, 0x28, 0x02}},
        {"LTE RRC UL-CCCH, uplink flag", 0xB0C0, LteRrcPayload(ul),
         {2, 4, 0x0D, 0, 0x48, 0x02, 0, 0, 0, 0, 0x01, 0x23, 2, 0, 0, 0, 0x5A, 0xA3}},
        {"LTE RRC EARFCN past 14 bits", 0xB0C0, LteRrcPayload(wide),
         {2, 4, 0x0D, 0, 0x00, 0x00, 0, 0, 0, 0, 0x01, 0x23, 1, 0, 0, 0, 0x28, 0x02}},
        {"LTE NAS plain, uplink", 0xB0ED, LteNasPayload({0x07, 0x56}),
         {2, 4, 0x12, 0, 0x40, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x07, 0x56}},
        {"LTE NAS protected", 0xB0EA, LteNasPayload({0x27, 1, 2, 3, 4, 5}),
         {2, 4, 0x12, 0, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x27, 1, 2, 3, 4, 5}},
        {"WCDMA DL-DCCH with its cell", 0x412F, {0x83, 3, 1, 0, 0x2A, 0x29, 0x10, 0x00, 0x55},
         {2, 4, 0x0C, 0, 0x29, 0x2A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x55}},
        {"WCDMA SIB 3", 0x412F, {9, 0, 2, 0, 3, 0x12, 0x34},
         {2, 4, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 19, 0, 0, 0, 0x12, 0x34}},
        {"GSM BCCH, downlink", 0x512F, {0x81, 0x1B, 2, 0x06, 0x1B},
         {2, 4, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0x06, 0x1B}},
        {"GSM DCCH uplink: LAPDm address, UI, length 2", 0x512F, {0x00, 0x29, 2, 0x06, 0x29},
         {2, 4, 0x01, 0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0x08, 0, 0, 0, 0x01, 0x03, 0x09, 0x06, 0x29}},
        {"GSM SACCH: two octets of layer 1 first", 0x512F, {0x84, 0x15, 1, 0x06},
         {2, 4, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x88, 0, 0, 0, 0x00, 0x00, 0x01, 0x03, 0x05, 0x06}},
        {"UMTS NAS as DTAP", 0x713A, {1, 2, 0, 0, 0, 0x05, 0x08},
         {2, 4, 0x02, 0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x05, 0x08}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GsmtapOf(c.code, c.payload), c.gsmtap);
    }
}

TEST(Gsmtap, GsmDedicatedMessageLongerThanALapdmLengthHasNoForm)
{
    Bytes payload{0x00, 0x29, 64};
    payload.resize(3 + 64, 0x2B);
    decode::SignallingMessage m;
    ASSERT_EQ(decode::ReadSignalling(View(0x512F, payload), m), decode::SignallingResult::Ok);
    Bytes out{0xEE};
    EXPECT_FALSE(gt::AppendSignalling(m, out));
    EXPECT_EQ(out, Bytes{0xEE});   // untouched
}

TEST(Gsmtap, LogLineIsTheOsmocoreLoggingHeaderThenTheText)
{
    Bytes out;
    gt::AppendLogLine({1700000000ull * 1000000 + 250000, 5012, 0, "lte_rrc_csp.c", 1234, "cell 42 found"}, out);
    ASSERT_EQ(out.size(), gt::kHeaderLength + gt::kLogHeaderLength + 13);
    const Bytes header(out.begin(), out.begin() + 16);
    EXPECT_EQ(header, (Bytes{2, 4, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    const Bytes seconds(out.begin() + 16, out.begin() + 24);
    EXPECT_EQ(seconds, (Bytes{0x65, 0x53, 0xF1, 0x00, 0x00, 0x03, 0xD0, 0x90}));
    EXPECT_EQ(std::string(out.begin() + 24, out.begin() + 29), "modem");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[16 + 32])), "ssid 5012");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[16 + 48])), "lte_rrc_csp.c");
    const Bytes line(out.begin() + 16 + 80, out.begin() + 16 + 84);
    EXPECT_EQ(line, (Bytes{0, 0, 0x04, 0xD2}));
    EXPECT_EQ(std::string(out.end() - 13, out.end()), "cell 42 found");

    // A file name longer than its field is cut and keeps its NUL.
    Bytes longName;
    gt::AppendLogLine({0, 0, 0, std::string(40, 'f'), 0, ""}, longName);
    EXPECT_EQ(longName[16 + 48 + 31], 0);
    EXPECT_EQ(longName[16 + 48 + 30], 'f');
}

TEST(Gsmtap, DiagTimestampIsTicksOfAnEighthOfAMillisecondSinceTheGpsEpoch)
{
    EXPECT_EQ(gt::DiagTimeToUnixMicros(0), 315964800ull * 1000000);
    EXPECT_EQ(gt::DiagTimeToUnixMicros(800ull << 16), 315964801ull * 1000000);   // 800 ticks: one second
    EXPECT_EQ(gt::DiagTimeToUnixMicros(0x8000), 315964800ull * 1000000 + 625);   // half a tick
}

std::string TempPath(const char* name)
{
    return (std::filesystem::temp_directory_path() / (std::string("orvane-gsmtap-") + name)).string();
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(PcapWriter, FileHeaderAndARecordAroundOneMessage)
{
    const std::string path = TempPath("one.pcap");
    decode::CPcapWriter writer;
    ASSERT_TRUE(writer.Open(path));
    // Valid from the first moment: the file header is there before any record.
    EXPECT_EQ(ReadFile(path), (Bytes{0xD4, 0xC3, 0xB2, 0xA1, 2, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                     0xFF, 0xFF, 0, 0, 228, 0, 0, 0}));
    const Bytes message{2, 4, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x07, 0x55, 0x01};
    ASSERT_TRUE(writer.Add(message, 1700000000ull * 1000000 + 7));
    EXPECT_EQ(ReadFile(path).size(), decode::CPcapWriter::kFileHeaderLength);   // held until flushed
    ASSERT_TRUE(writer.Flush());
    const Bytes file = ReadFile(path);
    const Bytes record(file.begin() + 24, file.end());
    const Bytes expected = Cat({0x00, 0xF1, 0x53, 0x65, 7, 0, 0, 0, 47, 0, 0, 0, 47, 0, 0, 0,
                                // IPv4: 47 bytes, DF, TTL 64, UDP, checksum, 127.0.0.1 both ways
                                0x45, 0x00, 0x00, 0x2F, 0, 0, 0x40, 0x00, 0x40, 0x11, 0x3C, 0xBC,
                                127, 0, 0, 1, 127, 0, 0, 1,
                                // UDP 4729 -> 4729, 27 bytes, no checksum
                                0x12, 0x79, 0x12, 0x79, 0x00, 0x1B, 0, 0},
                               message);
    EXPECT_EQ(record, expected);
    writer.Close();
    EXPECT_EQ(writer.Records(), 1u);
    std::filesystem::remove(path);
}

TEST(PcapWriter, RefusesAMessageNoDatagramHoldsAndAFileItCannotCreate)
{
    const std::string path = TempPath("big.pcap");
    decode::CPcapWriter writer;
    ASSERT_TRUE(writer.Open(path));
    EXPECT_FALSE(writer.Add(Bytes(decode::CPcapWriter::kMaxMessage + 1, 0), 0));
    EXPECT_TRUE(writer.Add(Bytes(decode::CPcapWriter::kMaxMessage, 0), 0));
    writer.Close();
    EXPECT_EQ(ReadFile(path).size(), 24 + 16 + 65535u);
    std::filesystem::remove(path);

    std::string error;
    EXPECT_FALSE(writer.Open("/nonexistent-orvane-dir/x.pcap", &error));
    EXPECT_NE(error.find("open: "), std::string::npos);
}

// Real messages (a public capture's LTE RRC and NAS) and the other kinds,
// through a pcap and back through tshark: each frame is the protocol it was
// meant to be, and nothing in the dissection is malformed.
TEST(PcapWriter, TsharkReadsEveryKindBackWithoutErrors)
{
    if (!TsharkInstalled())
        GTEST_SKIP() << "tshark is not installed";
    auto lte = [](std::uint8_t version, std::uint8_t channel, Bytes pdu) {
        LteRrcFields f;
        f.version = version;
        f.earfcn = 2050;
        f.pci = 3;
        f.channel = channel;
        f.pdu = std::move(pdu);
        return LteRrcPayload(f);
    };
    struct Case { const char* name; std::uint16_t code; Bytes payload; const char* protocol; const char* info; };
    const Case cases[] = {
        {"MIB", 0xB0C0, lte(20, 1, {0x5C, 0x80, 0x00}), "lte_rrc", "MasterInformationBlock"},
        {"SI", 0xB0C0, lte(20, 2, {0x00, 0x08, 0x7D, 0x81, 0x00, 0x00, 0x00}), "lte_rrc", "SystemInformation"},
        {"paging", 0xB0C0, lte(2, 4, {0x00}), "lte_rrc", "Paging"},
        {"request", 0xB0C0, lte(9, 14, {0x5A, 0xA3, 0xE6, 0xF6, 0x25, 0xB6}), "lte_rrc", "RRCConnectionRequest"},
        {"setup", 0xB0C0,
         lte(14, 6, {0x60, 0x12, 0x98, 0x0F, 0xFD, 0xD8, 0x04, 0xBB, 0x00, 0x7C, 0xAA, 0x8B, 0x55, 0x35, 0xC3, 0x80,
                     0xC1, 0xD4, 0xA1, 0x16, 0xC0, 0x00, 0x00, 0x00, 0x3F, 0xFF, 0xFF, 0xFF, 0xD0, 0x7A, 0x1D, 0x00}),
         "lte_rrc", "RRCConnectionSetup"},
        {"release", 0xB0C0, lte(30, 9, {0x28, 0x02}), "lte_rrc", "RRCConnectionRelease"},
        {"UL information transfer", 0xB0C0,
         lte(26, 11, {0x48, 0x01, 0x60, 0xEA, 0xC1, 0x07, 0x20, 0x22, 0x90, 0x0C, 0x65, 0x00, 0xA8, 0x20}), "lte_rrc",
         "ULInformationTransfer"},
        {"identity request", 0xB0EC, LteNasPayload({0x07, 0x55, 0x01}), "nas-eps", "Identity request"},
        {"protected identity request", 0xB0EA, LteNasPayload({0x17, 1, 2, 3, 4, 5, 0x07, 0x55, 0x01}), "nas-eps",
         "Identity request"},
        // BCCH and CCCH blocks come with their L2 pseudo length, as the modem logs them.
        {"GSM BCCH system information 3", 0x512F,
         {0x81, 0x1B, 23, 0x49, 0x06, 0x1B, 0x00, 0x01, 0x00, 0xF1, 0x10, 0x00, 0x01, 0xC9, 0x03, 0x05, 0x27,
          0x47, 0x40, 0xE5, 0x04, 0x00, 0x2C, 0x0B, 0x2B, 0x2B},
         "gsm_a.ccch", "System Information Type 3"},
        {"GSM CCCH paging request type 1, no identity", 0x512F,
         {0x83, 0x21, 23, 0x15, 0x06, 0x21, 0x00, 0x01, 0xF0, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B,
          0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B},
         "gsm_a.ccch", "Paging Request Type 1"},
        {"GSM DCCH in LAPDm, uplink", 0x512F, {0x00, 0x29, 3, 0x06, 0x29, 0x00}, "lapdm:gsm_a.dtap",
         "Assignment Complete"},
        {"GSM DCCH in LAPDm, downlink", 0x512F, {0x80, 0x0D, 3, 0x06, 0x0D, 0x00}, "lapdm:gsm_a.dtap",
         "Channel Release"},
        {"WCDMA paging, nothing optional", 0x412F, {6, 0, 1, 0, 0x00}, "rrc", "PagingType1"},
        {"UMTS NAS TMSI reallocation complete", 0x713A, {1, 2, 0, 0, 0, 0x05, 0x1B}, "gsm_a.dtap",
         "TMSI Reallocation Complete"},
    };
    const std::string path = TempPath("kinds.pcap");
    {
        decode::CPcapWriter writer;
        ASSERT_TRUE(writer.Open(path));
        for (const Case& c : cases)
            ASSERT_TRUE(writer.Add(GsmtapOf(c.code, c.payload), 1700000000ull * 1000000));
        Bytes log;
        gt::AppendLogLine({1700000000ull * 1000000, 5012, 0, "file.c", 12, "hello"}, log);
        ASSERT_TRUE(writer.Add(log, 1700000000ull * 1000000));
    }
    const TsharkReading reading = ReadWithTshark(path);
    ASSERT_EQ(reading.frames.size(), std::size(cases) + 1);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_NE(reading.frames[i].find(std::string("gsmtap:") + cases[i].protocol), std::string::npos)
            << reading.frames[i];
        EXPECT_NE(reading.frames[i].find(cases[i].info), std::string::npos) << reading.frames[i];
    }
    EXPECT_NE(reading.frames.back().find("gsmtap_log"), std::string::npos) << reading.frames.back();
    EXPECT_TRUE(reading.errors.empty()) << reading.errors.front();
    std::filesystem::remove(path);
}

}  // namespace
