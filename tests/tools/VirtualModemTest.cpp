// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/vmodem/VirtualModem.h"

#include "tools/vmodem/LogRecords.h"

#include "tools/VmodemTestUtil.h"

#include <gtest/gtest.h>

#include <set>

using vmtest::Bytes;
using vmtest::RefFrame;
using vmtest::Text;
using namespace std::chrono_literals;

namespace {

struct Step {
    Bytes request;
    Bytes reply;
};

struct Case {
    const char* name;
    std::vector<Step> steps;   // run in order on one modem
};

Bytes Cat(std::initializer_list<Bytes> parts) { return vmtest::Concat(parts); }

std::uint32_t Le32At(const Bytes& b, std::size_t at)
{
    return b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) | (static_cast<std::uint32_t>(b.at(at + 3)) << 24);
}

// 73 op 3 for equipment 1 with items 5 and 32: count 33, mask of 5 bytes.
const Bytes kSetEquip1 = {0x73, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 33, 0, 0, 0, 0x20, 0, 0, 0, 0x01};
const Bytes kSetEquip1Reply = {0x73, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 33, 0, 0, 0, 0x20, 0, 0, 0, 0x01};
const Bytes kDisableLogs = {0x73, 0, 0, 0, 0, 0, 0, 0};

// 73 op 3 for equipment 11 (LTE) with items 0xC0 (RRC OTA) and 0xED (EMM
// outgoing): count 238, 30 mask bytes, bit 0 of byte 24 and bit 5 of byte 29.
Bytes SetLteMask()
{
    Bytes b{0x73, 0, 0, 0, 3, 0, 0, 0, 11, 0, 0, 0, 238, 0, 0, 0};
    b.resize(16 + 30, 0);
    b[16 + 24] = 0x01;
    b[16 + 29] = 0x20;
    return b;
}
const Bytes kSetLte = SetLteMask();

}  // namespace

