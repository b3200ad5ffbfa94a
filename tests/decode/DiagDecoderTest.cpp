// SPDX-License-Identifier: GPL-2.0-or-later
// The decoder, one kind of packet per table: real extended messages (as SCAT's
// tests hold them, with the texts SCAT prints for them), log records with
// their names and summaries, event reports, terse messages with and without a
// database, the multi-SIM wrapper, replies, and every packet too short for
// its kind.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "decode/DiagDecoder.h"
#include "decode/LogCodeNames.h"
#include "decode/RecordText.h"
#include "tests/decode/DecodeTestUtil.h"

namespace {

using decode::DecodedRecord;
using decode::RecordKind;
using decodetest::Bytes;
using decodetest::Hex;
using decodetest::Le;

std::vector<DecodedRecord> Decode(const Bytes& packet, std::shared_ptr<const decode::CMessageDatabase> db = {})
{
    decode::CDiagDecoder decoder(std::move(db));
    std::vector<DecodedRecord> out;
    const std::size_t added = decoder.Decode(packet, out);
    EXPECT_EQ(added, out.size());
    return out;
}

// Real 0x79 records from modems (fgsect/scat tests/test_qualcommparser.py) and
// what each says: ssid, level bits, source file and line, and the text.
TEST(DiagDecoder, ExtendedMessagesFromRealModems)
{
    struct Case {
        const char* hex;
        std::uint32_t ssid, level;
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {"7900000000b07564160000007c00fc110400000053616d706c65207265636f72642c20636f6e6669672061707020746f2073"
         "746172742f73746f70203d20312c20636172726965723d302c207265635f6275663d302c2072786167635f6d6f6465203d31"
         "006c74655f4c4c315f73616d706c655f7265636f72645f64617461626173652e6300",
         4604, 0x04, "lte_LL1_sample_record_database.c:124",
         "Sample record, config app to start/stop = 1, carrier=0, rec_buf=0, rxagc_mode =1"},
        {"7900010000983c97160000004906252504000000060438044853542044454255473a20726563656976656420554d4944202564"
         "006c74655f6d6c315f6d67725f7461736b2e6300",
         9509, 0x04, "lte_ml1_mgr_task.c:1609", "HST DEBUG: received UMID 70779910"},
        {"790002000000ae6900000000b403342104000000010000002703010041444d3a20446576696365436d6451205b25645d2072"
         "63766420415052206d7367205b6f70636f64655d203d205b3078253038785d004175644465764d67722e63707000",
         8500, 0x04, "AudDevMgr.cpp:948", "ADM: DeviceCmdQ [1] rcvd APR msg [opcode] = [0x00010327]"},
        {"790002000040926d160000000b070e001c0000000601000007000000646562756720547841474320475246433a307825582c"
         "20534620747970653a25640072666c6d5f6c74655f74786167632e6300",
         14, 0x1C, "rflm_lte_txagc.c:1803", "debug TxAGC GRFC:0x106, SF type:7"},
        {"790002000000906d16000000b60d0e000400000039e44e680300000074756e655f706c6c2d205461726765742054782074756e"
         "652072657175656e63793a256c752c2042616e643a256400777472323936355f7472785f6c74655f74785f636c6173732e637070"
         "00",
         14, 0x04, "wtr2965_trx_lte_tx_class.cpp:3510", "tune_pll- Target Tx tune requency:1750000697, Band:3"},
        {"7900030000283b6516000000571c0e0004000000030000000100000001000000777472323936352070777220766f746528616674"
         "6572293a2073743d25642c206c6173743d25642c2072657475726e3d25642000777472323936355f636f6d6d6f6e2e63707000",
         14, 0x04, "wtr2965_common.cpp:7255", "wtr2965 pwr vote(after): st=3, last=1, return=1 "},
        {"790004000068426516000000a30315000400000001000000003f0000107f00003a5f000055494d5f25643a2050617468206c65"
         "6e67746820697320342c2043757272656e7420506174682030782578203078257820307825780075696d7574696c2e6300",
         21, 0x04, "uimutil.c:931", "UIM_1: Path length is 4, Current Path 0x3f00 0x7f10 0x5f3a"},
        {"790005000004be5c16000000860a8813080000007d0000000000000005000000ffffffff83ffffff5b4e45544b49545d20727373"
         "693d256420727372703d2564206563696f3d256420727372713d256420727363703d25640064735f716d695f6e65746b69742e"
         "6300",
         5000, 0x08, "ds_qmi_netkit.c:2694", "[NETKIT] rssi=125 rsrp=0 ecio=5 rsrq=-1 rscp=-125"},
        {"790005000098f86216000000740988130800000000000000ffffffffffff00000000000000000000727372703d256c6420727372"
         "713d25642c6c61633d2564207461633d2564207261635f6f725f6d6d655f636f64653d25640064735f716d695f6e65746b6974"
         "2e6300",
         5000, 0x08, "ds_qmi_netkit.c:2420", "rsrp=0 rsrq=-1,lac=65535 tac=0 rac_or_mme_code=0"},
        {"790007000058b66d16000000421f2525020000020000000000000000000000000000000000000000000000000000000048494748"
         "205052494f3a206f705f696420256420736e6420256420667265715f617661696c20256420737461727420257520656e642025"
         "752066726571232025642066726571202564006c74655f6d6c315f636f65782e6300",
         9509, 0x02000002, "lte_ml1_coex.c:8002",
         "HIGH PRIO: op_id 0 snd 0 freq_avail 0 start 0 end 0 freq# 0 freq 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto records = Decode(Hex(c.hex));
        ASSERT_EQ(records.size(), 1u);
        const DecodedRecord& r = records[0];
        EXPECT_EQ(r.kind, RecordKind::Message);
        EXPECT_EQ(r.code, c.ssid);
        EXPECT_EQ(r.level, c.level);
        EXPECT_EQ(r.name, c.name);
        EXPECT_EQ(r.text, c.text);
        ASSERT_TRUE(r.timestamp);
        // The --decode line ends with the text exactly as formatted.
        const std::string line = decode::FormatRecordLine(r);
        EXPECT_EQ(line.substr(line.size() - r.text.size()), r.text);
        EXPECT_NE(line.find("  MSG  "), std::string::npos);
    }
    // The second record's timestamp and the columns before its text.
    const auto umid = Decode(Hex(cases[1].hex));
    EXPECT_EQ(*umid[0].timestamp, 0x00000016973C9800ull);
    EXPECT_EQ(decode::CodeText(umid[0]), "9509/04");
}

TEST(DiagDecoder, ExtendedMessageEdges)
{
    using decodetest::MessageHeader;
    using decodetest::Text;
    // Strings without their NUL end at the packet's end; no file at all is an empty name.
    Bytes noNul = MessageHeader(0x79, 1, 0, 7, 3, 0x10);
    Le(noNul, 5, 4);
    noNul.insert(noNul.end(), {'n', '=', '%', 'd'});
    auto r = Decode(noNul);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].text, "n=5");
    EXPECT_EQ(r[0].name, ":7");
    EXPECT_EQ(decode::CodeText(r[0]), "3/10");

