// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/Gsmtap.h"
#include "decode/Signalling.h"
#include "support/SignallingRecords.h"

namespace {

using namespace signalling_records;
namespace gt = decode::gsmtap;
using decode::SignallingResult;

decode::LogRecordView View(std::uint16_t code, const Bytes& payload)
{
    return decode::LogRecordView{code, 0, payload};
}

// One row per LTE RRC packet version: a channel number of that version and
// the GSMTAP sub-type it stands for (the maps moved between versions).
TEST(Signalling, LteRrcEveryKnownVersionGivesItsChannelAndCell)
{
    struct Case { std::uint8_t version, channel, sub; const char* name; };
    const Case cases[] = {
        {2, 5, gt::kDlCcch, "DL-CCCH"},        {3, 8, gt::kUlDcch, "UL-DCCH"},
        {4, 1, gt::kBcchBch, "BCCH-BCH"},      {6, 2, gt::kBcchDlSch, "BCCH-DL-SCH"},
        {7, 4, gt::kPcch, "PCCH"},             {8, 3, gt::kMcch, "MCCH"},
        {9, 13, gt::kDlDcch, "DL-DCCH"},       {12, 14, gt::kUlCcch, "UL-CCCH"},
        {13, 6, gt::kDlDcch, "DL-DCCH"},       {14, 4, gt::kMcch, "MCCH"},
        {15, 9, gt::kUlDcch, "UL-DCCH"},       {16, 5, gt::kPcch, "PCCH"},
        {19, 3, gt::kBcchDlSch, "BCCH-DL-SCH"}, {19, 49, gt::kDlDcchNb, "DL-DCCH-NB"},
        {20, 2, gt::kBcchDlSch, "BCCH-DL-SCH"}, {20, 61, gt::kUlDcchNb, "UL-DCCH-NB"},
        {22, 7, gt::kUlCcch, "UL-CCCH"},       {24, 54, gt::kBcchBchNb, "BCCH-BCH-NB"},
        {25, 8, gt::kUlCcch, "UL-CCCH"},       {26, 11, gt::kUlDcch, "UL-DCCH"},
        {27, 46, gt::kBcchDlSchNb, "BCCH-DL-SCH-NB"}, {29, 10, gt::kUlCcch, "UL-CCCH"},
        {30, 8, gt::kDlCcch, "DL-CCCH"},       {31, 47, gt::kPcchNb, "PCCH-NB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("version " + std::to_string(c.version) + " channel " + std::to_string(c.channel));
        LteRrcFields f;
        f.version = c.version;
        f.pci = 0x1FF;
        f.earfcn = c.version >= 8 ? 66536 : 1850;
        f.sfnSubframe = (0x2A5 << 4) | 3;
        f.channel = c.channel;
        f.pdu = {0x40, 0x12, 0x34};
        const Bytes payload = LteRrcPayload(f);
        decode::SignallingMessage m;
        ASSERT_EQ(decode::ReadSignalling(View(0xB0C0, payload), m), SignallingResult::Ok);
        EXPECT_EQ(m.rat, decode::SignallingRat::LteRrc);
        EXPECT_EQ(m.version, c.version);
        EXPECT_EQ(m.gsmtapType, gt::kTypeLteRrc);
        EXPECT_EQ(m.gsmtapSubType, c.sub);
        EXPECT_STREQ(m.channelName, c.name);
        EXPECT_EQ(m.uplink, std::string(c.name).rfind("UL-", 0) == 0);
        EXPECT_TRUE(m.hasCell);
        EXPECT_EQ(m.pci, 0x1FF);
        EXPECT_EQ(m.arfcn, f.earfcn);
        EXPECT_EQ(m.frameNumber, 0x2A5u);
        EXPECT_EQ(m.pdu.size(), 3u);
        EXPECT_EQ(m.pdu[0], 0x40);
        // One byte short of the PDU its length names: malformed, never read past.
        const Bytes cut(payload.begin(), payload.end() - 1);
        EXPECT_EQ(decode::ReadSignalling(View(0xB0C0, cut), m), SignallingResult::Malformed);
    }
}

TEST(Signalling, UnknownVersionsChannelsAndShortRecordsAreSaidNotGuessed)
{
    struct Case { const char* name; std::uint16_t code; Bytes payload; SignallingResult result; };
    LteRrcFields unknownChannel;
    unknownChannel.channel = 3;   // version 20 has no channel 3
    const Case cases[] = {
        {"LTE RRC version 1", 0xB0C0, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SignallingResult::UnknownVersion},
        {"LTE RRC version 5", 0xB0C0, Bytes(40, 5), SignallingResult::UnknownVersion},
        {"LTE RRC version 21", 0xB0C0, Bytes(40, 21), SignallingResult::UnknownVersion},
        {"LTE RRC version 28", 0xB0C0, Bytes(40, 28), SignallingResult::UnknownVersion},
        {"LTE RRC version 32", 0xB0C0, Bytes(40, 32), SignallingResult::UnknownVersion},
        {"LTE RRC empty", 0xB0C0, {}, SignallingResult::Malformed},
        {"LTE RRC v20 header cut", 0xB0C0, Bytes{20, 0x0E, 0x30, 0, 1, 0, 2, 8, 0, 0}, SignallingResult::Malformed},
        {"LTE RRC v20 channel 3", 0xB0C0, LteRrcPayload(unknownChannel), SignallingResult::UnknownChannel},
        {"LTE NAS version 2", 0xB0EC, LteNasPayload({0x07, 0x41}, 2), SignallingResult::UnknownVersion},
        {"LTE NAS header cut", 0xB0ED, {1, 9, 5}, SignallingResult::Malformed},
        {"NR RRC version 10", 0xB821, NrRrcPayload(10, 1, 1, 1, {0}), SignallingResult::UnknownVersion},
        {"NR RRC version cut", 0xB821, {9, 0}, SignallingResult::Malformed},
        {"WCDMA channel 11", 0x412F, {11, 0, 1, 0, 0x55}, SignallingResult::UnknownChannel},
        {"WCDMA SIB 40", 0x412F, {9, 0, 1, 0, 40, 0x55}, SignallingResult::UnknownChannel},
        {"WCDMA cell form cut", 0x412F, {0x83, 0, 1, 0, 0x2A}, SignallingResult::Malformed},
        {"GSM RR channel 5", 0x512F, {0x85, 0x3F, 1, 0x2B}, SignallingResult::UnknownChannel},
        {"GSM RR length past the end", 0x512F, {0x81, 0x1B, 4, 0x2B}, SignallingResult::Malformed},
        {"UMTS NAS length past the end", 0x713A, {0, 3, 0, 0, 0, 0x05}, SignallingResult::Malformed},
        {"not signalling", 0xB193, {1, 2, 3}, SignallingResult::NotSignalling},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        decode::SignallingMessage m;
        EXPECT_EQ(decode::ReadSignalling(View(c.code, c.payload), m), c.result);
    }
}

TEST(Signalling, LteNasPlainAndProtectedFormsAndDirections)
{
    struct Case { std::uint16_t code; std::uint8_t sub; bool uplink; const char* summary; };
    // An Attach request as the plain records hold it; the protected ones hold
    // it behind an integrity-only security header (type 1), MAC and sequence number.
    const Bytes plain{0x07, 0x41, 0x71};
    const Bytes integrity{0x17, 0xAA, 0xBB, 0xCC, 0xDD, 0x05, 0x07, 0x41, 0x71};
    const Case cases[] = {
        {0xB0E0, gt::kLteNasSecurityHeader, false, "ESM in (protected) Attach request"},
        {0xB0E1, gt::kLteNasSecurityHeader, true, "ESM out (protected) Attach request"},
        {0xB0EA, gt::kLteNasSecurityHeader, false, "EMM in (protected) Attach request"},
        {0xB0EB, gt::kLteNasSecurityHeader, true, "EMM out (protected) Attach request"},
        {0xB0E2, gt::kLteNasPlain, false, "ESM in Attach request"},
        {0xB0E3, gt::kLteNasPlain, true, "ESM out Attach request"},
        {0xB0EC, gt::kLteNasPlain, false, "EMM in Attach request"},
        {0xB0ED, gt::kLteNasPlain, true, "EMM out Attach request"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.summary);
        const Bytes payload = LteNasPayload(c.sub == gt::kLteNasPlain ? plain : integrity);
        decode::SignallingMessage m;
        ASSERT_EQ(decode::ReadSignalling(View(c.code, payload), m), SignallingResult::Ok);
        EXPECT_EQ(m.gsmtapType, gt::kTypeLteNas);
        EXPECT_EQ(m.gsmtapSubType, c.sub);
        EXPECT_EQ(m.uplink, c.uplink);
        EXPECT_EQ(m.pdu.size(), payload.size() - 4);
        EXPECT_EQ(decode::SummarizeSignalling(View(c.code, payload)), c.summary);
    }
}

TEST(Signalling, SummariesNameTheMessageFromItsFirstBits)
{
    struct Case { const char* name; std::uint16_t code; Bytes payload; const char* summary; };
    auto lte = [](std::uint8_t channel, Bytes pdu) {
        LteRrcFields f;
        f.channel = channel;   // version 20's numbers
        f.pdu = std::move(pdu);
        return LteRrcPayload(f);
    };
    const Case cases[] = {
        {"MIB", 0xB0C0, lte(1, {0x5C, 0x00, 0x00}), "BCCH-BCH MasterInformationBlock"},
        {"SIB1", 0xB0C0, lte(2, {0x40, 0x00}), "BCCH-DL-SCH systemInformationBlockType1"},
        {"SI", 0xB0C0, lte(2, {0x00, 0x00}), "BCCH-DL-SCH systemInformation"},
        {"paging", 0xB0C0, lte(5, {0x40}), "PCCH paging"},
        {"setup", 0xB0C0, lte(6, {0x60, 0x12}), "DL-CCCH rrcConnectionSetup"},
        {"reject", 0xB0C0, lte(6, {0x40, 0x12}), "DL-CCCH rrcConnectionReject"},
        {"reconfiguration", 0xB0C0, lte(7, {0x20, 0x02}), "DL-DCCH rrcConnectionReconfiguration"},
        {"release", 0xB0C0, lte(7, {0x28, 0x02}), "DL-DCCH rrcConnectionRelease"},
        {"request", 0xB0C0, lte(8, {0x40, 0x12}), "UL-CCCH rrcConnectionRequest"},
        {"resume request", 0xB0C0, lte(8, {0x80, 0x12}), "UL-CCCH rrcConnectionResumeRequest-r13"},
        {"setup complete", 0xB0C0, lte(9, {0x20, 0x00}), "UL-DCCH rrcConnectionSetupComplete"},
        {"measurement report", 0xB0C0, lte(9, {0x08, 0x00}), "UL-DCCH measurementReport"},
        {"UE assistance", 0xB0C0, lte(9, {0x80, 0x00}), "UL-DCCH ueAssistanceInformation-r11"},
        {"no bits to read", 0xB0C0, lte(9, {}), "UL-DCCH"},
        {"ESM", 0xB0E2, LteNasPayload({0x52, 0x01, 0xC1}), "ESM in Activate default EPS bearer context request"},
        {"ciphered", 0xB0EB, LteNasPayload({0x27, 1, 2, 3, 4, 5, 0x99}), "EMM out (protected) Security protected NAS message"},
        {"service request", 0xB0EB, LteNasPayload({0xC7, 1, 2, 3}), "EMM out (protected) Service request"},
        {"EMM unknown type", 0xB0EC, LteNasPayload({0x07, 0x7F}), "EMM in EMM message type 0x7F"},
        {"NR", 0xB821, NrRrcPayload(17, 5, 632628, 4, {0x00}), "DL-DCCH"},
        {"WCDMA SIB", 0x412F, {9, 0, 2, 0, 3, 0x12, 0x34}, "SysInfoType3"},
        // WCDMA: a presence bit for the integrity check (then 36 bits of it), then 5 bits of type.
        {"WCDMA cell form", 0x412F, {0x83, 0, 1, 0, 0x2A, 0x29, 0x10, 0, 0x55}, "DL-DCCH ueCapabilityInformationConfirm"},
        {"WCDMA release", 0x412F, {3, 0, 1, 0, 0x3C}, "DL-DCCH rrcConnectionRelease"},
        {"WCDMA with integrity check", 0x412F, {1, 0, 6, 0, 0x80, 0, 0, 0, 0x04, 0x80}, "UL-DCCH rrcConnectionSetupComplete"},
        {"WCDMA integrity check cut", 0x412F, {1, 0, 4, 0, 0x80, 0, 0, 0}, "UL-DCCH"},
        {"WCDMA connection request", 0x412F, {0x80, 0, 1, 0, 0x2A, 0x29, 0x10, 0, 0x20}, "UL-CCCH rrcConnectionRequest"},
        {"WCDMA paging", 0x412F, {6, 0, 1, 0, 0x00}, "PCCH pagingType1"},
        {"GSM RR", 0x512F, {0x81, 0x1B, 2, 0x06, 0x1B}, "BCCH System Information Type 3"},
        {"UMTS NAS", 0x713A, {1, 3, 0, 0, 0, 0x05, 0x08, 0x00}, "UL Location Updating Request"},
        {"unknown version", 0xB0C0, Bytes(40, 21), "packet version 21 not known"},
        {"not signalling", 0x1234, {1}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode::SummarizeSignalling(View(c.code, c.payload)), c.summary);
    }
}

// Every known NR RRC version is read; it has no GSMTAP version 2 form, and
// goes out as version 3 with its time, NR-ARFCN and PCI as metadata.
TEST(Signalling, NrRrcEveryKnownVersionIsReadAndGoesOutAsGsmtapVersion3)
{
    struct Case { std::uint32_t version; std::uint8_t channel; const char* name; std::uint16_t v3SubType; };
    const Case cases[] = {
        {9, 29, "UE-NR-Capability", 0x0204},
        {12, 9, "RRCReconfiguration", 0x0201},
        {14, 33, "UE-NR-Capability", 0x0204},
        {17, 6, "UL-CCCH", 0x0007},
        {19, 8, "UL-DCCH", 0x0009},
        {20, 5, "MCCH", 0x0005},
        {23, 6, "PCCH", 0x0006},
        {24, 11, "RRCReconfigurationComplete", 0x0202},
        {25, 1, "BCCH-BCH", 0x0001},
        {26, 12, "RRCReconfigurationComplete", 0x0202},
        {28, 10, "UL-DCCH", 0x0009},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        const Bytes payload = NrRrcPayload(c.version, 0x1F7, 632628, c.channel, {0xAB, 0xCD});
        decode::SignallingMessage m;
        ASSERT_EQ(decode::ReadSignalling(View(0xB821, payload), m), SignallingResult::Ok);
        EXPECT_STREQ(m.channelName, c.name);
        EXPECT_EQ(m.pci, 0x1F7);
        EXPECT_EQ(m.arfcn, 632628u);
        ASSERT_EQ(m.pdu.size(), 2u);
        EXPECT_EQ(m.pdu[1], 0xCD);
        EXPECT_EQ(m.gsmtapType, 0);
        std::vector<std::uint8_t> out;
        EXPECT_FALSE(gt::AppendSignalling(m, out));
        EXPECT_TRUE(out.empty());

        // 2023-11-14 22:13:20.000250 UTC: 1700000000 s and 250 µs.
        ASSERT_TRUE(gt::AppendNrRrcV3(m, 1700000000000250ull, out));
        const Bytes expected{
            3, 0, 0, 10,                                    // version 3, 10 words of header
            0x05, 0x03,                                     // NR RRC
            static_cast<std::uint8_t>(c.v3SubType >> 8), static_cast<std::uint8_t>(c.v3SubType),
            0x00, 0x00, 0x00, 12,                           // time: seconds(8), nanoseconds(4)
            0, 0, 0, 0, 0x65, 0x53, 0xF1, 0x00, 0x00, 0x03, 0xD0, 0x90,
            0x00, 0x02, 0x00, 4, 0x00, 0x09, 0xA7, 0x34,    // NR-ARFCN 632628
            0x00, 0x05, 0x00, 2, 0x01, 0xF7,                // PCI 503
            0xFF, 0xFE,                                     // end of metadata
            0xAB, 0xCD};
        EXPECT_EQ(out, expected);
        EXPECT_EQ(out.size(), gt::kV3NrRrcHeaderLength + 2);
    }
}

TEST(Signalling, OnlyNrRrcHasAGsmtapVersion3Form)
{
    decode::SignallingMessage m;
    ASSERT_EQ(decode::ReadSignalling(View(0xB0EC, LteNasPayload({0x07, 0x55, 0x01})), m), SignallingResult::Ok);
    std::vector<std::uint8_t> out;
    EXPECT_FALSE(gt::AppendNrRrcV3(m, 0, out));
    EXPECT_TRUE(out.empty());
}

}  // namespace