TEST(VirtualModem, AnswersRequests)
{
    const Case cases[] = {
        {"event report on: 60 00 00", {{{0x60, 0x01}, {0x60, 0x00, 0x00}}}},
        {"event report cut short: bad length", {{{0x60}, {0x15, 0x60}}}},
        {"event mask ids 1,2,3: echoed with status 0",
         {{{0x82, 0, 0, 0, 0x08, 0x00, 0x0E}, {0x82, 0, 0, 0, 0x08, 0x00, 0x0E}}}},
        {"event mask of 16 bits with one mask byte: bad length",
         {{{0x82, 0, 0, 0, 0x10, 0x00, 0x01}, {0x15, 0x82, 0, 0, 0, 0x10, 0x00, 0x01}}}},
        {"73 op 0 disables: header, status 0", {{kDisableLogs, {0x73, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}}},
        {"73 op 3 set: header, status 0, equipment, count, mask", {{kSetEquip1, kSetEquip1Reply}}},
        {"73 op 4 reads back what op 3 set",
         {{kSetEquip1, kSetEquip1Reply},
          {{0x73, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0}, {0x73, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 33, 0, 0, 0, 0x20, 0, 0, 0, 0x01}}}},
        {"73 op 4 of an equipment never set: no items",
         {{{0x73, 0, 0, 0, 4, 0, 0, 0, 9, 0, 0, 0}, {0x73, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0}}}},
        {"73 op 4 after op 0: cleared",
         {{kSetEquip1, kSetEquip1Reply},
          {kDisableLogs, {0x73, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
          {{0x73, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0}, {0x73, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}}}},
        {"73 op 3 equipment 16: status 1 (invalid), no mask",
         {{{0x73, 0, 0, 0, 3, 0, 0, 0, 16, 0, 0, 0, 8, 0, 0, 0, 0xFF},
           {0x73, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 16, 0, 0, 0, 8, 0, 0, 0}}}},
        {"73 op 4 equipment 16: status 1", {{{0x73, 0, 0, 0, 4, 0, 0, 0, 16, 0, 0, 0}, {0x73, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0}}}},
        {"73 op 3 with the mask cut short: bad length",
         {{{0x73, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 33, 0, 0, 0, 0x20},
           {0x15, 0x73, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 33, 0, 0, 0}}}},
        {"73 op 2 is not known: bad command", {{{0x73, 0, 0, 0, 2, 0, 0, 0}, {0x13, 0x73, 0, 0, 0, 2, 0, 0, 0}}}},
        {"73 without its op: bad length", {{{0x73, 0, 0, 0}, {0x15, 0x73, 0, 0, 0}}}},
        {"7D 04 set ssids 0-1: echoed with status 1",
         {{{0x7D, 0x04, 0, 0, 1, 0, 0, 0, 0x1F, 0, 0, 0, 0x06, 0, 0, 0},
           {0x7D, 0x04, 0, 0, 1, 0, 1, 0, 0x1F, 0, 0, 0, 0x06, 0, 0, 0}}}},
        {"7D 03 reads back what 7D 04 set",
         {{{0x7D, 0x04, 0xB8, 0x0B, 0xB9, 0x0B, 0, 0, 0x1C, 0, 0, 0, 0x1E, 0, 0, 0},
           {0x7D, 0x04, 0xB8, 0x0B, 0xB9, 0x0B, 1, 0, 0x1C, 0, 0, 0, 0x1E, 0, 0, 0}},
          {{0x7D, 0x03, 0xB7, 0x0B, 0xB9, 0x0B},
           {0x7D, 0x03, 0xB7, 0x0B, 0xB9, 0x0B, 1, 0, 0, 0, 0, 0, 0x1C, 0, 0, 0, 0x1E, 0, 0, 0}}}},
        {"7D 05 sets every ssid; a later 7D 04 overrides one",
         {{{0x7D, 0x05, 0, 0, 0x1F, 0, 0, 0}, {0x7D, 0x05, 1, 0, 0x1F, 0, 0, 0}},
          {{0x7D, 0x04, 0x71, 0x17, 0x71, 0x17, 0, 0, 0x02, 0, 0, 0}, {0x7D, 0x04, 0x71, 0x17, 0x71, 0x17, 1, 0, 0x02, 0, 0, 0}},
          {{0x7D, 0x03, 0x70, 0x17, 0x71, 0x17}, {0x7D, 0x03, 0x70, 0x17, 0x71, 0x17, 1, 0, 0x1F, 0, 0, 0, 0x02, 0, 0, 0}}}},
        {"7D 04 with last below first: status 0, no masks",
         {{{0x7D, 0x04, 5, 0, 4, 0, 0, 0}, {0x7D, 0x04, 5, 0, 4, 0, 0, 0}}}},
        {"7D 04 with a mask missing: bad length",
         {{{0x7D, 0x04, 0, 0, 1, 0, 0, 0, 0x1F, 0, 0, 0}, {0x15, 0x7D, 0x04, 0, 0, 1, 0, 0, 0, 0x1F, 0, 0, 0}}}},
        {"7D 02 is not known: bad command", {{{0x7D, 0x02, 0, 0, 0, 0}, {0x13, 0x7D, 0x02, 0, 0, 0, 0}}}},
        {"DM AT: 5E ATI 0D answered with 5E and the text",
         {{Cat({{0x5E}, Text("AT"), {0x0D}}), Cat({{0x5E}, Text("\r\nOK\r\n")})}}},
        {"DM AT unknown command: ERROR", {{Cat({{0x5E}, Text("ATX9"), {0x0D}}), Cat({{0x5E}, Text("\r\nERROR\r\n")})}}},
        // The Log server's table answers these.
        {"1C from the Log server's table", {{{0x1C}, {0x1C, 0x08, 0x00}}}},
        {"1D from the Log server's table", {{{0x1D}, {0x1D, 0x3B, 0x8D, 0x10, 0xEE, 0x8F, 0x7B, 0x75, 0x00}}}},
        {"4B 04 0E from the Log server's table", {{{0x4B, 0x04, 0x0E, 0x00}, {0x4B, 0x04, 0x0E, 0x00, 0x01}}}},
        {"0C: the Log server's bad-command reply", {{{0x0C}, {0x13, 0x0C}}}},
        {"4B 04 0F: the Log server's bad-command reply", {{{0x4B, 0x04, 0x0F, 0x00}, {0x13, 0x4B, 0x04, 0x0F, 0x00}}}},
        // Neither table knows these.
        {"unknown code: bad command", {{{0xFA, 0x01}, {0x13, 0xFA, 0x01}}}},
        {"framed AT$QCDMG: bad command, first 16 bytes echoed",
         {{Text("AT$QCDMG and more text"), Cat({{0x13}, Text("AT$QCDMG and mor")})}}},
        {"the Log server sees the request un-escaped", {{{0x0C, 0x7E, 0x7D}, {0x13, 0x0C, 0x7E, 0x7D}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CVirtualModem modem;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i));
            EXPECT_EQ(modem.Answer(c.steps[i].request), c.steps[i].reply);
        }
    }
}

TEST(VirtualModem, LogServerEchoRequestIsPaddedWithZeros)
{
    CVirtualModem modem;
    const Bytes reply = modem.Answer(Bytes{0x26, 0x01, 0x02});
    ASSERT_EQ(reply.size(), 133u);
    EXPECT_EQ(reply[0], 0x26);
    EXPECT_EQ(reply[1], 0x01);
    EXPECT_EQ(reply[2], 0x02);
    // The Log server echoes the chunk it received, FCS and flag included ...
    const std::uint16_t fcs = vmtest::RefFcs(Bytes{0x26, 0x01, 0x02});
    EXPECT_EQ(reply[3], fcs & 0xFF);
    EXPECT_EQ(reply[4], fcs >> 8);
    EXPECT_EQ(reply[5], 0x7E);
    // ... and past a short request there are zeros, not stray memory.
    for (std::size_t i = 6; i < 131; ++i)
        ASSERT_EQ(reply[i], 0x00) << "byte " << i;
    EXPECT_EQ(reply[131], 0x05);
    EXPECT_EQ(reply[132], 0x00);
}

TEST(VirtualModem, RangesCoverTheToolsDefaultConfiguration)
{
    CVirtualModem modem;
    const Bytes logRanges = modem.Answer(Bytes{0x73, 0, 0, 0, 1, 0, 0, 0});
    ASSERT_EQ(logRanges.size(), 12u + 16 * 4);
    EXPECT_EQ(Bytes(logRanges.begin(), logRanges.begin() + 12), (Bytes{0x73, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
    // Item counts the default packets set per equipment id: the last item must reach them.
    const std::pair<std::uint32_t, std::uint32_t> defaults[] = {{1, 1009}, {4, 2328}, {5, 1064}, {7, 1287}};
    for (const auto& [equip, count] : defaults)
        EXPECT_GE(Le32At(logRanges, 12 + 4 * equip) + 1, count) << "equipment " << equip;

    const Bytes msgRanges = modem.Answer(Bytes{0x7D, 0x01});
    ASSERT_GE(msgRanges.size(), 8u);
    EXPECT_EQ(Bytes(msgRanges.begin(), msgRanges.begin() + 4), (Bytes{0x7D, 0x01, 0x01, 0x00}));
    const std::uint32_t count = Le32At(msgRanges, 4);
    ASSERT_EQ(msgRanges.size(), 8u + 4 * count);
    const std::pair<std::uint16_t, std::uint16_t> used[] = {{0, 51}, {3000, 3012}, {4000, 4010}, {5000, 5018}, {6000, 6039}};
    for (const auto& [first, last] : used) {
        bool covered = false;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint16_t a = static_cast<std::uint16_t>(msgRanges[8 + 4 * i] | (msgRanges[9 + 4 * i] << 8));
            const std::uint16_t b = static_cast<std::uint16_t>(msgRanges[10 + 4 * i] | (msgRanges[11 + 4 * i] << 8));
            EXPECT_LE(a, b);
            covered = covered || (a <= first && last <= b);
        }
        EXPECT_TRUE(covered) << first << ".." << last;
    }
}

TEST(VirtualModem, ReceiveFramesRepliesIgnoresBadFramesAndAnswersText)
{
    CVirtualModem modem;
    EXPECT_EQ(modem.Receive(RefFrame({0x1C})), RefFrame({0x1C, 0x08, 0x00}));
    Bytes broken = RefFrame({0x1C});
    broken[1] ^= 0x01;   // the FCS
    EXPECT_TRUE(modem.Receive(broken).empty());
    EXPECT_EQ(modem.BadFrames(), 1u);
    EXPECT_EQ(modem.Receive(Text("AT\r")), Text("\r\nOK\r\n"));
    EXPECT_EQ(modem.Receive(Text("hello\r\n")), Text("\r\nERROR\r\n"));
    const Bytes ati = modem.Receive(Text("ati\r"));
    const std::string text(ati.begin(), ati.end());
    EXPECT_EQ(text.rfind("\r\nOK\r\n"), text.size() - 6) << text;
    // A request split over reads, two frames in one read.
    EXPECT_TRUE(modem.Receive(Bytes{0x60}).empty());
    EXPECT_EQ(modem.Receive(Cat({{0x01, 0x9B, 0x7B, 0x7E}, RefFrame({0x0C})})),
              Cat({RefFrame({0x60, 0x00, 0x00}), RefFrame({0x13, 0x0C})}));
    EXPECT_EQ(modem.GoodFrames(), 3u);
}

TEST(VirtualModem, AnswerText)
{
    const std::pair<const char*, const char*> cases[] = {
        {"AT", "\r\nOK\r\n"}, {"at", "\r\nOK\r\n"}, {"  AT  ", "\r\nOK\r\n"}, {"ATZ", "\r\nERROR\r\n"},
        {"", ""}, {"   ", ""}, {"AT+CGMI", "\r\nERROR\r\n"},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(in);
        EXPECT_EQ(CVirtualModem::AnswerText(in), out);
    }
    const std::string ati = CVirtualModem::AnswerText("ATI");
    EXPECT_EQ(ati.substr(0, 2), "\r\n");
    EXPECT_EQ(ati.substr(ati.size() - 6), "\r\nOK\r\n");
}

namespace {

struct LogPacket {
    std::uint16_t code;
    std::uint64_t timestamp;
};

// Checks every frame and packet of a stream and returns the packets.
std::vector<LogPacket> ParseStream(const Bytes& wire)
{
    int bad = 0;
    Bytes rest;
    const std::vector<Bytes> packets = vmtest::RefDeframe(wire, bad, &rest);
    EXPECT_EQ(bad, 0);
    EXPECT_TRUE(rest.empty()) << "stream ends inside a frame";
    std::vector<LogPacket> out;
    for (const Bytes& p : packets) {
        EXPECT_GT(p.size(), 16u);
        if (p.size() <= 16)
            continue;
        EXPECT_EQ(p[0], 0x10);
        EXPECT_EQ(p[1], 0x00);
        const std::size_t len = p[2] | (p[3] << 8);
        EXPECT_EQ(len, p.size() - 4);
        EXPECT_EQ(len, static_cast<std::size_t>(p[4] | (p[5] << 8)));
        const std::uint16_t code = static_cast<std::uint16_t>(p[6] | (p[7] << 8));
        EXPECT_TRUE(vmlog::CanBuildLog(code)) << std::hex << code;
        out.push_back({code, Le32At(p, 8) | (static_cast<std::uint64_t>(Le32At(p, 12)) << 32)});
    }
    return out;
}

}  // namespace

TEST(VirtualModem, StreamStartsOnlyOnceALogCodeItBuildsIsEnabled)
{
    CVirtualModem modem(1000);
    const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
    EXPECT_FALSE(modem.NextLogDue(t0));
    EXPECT_TRUE(modem.TakeLogStream(t0, 4096).empty());
    // Message settings, and an empty log mask, start nothing.
    modem.Answer(Bytes{0x7D, 0x05, 0, 0, 0x1D, 0, 0, 0});
    modem.Answer(Bytes{0x73, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 0x00});
    EXPECT_FALSE(modem.StreamActive());
    EXPECT_TRUE(modem.TakeLogStream(t0 + 1s, 4096).empty());
    // Codes it has no layout for are enabled but not streamed.
    modem.Answer(kSetEquip1);
    EXPECT_EQ(modem.EnabledLogCodes(), (std::vector<std::uint16_t>{0x1005, 0x1020}));
    EXPECT_FALSE(modem.StreamActive());
    EXPECT_TRUE(modem.TakeLogStream(t0 + 1s, 4096).empty());

    modem.Answer(kSetLte);
    EXPECT_TRUE(modem.StreamActive());
    EXPECT_EQ(modem.EnabledLogCodes(), (std::vector<std::uint16_t>{0x1005, 0x1020, 0xB0C0, 0xB0ED}));
    EXPECT_EQ(modem.StreamedLogCodes(), (std::vector<std::uint16_t>{0xB0C0, 0xB0ED}));
    Bytes wire;
    for (int ms = 0; ms <= 2000; ms += 10) {
        const Bytes chunk = modem.TakeLogStream(t0 + 2s + std::chrono::milliseconds(ms), 4096);
        wire.insert(wire.end(), chunk.begin(), chunk.end());
    }
    const std::vector<LogPacket> packets = ParseStream(wire);
    ASSERT_GE(packets.size(), 10u);
    for (std::size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].code, i % 2 ? 0xB0ED : 0xB0C0);
        if (i > 0) {
            EXPECT_GE(packets[i].timestamp, packets[i - 1].timestamp);
        }
    }
    // Without a wall clock the stamps count from the start of the stream.
    EXPECT_LT(packets.front().timestamp, 800ull << 16);
    EXPECT_GT(packets.back().timestamp, packets.front().timestamp);

    // A new mask for equipment 11 replaces the old codes at once.
    Bytes onlyRrc = kSetLte;
    onlyRrc[16 + 29] = 0;
    modem.Answer(onlyRrc);
    const std::vector<LogPacket> after = ParseStream(modem.TakeLogStream(t0 + 5s, 4096));
    ASSERT_FALSE(after.empty());
    for (const LogPacket& p : after)
        EXPECT_EQ(p.code, 0xB0C0);

    // 73 op 0 stops it.
    modem.Answer(kDisableLogs);
    EXPECT_FALSE(modem.StreamActive());
    EXPECT_TRUE(modem.TakeLogStream(t0 + 10s, 4096).empty());
    EXPECT_FALSE(modem.NextLogDue(t0 + 10s));
}

TEST(VirtualModem, StreamKeepsItsRateOnAMadeUpClock)
{
    const std::uint32_t rates[] = {1000, 20000, 250000};
    for (const std::uint32_t rate : rates) {
        SCOPED_TRACE("rate " + std::to_string(rate));
        CVirtualModem modem(rate);
        modem.Answer(kSetLte);
        const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
        std::size_t total = 0;
        std::size_t frame = 0;
        auto now = t0;
        // Wake when the modem says the next packet is due, as the poll loop does.
        while (now < t0 + 10s) {
            const Bytes chunk = modem.TakeLogStream(now, 1 << 20);
            total += chunk.size();
            if (frame == 0)
                frame = chunk.size();
            const auto due = modem.NextLogDue(now);
            ASSERT_TRUE(due);
            now += std::max<std::chrono::nanoseconds>(*due, 1ms);
        }
        const double expected = rate * 10.0;
        EXPECT_NEAR(static_cast<double>(total), expected, expected * 0.01 + 2.0 * static_cast<double>(frame));
    }
}

TEST(VirtualModem, StalledLineEarnsNoBurst)
{
    CVirtualModem modem(10000);
    modem.Answer(kSetLte);
    const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
    const Bytes first = modem.TakeLogStream(t0, 4096);
    ASSERT_FALSE(first.empty());   // the first packet goes at once
    EXPECT_TRUE(modem.TakeLogStream(t0 + 1ms, 0).empty());
    EXPECT_TRUE(modem.TakeLogStream(t0 + 5s, 0).empty());   // no room for five seconds
    const Bytes burst = modem.TakeLogStream(t0 + 5s + 1ms, 1 << 20);
    EXPECT_LE(burst.size(), 10000u / 10 + first.size());
    EXPECT_FALSE(burst.empty());
}

TEST(VirtualModem, UnpacedStreamFillsTheRoomWithWholeFrames)
{
    CVirtualModem modem(0);
    modem.Answer(kSetLte);
    const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
    EXPECT_FALSE(modem.NextLogDue(t0));
    const Bytes wire = modem.TakeLogStream(t0, 1000);
    ASSERT_FALSE(wire.empty());
    EXPECT_LE(wire.size(), 1000u);
    EXPECT_EQ(wire.back(), 0x7E);
    const std::vector<LogPacket> packets = ParseStream(wire);
    EXPECT_GT(1000 - wire.size(), 0u);
    EXPECT_LT(1000 - wire.size(), wire.size() / packets.size() + 4);
    // The same instant gives more: no pacing.
    EXPECT_FALSE(modem.TakeLogStream(t0, 1000).empty());
}

TEST(VirtualModem, FieldClientStartUpsGetOneReplyPerRequest)
{
    // Start-up sequences of DIAG clients in the field, and the polls some send.
    const Bytes setEquip = {0x73, 0, 0, 0, 3, 0, 0, 0, 5, 0, 0, 0, 16, 0, 0, 0, 0xFF, 0xFF};
    const std::vector<std::pair<const char*, std::vector<Bytes>>> sequences = {
        {"disable, all messages, version, build id, diag version, ESN",
         {kDisableLogs, {0x7D, 0x05, 0, 0, 0x1F, 0, 0, 0}, {0x00}, {0x7C}, {0x1C}, {0x01}}},
        {"events off, log ranges, masks per equipment, message ranges and masks, events on",
         {{0x60, 0x00}, {0x73, 0, 0, 0, 1, 0, 0, 0}, setEquip, kSetEquip1, {0x7D, 0x01},
          {0x7D, 0x04, 0, 0, 2, 0, 0, 0, 0x1F, 0, 0, 0, 0x1F, 0, 0, 0, 0x1F, 0, 0, 0}, {0x60, 0x01}}},
        {"polls", {{0x1D}, {0x0C}, {0x26, 0x47, 0x00}, {0x4B, 0x04, 0x0E, 0x00}, {0x4B, 0x0F, 0x00, 0x00}, {0x63}}},
    };
    for (const auto& [name, requests] : sequences) {
        SCOPED_TRACE(name);
        CVirtualModem modem;
        for (const Bytes& request : requests) {
            SCOPED_TRACE(testing::PrintToString(request));
            const Bytes wire = modem.Receive(RefFrame(request));
            int bad = 0;
            Bytes rest;
            const std::vector<Bytes> replies = vmtest::RefDeframe(wire, bad, &rest);
            EXPECT_EQ(bad, 0);
            EXPECT_TRUE(rest.empty());
            ASSERT_EQ(replies.size(), 1u);
            // A reply names the request's command, or says it was not understood.
            EXPECT_TRUE(replies[0].at(0) == request[0] || replies[0].at(0) == 0x13) << int(replies[0].at(0));
        }
    }
}