    // Control bytes in the file name print as spaces: the record stays one line.
    Bytes control = MessageHeader(0x79, 0, 0, 3, 0, 0x02);
    Text(control, "text");
    Text(control, "a\nb\x03.c");
    r = Decode(control);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].name, "a b .c:3");

    // The format asks for more than the record carries: marked, nothing read past it.
    Bytes few = MessageHeader(0x79, 1, 0, 9, 0, 0x02);
    Le(few, 1, 4);
    Text(few, "%d %d %s");
    Text(few, "x.c");
    r = Decode(few);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].text, "1 [missing %d] [missing %s]");
    EXPECT_EQ(r[0].name, "x.c:9");

    // An argument count past the end: malformed, with the bytes.
    Bytes many = MessageHeader(0x79, 200, 0, 9, 0, 0x02);
    Le(many, 1, 4);
    r = Decode(many);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].kind, RecordKind::Malformed);
    EXPECT_EQ(r[0].code, 0x79u);
    EXPECT_EQ(r[0].text.substr(0, 8), "79 00 C8");
}

// 0xB17F serving-cell measurements as SCAT's tests hold them, with the
// figures SCAT reads from them.
TEST(DiagDecoder, LogRecordsAreNamedAndMeasuredWhereTheLayoutIsKnown)
{
    struct Case {
        const char* name;
        std::uint16_t code;
        Bytes payload;
        const char* codeName;
        const char* text;
    };
    const Case cases[] = {
        {"version 4", 0xB17F, Hex("040100009C18D60AECC44E00E2244E00FFFCE30FFED80A0047AD56021D310100A2624100"),
         "LTE ML1 Serving Cell Meas and Eval", "36 bytes  EARFCN 6300 PCI 214 RSRP -101.25 dBm RSRQ -14.06 dB"},
        {"version 5", 0xB17F, Hex("05010000160d0000d40e00004bb444005444450039e514133149070048adfe019f310100a23f0000"),
         "LTE ML1 Serving Cell Meas and Eval", "40 bytes  EARFCN 3350 PCI 212 RSRP -111.31 dBm RSRQ -10.44 dB"},
        {"version 5, another cell", 0xB17F,
         Hex("0501000000190000a90d0000d9944d00d9944d006081d5d55d2568bc48ad3e027f314fe0891900e0"),
         "LTE ML1 Serving Cell Meas and Eval", "40 bytes  EARFCN 6400 PCI 425 RSRP -102.44 dBm RSRQ -8.00 dB"},
        {"an unknown version is named, not guessed", 0xB17F, Hex("07010000160d0000d40e0000"),
         "LTE ML1 Serving Cell Meas and Eval", "12 bytes  version 7 not known"},
        {"a known version cut short", 0xB17F, Hex("05010000160d0000d40e"),
         "LTE ML1 Serving Cell Meas and Eval", "10 bytes  version 5 cut short"},
        {"no payload", 0xB17F, {}, "LTE ML1 Serving Cell Meas and Eval", "0 bytes"},
        {"a code without a summary", 0xB193, Hex("01020304"), "LTE ML1 Serving Cell Meas Response", "4 bytes"},
        {"a code without a name", 0x1234, Hex("00"), "unknown log code", "1 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = Decode(decodetest::LogRecord(c.code, 0x1122, c.payload));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].kind, RecordKind::Log);
        EXPECT_EQ(r[0].code, c.code);
        EXPECT_EQ(r[0].timestamp, 0x1122u);
        EXPECT_EQ(r[0].name, c.codeName);
        EXPECT_EQ(r[0].text, c.text);
    }
    // Every code the virtual modem streams, and the signalling codes, have a name.
    for (const std::uint16_t code : {0x412F, 0x512F, 0x713A, 0xB0C0, 0xB0E0, 0xB0E1, 0xB0E2, 0xB0E3, 0xB0EA,
                                     0xB0EB, 0xB0EC, 0xB0ED, 0xB821, 0xB193, 0xB17F, 0xB180}) {
        SCOPED_TRACE(code);
        EXPECT_NE(decode::LogCodeName(code), nullptr);
    }
    EXPECT_EQ(decode::LogCodeLabel(0xB0C0), "0xB0C0 LTE RRC OTA");
    EXPECT_EQ(decode::LogCodeLabel(0x0001), "0x0001");
}

TEST(DiagDecoder, EventReportsGiveOneRecordPerEvent)
{
    // 60, length, then: 1606 with one payload byte and a full timestamp;
    // 1605 with two bytes and a truncated timestamp; 450 with a length byte
    // (3 bytes); 7 with no payload.
    Bytes events;
    Le(events, 1606 | (1u << 13), 2);
    Le(events, 0x0102030405060708ull, 8);
    events.push_back(0x03);
    Le(events, 1605 | (2u << 13) | 0x8000, 2);
    Le(events, 0xABCD, 2);
    events.insert(events.end(), {0x11, 0x22});
    Le(events, 450 | (3u << 13), 2);
    Le(events, 9, 8);
    events.insert(events.end(), {3, 0xA1, 0xA2, 0xA3});
    Le(events, 7, 2);
    Le(events, 10, 8);
    Bytes report{0x60};
    Le(report, events.size(), 2);
    report.insert(report.end(), events.begin(), events.end());

    struct Expected {
        std::uint32_t id;
        bool timed;
        const char* name;
        const char* text;
    };
    const Expected expected[] = {
        {1606, true, "LTE_RRC_STATE_CHANGE", "03"},
        {1605, false, "LTE_RRC_TIMER_STATUS", "11 22"},
        {450, true, "GSM_MESSAGE_RECEIVED", "A1 A2 A3"},
        {7, true, "event", "no payload"},
    };
    const auto r = Decode(report);
    ASSERT_EQ(r.size(), std::size(expected));
    for (std::size_t i = 0; i < r.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r[i].kind, RecordKind::Event);
        EXPECT_EQ(r[i].code, expected[i].id);
        EXPECT_EQ(r[i].timestamp.has_value(), expected[i].timed);
        EXPECT_EQ(r[i].name, expected[i].name);
        EXPECT_EQ(r[i].text, expected[i].text);
    }
    EXPECT_EQ(*r[0].timestamp, 0x0102030405060708ull);

    // Cut anywhere inside the events, the report is one malformed record.
    for (std::size_t cut = 1; cut < events.size(); ++cut) {
        SCOPED_TRACE(cut);
        Bytes shorter{0x60};
        Le(shorter, cut, 2);
        shorter.insert(shorter.end(), events.begin(), events.begin() + static_cast<std::ptrdiff_t>(cut));
        const auto m = Decode(shorter);
        if (cut == 11 || cut == 17 || cut == 31) {   // ends between events
            EXPECT_NE(m.back().kind, RecordKind::Malformed);
            continue;
        }
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0].kind, RecordKind::Malformed);
    }
}

