// SPDX-License-Identifier: GPL-2.0-or-later
// The virtual modem's records, read the way open DIAG decoders read them:
// every field where those decoders look for it, and lengths that agree.
#include "tools/vmodem/LogRecords.h"
#include "tools/vmodem/ModemReplies.h"

#include "logserver/CannedReplies.h"
#include "tools/VmodemTestUtil.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using vmtest::Bytes;

namespace {

std::uint32_t Le16(const Bytes& b, std::size_t at) { return b.at(at) | (b.at(at + 1) << 8); }
std::uint32_t Le32(const Bytes& b, std::size_t at) { return Le16(b, at) | (Le16(b, at + 2) << 16); }
std::uint64_t Le64(const Bytes& b, std::size_t at) { return Le32(b, at) | (static_cast<std::uint64_t>(Le32(b, at + 4)) << 32); }

Bytes Tail(const Bytes& b, std::size_t from) { return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.end()); }

// The over-the-air message inside a payload, found as the decoders find it;
// fails the test (and returns nothing) where a decoder would warn or raise.
Bytes DecodeAsClientsDo(std::uint16_t code, const Bytes& p)
{
    switch (code) {
    case 0x412F: {   // channel u8, bearer u8, length u16, message
        EXPECT_GE(p.size(), 4u);
        EXPECT_LE(p.at(0), 10) << "channel type decoders know";
        EXPECT_EQ(Le16(p, 2), p.size() - 4);
        return Tail(p, 4);
    }
    case 0x512F: {   // channel | 0x80 downlink, message type, length u8, message
        EXPECT_GE(p.size(), 3u);
        const std::set<int> channels{0, 1, 2, 3, 4, 5, 6, 7, 8};
        EXPECT_TRUE(channels.count(p.at(0) & 0x7F));
        EXPECT_EQ(p.at(2), p.size() - 3);
        EXPECT_EQ(p.at(1), p.at(5)) << "message type is the RR message's own (after pseudo length and PD)";
        return Tail(p, 3);
    }
    case 0x713A: {   // direction u8, length u32, message
        EXPECT_GE(p.size(), 5u);
        EXPECT_LE(p.at(0), 1);
        EXPECT_EQ(Le32(p, 1), p.size() - 5);
        return Tail(p, 5);
    }
    case 0xB0C0: {   // version 8: rel, rel, bearer, pci u16, earfcn u32, sfn u16, pdu, sib mask u32, len u16
        EXPECT_GE(p.size(), 19u);
        EXPECT_EQ(p.at(0), 8);
        const std::set<int> pduTypes{1, 2, 3, 4, 5, 6, 7, 8};   // the channel numbering of version 8
        EXPECT_TRUE(pduTypes.count(p.at(12))) << int(p.at(12));
        EXPECT_EQ(Le16(p, 17), p.size() - 19);
        // One decoder tells the layout with and without a SIB mask apart by
        // the u16 where the length would be without one: it must not match.
        EXPECT_NE(Le16(p, 13), p.size() - 15);
        return Tail(p, 19);
    }
    case 0xB0E2:
    case 0xB0E3:
    case 0xB0EC:
    case 0xB0ED: {   // version, three release bytes, message
        EXPECT_GE(p.size(), 5u);
        EXPECT_EQ(p.at(0), 1);
        const Bytes msg = Tail(p, 4);
        const bool esm = code == 0xB0E2 || code == 0xB0E3;
        EXPECT_EQ(msg.at(0) & 0x0F, esm ? 0x02 : 0x07) << "protocol discriminator";
        if (!esm) {
            EXPECT_EQ(msg.at(0) >> 4, 0) << "plain: no security header";
        }
        return msg;
    }
    default:
        ADD_FAILURE() << "no decoder for " << std::hex << code;
        return {};
    }
}

}  // namespace

TEST(LogRecords, EveryBuildableKindDecodesAsClientsReadIt)
{
    const auto kinds = vmlog::BuildableLogKinds();
    // The codes the common views need.
    std::set<std::uint16_t> codes;
    for (const vmlog::LogKind& k : kinds)
        codes.insert(k.code);
    for (const std::uint16_t needed : {0xB0C0, 0xB0EC, 0xB0ED, 0xB0E2, 0xB0E3, 0x412F, 0x512F})
        EXPECT_TRUE(codes.count(needed)) << std::hex << needed;

    const std::uint64_t stamp = 0x0123456789ABCDEFull;
    for (const vmlog::LogKind& k : kinds) {
        SCOPED_TRACE(std::string(k.name));
        EXPECT_TRUE(vmlog::CanBuildLog(k.code));
        std::set<Bytes> messages;
        for (std::uint32_t seq = 0; seq < 2 * k.messages + 1; ++seq) {
            SCOPED_TRACE("record " + std::to_string(seq));
            const Bytes r = vmlog::BuildLogRecord(k.code, seq, stamp);
            ASSERT_GE(r.size(), vmlog::kLogHeader + 1);
            EXPECT_EQ(r[0], 0x10);
            EXPECT_EQ(r[1], 0x00);
            EXPECT_EQ(Le16(r, 2), r.size() - 4) << "length: from len2 to the end";
            EXPECT_EQ(Le16(r, 4), r.size() - 4) << "len2 = 12 + payload";
            EXPECT_EQ(Le16(r, 6), k.code);
            EXPECT_EQ(Le64(r, 8), stamp);
            const Bytes payload = Tail(r, vmlog::kLogHeader);
            EXPECT_EQ(payload, vmlog::LogPayload(k.code, seq));
            const Bytes msg = DecodeAsClientsDo(k.code, payload);
            EXPECT_FALSE(msg.empty());
            messages.insert(msg);
        }
        EXPECT_EQ(messages.size(), k.messages) << "each of the code's messages comes in turn";
    }
}

