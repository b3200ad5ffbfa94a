// SPDX-License-Identifier: GPL-2.0-or-later
// What the virtual modem sends, decoded back: each message with its ssid,
// level, file:line and formatted text, each event with its payload, and a
// whole stream with every default packet's masks on, without a record the
// decoder cannot read.
#include "decode/DiagDecoder.h"
#include "decode/RecordText.h"
#include "logclient/DefaultPackets.h"
#include "tools/vmodem/LogRecords.h"
#include "tools/vmodem/VirtualModem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace {

using decode::DecodedRecord;
using decode::RecordKind;

std::vector<DecodedRecord> Decode(const std::vector<std::uint8_t>& packet)
{
    std::vector<DecodedRecord> out;
    decode::CDiagDecoder().Decode(packet, out);
    return out;
}

TEST(VmodemDecode, EachMessageReadsBackAsItsFormatAndArgumentsSay)
{
    struct Expected {
        std::uint32_t ssid, level;
        const char* name;
        const char* text;
    };
    const Expected expected[] = {
        {0, 0x02, "vmodem_rrc.c:100", "vmodem: camped on PCI 257"},
        {5, 0x02, "cmcall.c:2117", "CM: call 1 state 0x08a1c2f0 -> 2, end cause 0x001F"},
        {21, 0x02, "uimutil.c:931", "UIM_1: Path length is 4, Current Path 0x3f00 0x7f20"},
        {0, 0x02, "lte_rrc_csp.c:1582", "RRC: serving cell EARFCN 1300 PCI 257 RSRP -95 dBm RSRQ -10 dB"},
        {15, 0x02, "sd_ss.c:4410", "SD: acq band 3 chan 1300 | mode 00514,   0% done"},
        {20, 0x02, "mmoc.c:812", "MMOC: txn 0 at tick 6604705263, ok"},
        {0, 0x02, "vmodem_ml1.c:377", "ML1: sfn 24 load -4, buffer 0x0800f000"},
    };
    ASSERT_EQ(vmlog::StreamMessages().size(), std::size(expected));
    for (std::uint32_t seq = 0; seq < std::size(expected); ++seq) {
        SCOPED_TRACE(seq);
        const auto r = Decode(vmlog::BuildExtMessage(seq, 0x1234ull << 16));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].kind, RecordKind::Message);
        EXPECT_EQ(r[0].code, expected[seq].ssid);
        EXPECT_EQ(r[0].level, expected[seq].level);
        EXPECT_EQ(r[0].name, expected[seq].name);
        EXPECT_EQ(r[0].text, expected[seq].text);
        EXPECT_EQ(r[0].timestamp, 0x1234ull << 16);
    }
    // Later rounds move their arguments on, and never ask for more than they carry.
    for (std::uint32_t seq = 0; seq < 200; ++seq) {
        SCOPED_TRACE(seq);
        const auto r = Decode(vmlog::BuildExtMessage(seq, 0));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].text.find("[missing"), std::string::npos) << r[0].text;
        EXPECT_EQ(r[0].text.find("[unknown"), std::string::npos) << r[0].text;
    }
}

TEST(VmodemDecode, EachEventReadsBackWithItsPayload)
{
    struct Expected {
        std::uint32_t id;
        const char* name;
        const char* text;
    };
    const Expected expected[] = {
        {1606, "LTE_RRC_STATE_CHANGE", "02"},
        {1610, "LTE_RRC_UL_MSG", "02 01"},
        {1609, "LTE_RRC_DL_MSG", "04 03"},
        {1614, "LTE_RRC_PAGING_DRX_CYCLE", "80 00"},
        {1606, "LTE_RRC_STATE_CHANGE", "03"},   // the next round: the next state
    };
    for (std::uint32_t seq = 0; seq < std::size(expected); ++seq) {
        SCOPED_TRACE(seq);
        const auto r = Decode(vmlog::BuildStreamEvent(seq, 77ull << 16));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].kind, RecordKind::Event);
        EXPECT_EQ(r[0].code, expected[seq].id);
        EXPECT_EQ(r[0].name, expected[seq].name);
        EXPECT_EQ(r[0].text, expected[seq].text);
        EXPECT_EQ(r[0].timestamp, 77ull << 16);
    }
}

TEST(VmodemDecode, TheDefaultPacketsStreamRecordsThatAllDecode)
{
    using namespace std::chrono_literals;
    CVirtualModem modem(0);
    for (const auto& packet : DefaultConfigPackets())
        modem.Answer(packet);
    // The signalling codes too, as a client that wants them sets them.
    for (const std::uint32_t equip : {4u, 5u, 7u, 11u}) {
        std::vector<std::uint8_t> mask{0x73, 0, 0, 0, 3, 0, 0, 0, static_cast<std::uint8_t>(equip), 0, 0, 0, 0, 1, 0, 0};
        mask.resize(16 + 32, 0xFF);
        modem.Answer(mask);
    }
    decode::CRecordStream stream;
    std::vector<DecodedRecord> records;
    const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
    for (int i = 0; i < 20; ++i)
        stream.Push(modem.TakeLogStream(t0 + i * 1ms, 8192), records);
    EXPECT_EQ(stream.BadFrames(), 0u);
    std::map<RecordKind, int> kinds;
    for (const DecodedRecord& r : records) {
        SCOPED_TRACE(decode::FormatRecordLine(r));
        ++kinds[r.kind];
        EXPECT_NE(r.kind, RecordKind::Malformed);
        EXPECT_NE(r.name, "unknown log code");
        EXPECT_EQ(r.text.find("[missing"), std::string::npos);
    }
    EXPECT_GT(kinds[RecordKind::Log], 0);
    EXPECT_GT(kinds[RecordKind::Event], 0);
    EXPECT_GT(kinds[RecordKind::Message], 0);
}

}  // namespace