TEST(DiagDecoder, TerseMessagesWithAndWithoutTheirDatabase)
{
    // The older hash file for 0x92 / 0x7E, a QShrink 4 database for 0x99.
    auto db = std::make_shared<decode::CMessageDatabase>();
    auto qdb = std::make_shared<decode::CMessageDatabase>();
    std::string error;
    ASSERT_TRUE(db->LoadBytes(decodetest::AsBytes("1000:rrc.c:state %d -> %d\n"), &error)) << error;
    ASSERT_TRUE(qdb->LoadBytes(decodetest::Qdb("<Content>\n2000:4:9502:88:ml1.c:rsrp %d\n<\\Content>\n"), &error))
        << error;

    // 0x92: the 0x79 header, hash, arguments.
    Bytes hashed = decodetest::MessageHeader(0x92, 2, 5, 321, 9501, 0x04);
    Le(hashed, 1000, 4);
    Le(hashed, 2, 4);
    Le(hashed, 3, 4);
    // 0x7E: the same shape with a reference.
    Bytes legacy = hashed;
    legacy[0] = 0x7E;
    // 0x99: two 2-byte arguments (count 2, size 2), hash 2000 in a QShrink 4 database.
    Bytes q4{0x99, 0, 0x22, 0};
    Le(q4, 5, 8);
    Le(q4, 2000, 4);
    Le(q4, 0, 2);
    Le(q4, 0xFF9C, 2);   // -100 as 16 bits, read as an unsigned argument
    Le(q4, 1, 2);

    struct Case {
        const char* name;
        Bytes packet;
        bool withDb;
        RecordKind kind;
        const char* recordName;
        const char* text;
    };
    const Case cases[] = {
        {"0x92 with its entry", hashed, true, RecordKind::Message, "rrc.c:321", "state 2 -> 3"},
        {"0x92 without a database", hashed, false, RecordKind::Terse, "hash 0x000003E8", "args 0x2 0x3"},
        {"0x7E with its entry", legacy, true, RecordKind::Message, "rrc.c:321", "state 2 -> 3"},
        {"0x99 with its entry", q4, true, RecordKind::Message, "ml1.c:88", "rsrp 65436"},
        {"0x99 without a database", q4, false, RecordKind::Terse, "hash 0x000007D0", "args 0xFF9C 0x1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = Decode(c.packet, c.withDb ? (c.packet[0] == 0x99 ? qdb : db) : nullptr);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].kind, c.kind);
        EXPECT_EQ(r[0].name, c.recordName);
        EXPECT_EQ(r[0].text, c.text);
    }
    // The ssid and level of a 0x99 message come from its entry.
    const auto q = Decode(q4, qdb);
    EXPECT_EQ(decode::CodeText(q[0]), "9502/04");

    // 0x99 argument sizes 1, 3 and 4, and the ones that do not fit.
    struct Packed {
        const char* name;
        std::uint8_t countAndSize;
        Bytes args;
        const char* text;   // nullptr: malformed
    };
    const Packed packed[] = {
        {"three 1-byte", 0x31, {1, 2, 0xFF}, "args 0x1 0x2 0xFF"},
        {"one 3-byte", 0x13, {0x01, 0x02, 0x03}, "args 0x30201"},
        {"one 4-byte", 0x14, {0x01, 0x02, 0x03, 0x04}, "args 0x4030201"},
        {"none", 0x00, {}, "no arguments"},
        {"size 0 with a count", 0x10, {1}, nullptr},
        {"size 5", 0x15, {1, 2, 3, 4, 5}, nullptr},
        {"cut short", 0x24, {1, 2, 3, 4, 5}, nullptr},
    };
    for (const Packed& p : packed) {
        SCOPED_TRACE(p.name);
        Bytes packet{0x99, 0, p.countAndSize, 0};
        Le(packet, 0, 8);
        Le(packet, 77, 4);
        Le(packet, 0, 2);
        packet.insert(packet.end(), p.args.begin(), p.args.end());
        const auto r = Decode(packet);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].kind, p.text ? RecordKind::Terse : RecordKind::Malformed);
        if (p.text) {
            EXPECT_EQ(r[0].text, p.text);
        }
    }
}