TEST(LogRecords, PayloadsSpelledOutField)
{
    struct Case {
        const char* name;
        std::uint16_t code;
        std::uint32_t seq;
        Bytes payload;
    };
    const Case cases[] = {
        {"LTE RRC MIB on BCCH-BCH", 0xB0C0, 0,
         {8, 9, 0xB0, 0, /*PCI 257*/ 0x01, 0x01, /*EARFCN 1300*/ 0x14, 0x05, 0, 0, /*SFN 0*/ 0, 0, /*BCCH-BCH*/ 1,
          /*SIB mask*/ 0, 0, 0, 0, /*length*/ 3, 0, 0x68, 0x48, 0x00}},
        {"LTE RRC SIB1 on BCCH-DL-SCH, SFN 4 in the upper 12 bits", 0xB0C0, 1,
         {8, 9, 0xB0, 0, 0x01, 0x01, 0x14, 0x05, 0, 0, 0x40, 0x00, 2, 0, 0, 0, 0, 15, 0,
          0x40, 0x40, 0x04, 0x03, 0x00, 0x01, 0x00, 0x01, 0xA2, 0xD8, 0x14, 0x20, 0x10, 0x50, 0x80}},
        {"LTE RRC connection request on UL-CCCH", 0xB0C0, 2,
         {8, 9, 0xB0, 0, 0x01, 0x01, 0x14, 0x05, 0, 0, 0x80, 0x00, 7, 0, 0, 0, 0, 6, 0, 0x51, 0x23, 0x45, 0x67, 0x89, 0xA6}},
        {"EMM attach request: PD 7, type 0x41, IMSI 001010123456789", 0xB0ED, 0,
         {1, 9, 5, 0, 0x07, 0x41, 0x71, 0x08, 0x09, 0x10, 0x10, 0x10, 0x32, 0x54, 0x76, 0x98, 0x02, 0xE0, 0xE0,
          0x00, 0x04, 0x02, 0x01, 0xD0, 0x11}},
        {"EMM identity request", 0xB0EC, 0, {1, 9, 5, 0, 0x07, 0x55, 0x01}},
        {"ESM PDN connectivity request", 0xB0E3, 0, {1, 9, 5, 0, 0x02, 0x01, 0xD0, 0x11}},
        {"ESM information request", 0xB0E2, 0, {1, 9, 5, 0, 0x02, 0x01, 0xD9}},
        {"WCDMA UL-CCCH RRC connection request", 0x412F, 0,
         {0, 0, 10, 0, 0x20, 0x90, 0x01, 0x01, 0x01, 0x23, 0x45, 0x67, 0x89, 0x60}},
        {"GSM BCCH downlink SI 3: 23-byte block", 0x512F, 0,
         {0x81, 0x1B, 23, 0x49, 0x06, 0x1B, 0x00, 0x01, 0x00, 0xF1, 0x10, 0x00, 0x01, 0x49, 0x03, 0x05, 0x27, 0x47,
          0x40, 0xE5, 0x04, 0x00, 0x2B, 0x2B, 0x2B, 0x2B}},
        {"UMTS NAS uplink location updating request", 0x713A, 0,
         {1, 18, 0, 0, 0, 0x05, 0x08, 0x70, 0x00, 0xF1, 0x10, 0x00, 0x01, 0x57, 0x08, 0x09, 0x10, 0x10, 0x10, 0x32,
          0x54, 0x76, 0x98}},
        {"a code it cannot build: nothing", 0x1005, 0, {}},
        {"LTE ML1 serving cell (no layout known): nothing", 0xB193, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(vmlog::LogPayload(c.code, c.seq), c.payload);
        if (c.payload.empty()) {
            EXPECT_FALSE(vmlog::CanBuildLog(c.code));
            EXPECT_TRUE(vmlog::BuildLogRecord(c.code, c.seq, 0).empty());
        }
    }
}

TEST(LogRecords, DmTimestamps)
{
    using std::chrono::nanoseconds;
    using namespace std::chrono_literals;
    const std::pair<nanoseconds, std::uint64_t> cases[] = {
        {0ns, 0},
        {1250us, 1ull << 16},                     // one tick
        {1s, 800ull << 16},
        {625us, 25600},                           // half a tick, in 1/32 chips (40960 per ms)
        {1251us, (1ull << 16) | 40},
        {-5s, 0},                                 // before the epoch: clamped
    };
    for (const auto& [since, stamp] : cases) {
        SCOPED_TRACE(since.count());
        EXPECT_EQ(vmlog::DmTimestamp(since), stamp);
    }
    // The GPS epoch, 1980-01-06, and a day later, on the wall clock.
    const std::chrono::system_clock::time_point epoch{std::chrono::seconds{315964800}};
    EXPECT_EQ(vmlog::DmTimestamp(epoch), 0u);
    EXPECT_EQ(vmlog::DmTimestamp(epoch + std::chrono::hours(24)), (86400ull * 800) << 16);
}

TEST(LogRecords, EventReportAndExtendedMessage)
{
    const std::uint64_t stamp = 0x1122334455667788ull;
    // 60, length of what follows, id 1606 with payload length 1 in bits 13-14, timestamp, the state.
    const std::pair<std::uint32_t, std::uint8_t> states[] = {{0, 2}, {1, 3}, {2, 4}, {3, 7}, {4, 2}};
    for (const auto& [seq, state] : states) {
        SCOPED_TRACE(seq);
        const Bytes e = vmlog::BuildEventReport(seq, stamp);
        EXPECT_EQ(e, (Bytes{0x60, 11, 0, 0x46, 0x26, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, state}));
    }
    // 79, ts type, one argument, drop count, timestamp, line, ssid, level, argument, format NUL, file NUL:
    // the stream's first message, as earlier versions sent it.
    const Bytes m = vmlog::BuildExtMessage(0, stamp);
    ASSERT_GT(m.size(), 24u);
    EXPECT_EQ(Bytes(m.begin(), m.begin() + 4), (Bytes{0x79, 0, 1, 0}));
    EXPECT_EQ(Le64(m, 4), stamp);
    EXPECT_EQ(Le16(m, 14), vmlog::kStreamMessageSsid);
    EXPECT_EQ(Le32(m, 16), vmlog::kStreamMessageLevel);
    EXPECT_EQ(Le32(m, 20), 257u);
    const std::string texts(m.begin() + 24, m.end());
    EXPECT_EQ(texts.back(), '\0');
    const std::size_t nul = texts.find('\0');
    ASSERT_NE(nul, texts.size() - 1) << "two texts";
    EXPECT_NE(texts.substr(0, nul).find("%d"), std::string::npos) << "the format takes its one argument";
}

TEST(ModemReplies, ExtendedBuildIdAndVersionAsClientsReadThem)
{
    const std::span<const std::uint8_t> b = vmreply::OwnReply(0x7C);
    const Bytes build(b.begin(), b.end());
    // 7C, format 2, two spare bytes, hardware version, model id ...
    ASSERT_GT(build.size(), 12u);
    EXPECT_EQ(Bytes(build.begin(), build.begin() + 12),
              (Bytes{0x7C, 0x02, 0x00, 0x00, 0xE1, 0x00, 0x0C, 0x20, 0xD1, 0x00, 0x00, 0x00}));
    // ... then exactly two texts, each ending in NUL: split at NUL, three parts.
    const std::string texts(build.begin() + 12, build.end());
    ASSERT_EQ(texts.back(), '\0');
    const std::size_t first = texts.find('\0');
    ASSERT_LT(first, texts.size() - 1);
    const std::string id = texts.substr(0, first);
    const std::string model = texts.substr(first + 1, texts.size() - first - 2);
    EXPECT_GT(id.size(), 1u);
    EXPECT_FALSE(model.empty());
    EXPECT_EQ(model.find('\0'), std::string::npos);

    // Version: 55 bytes, like the Log server's; clients print its five
    // fixed-width texts as they are, so no NUL or other control byte in them.
    const std::span<const std::uint8_t> v = vmreply::OwnReply(0x00);
    const Bytes version(v.begin(), v.end());
    ASSERT_EQ(version.size(), 55u);
    EXPECT_EQ(version[0], 0x00);
    for (std::size_t i = 1; i < 47; ++i)
        EXPECT_TRUE(version[i] >= 0x20 && version[i] < 0x7F) << "byte " << i;
    // The dates in the form compilers write them: "Mmm dd yyyy".
    for (const std::size_t at : {1u, 20u}) {
        EXPECT_EQ(version[at + 3], ' ');
        EXPECT_EQ(version[at + 6], ' ');
    }
    // The numbers after the texts are the Log server's.
    const std::span<const std::uint8_t> r00 = CannedReplyBytes(0x00);
    ASSERT_EQ(r00.size(), 55u);
    EXPECT_EQ(Tail(version, 47), Bytes(r00.begin() + 47, r00.end()));

    // Everything else is left to the Log server's table.
    for (const std::uint8_t cmd : {0x1C, 0x1D, 0x26, 0x4B, 0x51, 0x73}) {
        SCOPED_TRACE(int(cmd));
        EXPECT_TRUE(vmreply::OwnReply(cmd).empty());
    }
}