TEST(DiagDecoder, MultiSimWrapperCarriesTheRadioId)
{
    Bytes wrapped{0x98, 1, 0, 0};
    Le(wrapped, 2, 4);
    const Bytes inner = decodetest::LogRecord(0xB0C0, 1, {});
    wrapped.insert(wrapped.end(), inner.begin(), inner.end());
    auto r = Decode(wrapped);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].kind, RecordKind::Log);
    EXPECT_EQ(r[0].radioId, 2u);
    EXPECT_EQ(r[0].name, "LTE RRC OTA");

    Bytes twice{0x98, 0, 0, 0, 1, 0, 0, 0};
    twice.insert(twice.end(), wrapped.begin(), wrapped.end());
    r = Decode(twice);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].kind, RecordKind::Malformed);
}

TEST(DiagDecoder, RepliesAreNamedAndShortPacketsAreMalformed)
{
    struct Case {
        const char* name;
        Bytes packet;
        RecordKind kind;
        const char* recordName;
        const char* text;
    };
    const Case cases[] = {
        {"log config reply", {0x73, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}, RecordKind::Reply, "Log config",
         "00 00 00 03 00 00 00 00 00 00 00"},
        {"event report switched on", {0x60, 0, 0}, RecordKind::Reply, "Event report", "00 00"},
        {"bad command", {0x13, 0x42}, RecordKind::Reply, "Bad command", "42"},
        {"extended build id", {0x7C, 2}, RecordKind::Reply, "Extended build id", "02"},
        {"a code no table knows", {0xEE}, RecordKind::Reply, "Unknown command", ""},
        {"empty", {}, RecordKind::Malformed, "empty packet", ""},
        {"log record header cut", {0x10, 0, 0x20, 0}, RecordKind::Malformed, "log record cut short", "10 00 20 00"},
        {"event report without its length", {0x60, 5}, RecordKind::Malformed, "event report cut short", "60 05"},
        {"event length past the end", {0x60, 9, 0, 1}, RecordKind::Malformed, "event report cut short",
         "60 09 00 01"},
        {"extended message header cut", {0x79, 0, 0}, RecordKind::Malformed, "debug message cut short", "79 00 00"},
        {"hashed message without its hash", decodetest::MessageHeader(0x92, 0, 0, 0, 0, 0), RecordKind::Malformed,
         "terse message cut short", nullptr},
        {"QShrink 4 header cut", {0x99, 0, 0}, RecordKind::Malformed, "terse message cut short", "99 00 00"},
        {"multi-SIM header only", {0x98, 0, 0, 0, 1, 0, 0, 0}, RecordKind::Malformed, "multi-SIM wrapper cut short",
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = Decode(c.packet);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].kind, c.kind);
        EXPECT_EQ(r[0].name, c.recordName);
        if (c.text) {
            EXPECT_EQ(r[0].text, c.text);
        }
        EXPECT_FALSE(r[0].timestamp);
    }
    // A long reply shows its first kMaxReplyHexBytes after the code, then its size.
    Bytes longReply(100, 0x11);
    longReply[0] = 0x73;
    const auto lr = Decode(longReply);
    ASSERT_EQ(lr.size(), 1u);
    EXPECT_EQ(lr[0].text, decode::HexBytes(std::span(longReply).subspan(1, 32)) + " ... (99 bytes)");
    // Long packets are shown up to kMaxHexBytes, then their size.
    const Bytes big(1000, 0xAB);
    EXPECT_EQ(decode::HexBytes(big).size(), decode::CDiagDecoder::kMaxHexBytes * 3 - 1 + std::string(" ... (1000 bytes)").size());
}

TEST(DiagDecoder, WithoutNamesLogRecordsAndEventsCarryNone)
{
    decode::CDiagDecoder decoder;
    decoder.SetNames(false);
    std::vector<DecodedRecord> out;
    decoder.Decode(decodetest::LogRecord(0xB0C0, 1, {}), out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].name.empty());
    // The length first; a signalling code adds what its tables make of the payload.
    EXPECT_EQ(out[0].text.rfind("0 bytes", 0), 0u) << out[0].text;
}

}  // namespace

namespace {

// Records reused from an earlier batch carry nothing of it.
TEST(DiagDecoder, ReusedRecordsStartEmpty)
{
    decode::CDiagDecoder decoder;
    std::vector<DecodedRecord> pool;
    Bytes wrapped{0x98, 0, 0, 0, 3, 0, 0, 0};
    Bytes message = decodetest::MessageHeader(0x79, 0, 9, 1, 77, 0x10);
    decodetest::Text(message, "long enough text to leave the small-string buffer");
    decodetest::Text(message, "some_long_file_name.c");
    wrapped.insert(wrapped.end(), message.begin(), message.end());
    ASSERT_EQ(decoder.Decode(wrapped, pool, 0), 1u);
    EXPECT_EQ(pool[0].radioId, 3u);

    Bytes events{0x60, 2, 0};
    decodetest::Le(events, 1606 | 0x8000, 2);   // cut after its id: malformed, no time
    ASSERT_EQ(decoder.Decode(events, pool, 0), 1u);
    EXPECT_EQ(pool[0].kind, RecordKind::Malformed);
    EXPECT_FALSE(pool[0].timestamp);
    EXPECT_EQ(pool[0].level, 0u);
    EXPECT_EQ(pool[0].radioId, 0u);
    EXPECT_EQ(pool[0].code, 0x60u);
    EXPECT_EQ(pool[0].name, "event report cut short");
    EXPECT_EQ(pool[0].text, "60 02 00 46 86");

    // After the used ones, and a used count past the end is taken as the end.
    EXPECT_EQ(decoder.Decode(decodetest::LogRecord(0xB0C0, 1, {}), pool, 1), 2u);
    EXPECT_EQ(pool[1].name, "LTE RRC OTA");
    EXPECT_EQ(decoder.Decode(decodetest::LogRecord(0xB0C0, 1, {}), pool, 99), 3u);
}

}  // namespace
