// SPDX-License-Identifier: GPL-2.0-or-later
#include "logclient/DmcReader.h"
#include "logclient/MaskBuilders.h"
#include "support/Fixtures.h"
#include "support/Pty.h"
#include "support/SampleData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// An outgoing buffer with a guard after the room the builders are given, so a
// write past the room shows.
struct TxBuf {
    static constexpr std::uint8_t kGuard = 0xA5;
    std::array<std::uint8_t, kMaskPacketRoom + 64> bytes;
    TxBuf() { bytes.fill(kGuard); }
    std::span<std::uint8_t> Room() { return {bytes.data(), kMaskPacketRoom}; }
    bool GuardIntact() const
    {
        return std::all_of(bytes.begin() + kMaskPacketRoom, bytes.end(), [](std::uint8_t b) { return b == kGuard; });
    }
    Bytes Packet(std::size_t length) const { return {bytes.begin(), bytes.begin() + static_cast<long>(length)}; }
};

struct BuilderRun {
    std::vector<Bytes> packets;
    std::vector<int> done;
    bool finished = false;
};

// Calls the builder the way the configuration sequence does: positions at 0,
// again and again until done, with a limit so a builder that stops making
// progress fails instead of hanging.
BuilderRun RunLogConfig(const std::string& a, const std::string& b, int limit = 32)
{
    BuilderRun run;
    std::int32_t posA = 0, posB = 0;
    for (int call = 0; call < limit; ++call) {
        TxBuf tx;
        std::int32_t done = -1;
        const std::int32_t beforeA = posA;
        const std::size_t length = BuildLogConfig(a, b, posA, posB, tx.Room(), &done);
        EXPECT_TRUE(tx.GuardIntact());
        if (length > 0) {
            run.packets.push_back(tx.Packet(length));
            EXPECT_GT(posA, beforeA) << "a packet without progress";
        }
        run.done.push_back(done);
        if (done) {
            run.finished = true;
            break;
        }
        EXPECT_GT(length, 0u) << "a call that neither sends nor ends";
    }
    return run;
}

BuilderRun RunExtMsgConfig(const std::string& text, int limit = 70000)
{
    BuilderRun run;
    std::int32_t pos = 0;
    for (int call = 0; call < limit; ++call) {
        TxBuf tx;
        std::int32_t done = -1;
        const std::int32_t before = pos;
        const std::size_t length = BuildExtMsgConfig(text, pos, tx.Room(), &done);
        EXPECT_TRUE(tx.GuardIntact());
        if (length > 0)
            run.packets.push_back(tx.Packet(length));
        run.done.push_back(done);
        if (done) {
            run.finished = true;
            break;
        }
        EXPECT_GT(pos, before) << "a call without progress";
    }
    return run;
}

Bytes EventMask(std::initializer_list<std::uint8_t> mask)
{
    // Sized first and filled in place: GCC 12 takes an insert here for a write
    // past the six header bytes (-Warray-bounds).
    Bytes p(6 + mask.size());
    p[0] = 0x82;
    p[4] = static_cast<std::uint8_t>(8 * mask.size());
    p[5] = static_cast<std::uint8_t>((8 * mask.size()) >> 8);
    std::copy(mask.begin(), mask.end(), p.begin() + 6);
    return p;
}

// 0x73 set-mask packet for one equipment id, item count one above the highest item.
Bytes LogMask(std::uint8_t equipment, std::set<int> items)
{
    const std::uint32_t count = items.empty() ? 0 : static_cast<std::uint32_t>(*items.rbegin() + 1);
    Bytes p(16 + (count + 7) / 8, 0);
    p[0] = 0x73;
    p[4] = 3;
    p[8] = equipment;
    dmcmd::PutU32(p, 12, count);
    for (int i : items)
        p[16 + i / 8] |= static_cast<std::uint8_t>(1 << (i % 8));
    return p;
}

// 0x7D for ssids first..last with the given masks (ssid, mask).
Bytes LevelMask(std::uint16_t first, std::uint16_t last, std::vector<std::pair<int, std::uint32_t>> masks)
{
    Bytes p(12 + 4 * std::size_t(last - first), 0);
    p[0] = 0x7D;
    p[1] = 0x04;
    dmcmd::PutU16(p, 2, first);
    dmcmd::PutU16(p, 4, last);
    for (auto [ssid, mask] : masks)
        dmcmd::PutU32(p, 8 + 4 * std::size_t(ssid - first), mask);
    return p;
}

TEST(MaskBuilders, EventReport)
{
    TxBuf tx;
    EXPECT_EQ(BuildEventReport("", tx.Room()), 0u);
    ASSERT_EQ(BuildEventReport("1,2,3,", tx.Room()), 2u);
    EXPECT_EQ(tx.Packet(2), (Bytes{0x60, 0x01}));
    ASSERT_EQ(BuildEventReport("anything", tx.Room()), 2u);
}

TEST(MaskBuilders, EventMask)
{
    struct Case {
        const char* name;
        std::string text;
        Bytes packet;   // empty: nothing sent
    };
    Bytes highest(6 + 1018, 0);
    highest[0] = 0x82;
    dmcmd::PutU16(highest, 4, 8144);
    highest.back() = 0x80;
    const std::vector<Case> cases = {
        {"decimal ids each with a comma", "1,2,3,", {0x82, 0x00, 0x00, 0x00, 0x08, 0x00, 0x0E}},
        {"hexadecimal id", "0x8,", EventMask({0x00, 0x01})},
        {"final id without a comma is used", "1,2,3", EventMask({0x0E})},
        {"slash drops the token", "1/2,", EventMask({0x04})},
        {"space drops the token", "1 2,", EventMask({0x04})},
        {"descending: bit count follows the highest id", "9,2,1", EventMask({0x06, 0x02})},
        {"zero-padded decimals", "00009,00001,", EventMask({0x02, 0x02})},
        {"unconvertible token skipped", "0x1G,3,", EventMask({0x08})},
        {"nothing converted: empty mask", "0x,,", {0x82, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"15 characters fit the token", "000000000000005,", EventMask({0x20})},
        {"16 characters are dropped", "0000000000000005,", {0x82, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"highest id that fits the room", "8143,", highest},
        {"ids past the room are left out", "8143,8144,65535,", highest},
        {"empty text sends nothing", "", {}},
        {"line break after the last comma is no id 0", "1,2,\n", EventMask({0x06})},
        {"white space between entries is no id 0", "1,\r\n\t,2,  \n", EventMask({0x06})},
        {"line break before an id", "1,\n2,", EventMask({0x06})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TxBuf tx;
        std::int32_t done = 0;
        const std::size_t length = BuildEventMask(c.text, 0, tx.Room(), &done);
        EXPECT_EQ(done, 1);
        EXPECT_TRUE(tx.GuardIntact());
        EXPECT_EQ(tx.Packet(length), c.packet);
        if (length) {
            EXPECT_EQ(dmcmd::PacketLengthFromHeader(tx.Packet(length)), length);
        }
    }
}

TEST(MaskBuilders, LogConfig)
{
    struct Case {
        const char* name;
        std::string logCodes, otaTypes;
        std::vector<Bytes> packets;
    };
    const std::vector<Case> cases = {
        {"two equipment ids, merged at the second",
         "0x1005,0x1020,0x4002,",
         "0x4001,",
         {{0x73, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 33, 0, 0, 0, 0x20, 0, 0, 0, 0x01},
          {0x73, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 3, 0, 0, 0, 0x06}}},
        {"one list empty", "0x1005,", "", {{0x73, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0x20}}},
        {"four characters are dropped", "1234,", "", {}},
        {"both empty", "", "", {}},
        {"descending without separators", "0x4002,0x1020,0x1005", "0x4001",
         {LogMask(1, {5, 32}), LogMask(4, {1, 2})}},
        {"a list coming back to an id gives one packet", "0x1005,0x4002,0x1006,", "0x1007",
         {LogMask(1, {5, 6, 7}), LogMask(4, {2})}},
        {"only the other list", "", "0xB821,0x5226", {LogMask(5, {0x226}), LogMask(0xB, {0x821})}},
        {"equipment id 0 is skipped, not the end", "0x0005,0x1005,0x0006,0x2001,", "", {LogMask(1, {5}), LogMask(2, {1})}},
        {"slash ends a code like a comma", "0x1005/0x1006/", "", {LogMask(1, {5, 6})}},
        {"space drops the token", "0x1005 ,0x1006,", "", {LogMask(1, {6})}},
        {"five characters are dropped", "0x105,0x1006", "", {LogMask(1, {6})}},
        {"decimal of six characters", "004101,", "", {LogMask(1, {5})}},
        {"unconvertible code skipped", "0x10G5,0x1006,", "", {LogMask(1, {6})}},
        {"highest item of an id", "0x1FFF,", "", {LogMask(1, {0xFFF})}},
        {"white space of six characters is no code", "0x1005,\n\t\t\t\t\t", "\r\n    \n", {LogMask(1, {5})}},
        {"fifteen equipment ids", "0xF001,0xE001,0xD001,0xC001,0xB001,0xA001,0x9001,0x8001,0x7001,0x6001,0x5001,0x4001,0x3001,0x2001,0x1001",
         "",
         {LogMask(1, {1}), LogMask(2, {1}), LogMask(3, {1}), LogMask(4, {1}), LogMask(5, {1}), LogMask(6, {1}),
          LogMask(7, {1}), LogMask(8, {1}), LogMask(9, {1}), LogMask(10, {1}), LogMask(11, {1}), LogMask(12, {1}),
          LogMask(13, {1}), LogMask(14, {1}), LogMask(15, {1})}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BuilderRun run = RunLogConfig(c.logCodes, c.otaTypes);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.packets, c.packets);
        // done comes with the last packet (or alone when there is nothing to send)
        EXPECT_EQ(run.done.size(), std::max<std::size_t>(c.packets.size(), 1));
    }
}

TEST(MaskBuilders, ExtMsgConfig)
{
    struct Case {
        const char* name;
        std::string text;
        std::vector<Bytes> packets;
    };
    Bytes wide = LevelMask(0, 50, {{0, 2}, {50, 2}});
    std::string ascending, descending;
    for (int ssid = 0; ssid <= 120; ssid += 3)
        ascending += std::to_string(ssid) + "/" + std::to_string(ssid % 32) + ",";
    for (int ssid = 120; ssid >= 0; ssid -= 3)
        descending += (ssid == 120 ? "" : ",") + std::to_string(ssid) + "/" + std::to_string(ssid % 32);
    std::vector<std::pair<int, std::uint32_t>> a, b, c;
    for (int ssid = 0; ssid <= 120; ssid += 3)
        (ssid <= 50 ? a : ssid <= 101 ? b : c).push_back({ssid, 1u << (ssid % 32)});
    const std::vector<Bytes> ranges = {LevelMask(0, 48, a), LevelMask(51, 99, b), LevelMask(102, 120, c)};

    const std::vector<Case> cases = {
        {"one range", "0/1,0/2,5/3,",
         {{0x7D, 0x04, 0, 0, 5, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0}}},
        {"ssid 60 does not fit after 0", "0/1,60/2,",
         {{0x7D, 0x04, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0}, {0x7D, 0x04, 60, 0, 60, 0, 0, 0, 4, 0, 0, 0}}},
        {"ssid 50 still fits after 0", "0/1,50/1,", {wide}},
        {"no separators", "abc", {{0x7D, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}}},
        {"empty text", "", {{0x7D, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}}},
        {"final entry without a comma is used", "0/1,0/2,5/3", {LevelMask(0, 5, {{0, 6}, {5, 8}})}},
        {"shuffled", "5/3,0/2,0/1,", {LevelMask(0, 5, {{0, 6}, {5, 8}})}},
        {"descending across ranges", "60/2,0/1", {LevelMask(0, 0, {{0, 2}}), LevelMask(60, 60, {{60, 4}})}},
        {"ssid without its level is dropped", "0/60/1,", {LevelMask(60, 60, {{60, 2}})}},
        {"dropped ssid inside a list", "0/1,0/60/2,", {LevelMask(0, 0, {{0, 2}}), LevelMask(60, 60, {{60, 4}})}},
        {"level after a level keeps the ssid", "5/1,2,", {LevelMask(5, 5, {{5, 6}})}},
        {"levels past 31 are not set", "0/32,0/31,", {LevelMask(0, 0, {{0, 0x80000000u}})}},
        {"only levels past 31", "0/32,", {{0x7D, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}}},
        {"spaces are ignored", "1 0/ 1, 1 0/2 ,", {LevelMask(10, 10, {{10, 6}})}},
        {"zero-padded as saved", "10374/04,10374/03,09502/06", {LevelMask(9502, 9502, {{9502, 0x40}}),
                                                                LevelMask(10374, 10374, {{10374, 0x18}})}},
        {"line break after the last comma is no level 0", "5/3,\n", {LevelMask(5, 5, {{5, 8}})}},
        {"white space between entries is no level 0", "0/1,\n\t,5/3,\r\n", {LevelMask(0, 5, {{0, 2}, {5, 8}})}},
        {"white space for an ssid is no ssid 0", "\n/1,5/3,", {LevelMask(5, 5, {{5, 8}})}},
        {"highest ssid", "65535/0,", {LevelMask(65535, 65535, {{65535, 1}})}},
        {"ascending over three ranges", ascending, ranges},
        {"descending over three ranges", descending, ranges},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BuilderRun run = RunExtMsgConfig(c.text);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.packets, c.packets);
        EXPECT_EQ(run.done.size(), c.packets.size());
        for (const Bytes& p : run.packets) {
            EXPECT_LE(p.size(), 212u);
            EXPECT_EQ(dmcmd::PacketLengthFromHeader(p), p.size());
        }
    }
}

TEST(MaskBuilders, OrderOfTheListDoesNotMatter)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::string> codes, levels, events;
        std::uniform_int_distribution<int> code(0x1000, 0xFFFF), ssid(0, 400), level(0, 31), event(0, 4000);
        for (int i = 0; i < 60; ++i) {
            std::array<char, 8> hex{};
            std::snprintf(hex.data(), hex.size(), "0x%04X", code(rng));
            codes.push_back(hex.data());
            levels.push_back(std::to_string(ssid(rng)) + "/" + std::to_string(level(rng)));
            events.push_back(std::to_string(event(rng)));
        }
        auto join = [](std::vector<std::string> items, bool trailing) {
            std::string text;
            for (const std::string& s : items)
                text += s + ",";
            if (!trailing)
                text.pop_back();
            return text;
        };
        auto ascendingBy = [](std::vector<std::string> items, auto key) {
            std::sort(items.begin(), items.end(), [&](const std::string& x, const std::string& y) { return key(x) < key(y); });
            return items;
        };
        auto hexKey = [](const std::string& s) { return std::stoi(s, nullptr, 16); };
        auto ssidKey = [](const std::string& s) { return std::stoi(s); };
        const auto codesUp = ascendingBy(codes, hexKey);
        const auto levelsUp = ascendingBy(levels, ssidKey);
        const auto eventsUp = ascendingBy(events, ssidKey);
        auto down = [](std::vector<std::string> v) { std::reverse(v.begin(), v.end()); return v; };
        auto shuffled = [&](std::vector<std::string> v) { std::shuffle(v.begin(), v.end(), rng); return v; };

        const std::size_t half = codesUp.size() / 2;
        const std::vector<std::string> codesA(codesUp.begin(), codesUp.begin() + static_cast<long>(half));
        const std::vector<std::string> codesB(codesUp.begin() + static_cast<long>(half), codesUp.end());
        const BuilderRun logUp = RunLogConfig(join(codesA, true), join(codesB, true));
        EXPECT_EQ(RunLogConfig(join(down(codesB), false), join(down(codesA), false)).packets, logUp.packets);
        EXPECT_EQ(RunLogConfig(join(shuffled(codesUp), false), "").packets, logUp.packets);
        std::set<int> ids;
        for (const std::string& s : codes)
            ids.insert(hexKey(s) >> 12);
        EXPECT_EQ(logUp.packets.size(), ids.size());

        const BuilderRun levelUp = RunExtMsgConfig(join(levelsUp, true));
        EXPECT_EQ(RunExtMsgConfig(join(down(levelsUp), false)).packets, levelUp.packets);
        EXPECT_EQ(RunExtMsgConfig(join(shuffled(levelsUp), true)).packets, levelUp.packets);

        TxBuf up, other;
        std::int32_t done = 0;
        const std::size_t n = BuildEventMask(join(eventsUp, true), 0, up.Room(), &done);
        EXPECT_EQ(BuildEventMask(join(down(eventsUp), false), 0, other.Room(), &done), n);
        EXPECT_EQ(up.Packet(n), other.Packet(n));
    }
}

// What a saved file's LoggingView lists must give: the facts of one file.
struct LoggingViewFacts {
    int highestEventId, lastEventId;
    std::vector<int> equipment;   // one 0x73 packet each, in order
    int lastOtaItem;              // of equipment id 1, saved without a separator after it
    std::size_t ssids;
    std::vector<int> someSsids;
};

// The lists as the logging tool saves them: descending, equipment ids
// interleaved, no trailing separator.
void ExpectLoggingViewLists(const std::string& file, const LoggingViewFacts& facts)
{
    auto path = [](const char* list) { return DmcPath{"QXDM", "Persistence", "LoggingView", "ISVConfig", list}; };
    CDmcReader reader;
    DmcDocument doc;
    ASSERT_EQ(reader.LoadDocument(file, doc), 1);
    std::string events, codes, ota, levels;
    ASSERT_EQ(reader.GetListText(doc, path("EventIDs"), events), 1);
    ASSERT_EQ(reader.GetListText(doc, path("LogCodes"), codes), 1);
    ASSERT_EQ(reader.GetListText(doc, path("OTATypes"), ota), 1);
    ASSERT_EQ(reader.GetListText(doc, path("MessageLevels"), levels), 1);

    TxBuf tx;
    std::int32_t done = 0;
    const std::size_t n = BuildEventMask(events, 0, tx.Room(), &done);
    ASSERT_GT(n, 6u);
    EXPECT_GE(dmcmd::GetU16(tx.Packet(n), 4), facts.highestEventId + 1);
    const Bytes mask = tx.Packet(n);
    const int high = facts.highestEventId, last = facts.lastEventId;
    EXPECT_NE(mask[6 + std::size_t(high / 8)] & (1 << (high % 8)), 0);   // the highest id of the list
    EXPECT_NE(mask[6 + std::size_t(last / 8)] & (1 << (last % 8)), 0);   // its last entry

    const BuilderRun log = RunLogConfig(codes, ota);
    ASSERT_TRUE(log.finished);
    std::vector<int> equipment;
    for (const Bytes& p : log.packets)
        equipment.push_back(p[8]);
    EXPECT_EQ(equipment, facts.equipment);
    const int item = facts.lastOtaItem;
    ASSERT_FALSE(log.packets.empty());
    EXPECT_NE(log.packets[0][16 + std::size_t(item / 8)] & (1 << (item % 8)), 0);

    const BuilderRun msg = RunExtMsgConfig(levels);
    ASSERT_TRUE(msg.finished);
    int previousLast = -1;
    std::set<int> covered;
    for (const Bytes& p : msg.packets) {
        const int first = dmcmd::GetU16(p, 2), lastSsid = dmcmd::GetU16(p, 4);
        EXPECT_GT(first, previousLast);
        EXPECT_LE(lastSsid - first, 50);
        previousLast = lastSsid;
        for (int s = first; s <= lastSsid; ++s)
            if (dmcmd::GetU32(p, 8 + 4 * std::size_t(s - first)))
                covered.insert(s);
    }
    EXPECT_EQ(covered.size(), facts.ssids);   // every ssid of the list
    for (int ssid : facts.someSsids)
        EXPECT_TRUE(covered.count(ssid)) << ssid;
}

void ExpectMessagesViewLogCodes(const std::string& file)
{
    CDmcReader reader;
    DmcDocument doc;
    ASSERT_EQ(reader.LoadDocument(file, doc), 1);
    std::string codes, ota;
    ASSERT_EQ(reader.GetListText(doc, g_pathLogCodes, codes), 1);
    EXPECT_EQ(reader.GetListText(doc, g_pathOTATypes, ota), 0);
    const BuilderRun run = RunLogConfig(codes, ota);
    EXPECT_EQ(run.packets, (std::vector<Bytes>{LogMask(1, {0x57A, 0x57B, 0x57E, 0x57F})}));
}

std::string SavedFile(const TempDir& dir)
{
    const std::string path = dir.Path() + "/saved.dmc";
    fixture::WriteBytes(path, fixture::SavedDmc());
    return path;
}

TEST(MaskBuilders, SavedFileLoggingViewLists)
{
    TempDir dir;
    ExpectLoggingViewLists(SavedFile(dir), {3277, 287, {1, 4, 5, 7, 0xB, 0xD}, 0x78, 16, {0, 5011, 10374}});
}

TEST(MaskBuilders, SavedFileMessagesViewLogCodes)
{
    TempDir dir;
    ExpectMessagesViewLogCodes(SavedFile(dir));
}

TEST(MaskBuilders, SampleFileLoggingViewLists)
{
    const std::optional<std::string> sample = SampleFile("dmc/default.dmc");
    if (!sample)
        GTEST_SKIP() << SampleMissing("dmc/default.dmc");
    ExpectLoggingViewLists(*sample, {3277, 287, {1, 4, 5, 7, 0xB, 0xD}, 0x78, 189, {5011, 10374}});
}

TEST(MaskBuilders, SampleFileMessagesViewLogCodes)
{
    const std::optional<std::string> sample = SampleFile("dmc/default.dmc");
    if (!sample)
        GTEST_SKIP() << SampleMissing("dmc/default.dmc");
    ExpectMessagesViewLogCodes(*sample);
}

// Whatever the text, every builder ends within a bounded number of calls and
// every packet stays inside its room and agrees with its own header.
TEST(MaskBuilders, RandomListTextsTerminate)
{
    std::mt19937 rng(20261207);
    const std::string alphabet = "0123456789xX/, aFg-";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1), length(0, 200);
    std::uniform_int_distribution<int> kind(0, 2);
    for (int round = 0; round < 3000; ++round) {
        std::string a, b;
        const std::size_t la = length(rng), lb = length(rng);
        for (std::size_t i = 0; i < la; ++i)
            a += kind(rng) == 0 ? std::string("0x") : std::string(1, alphabet[pick(rng)]);
        for (std::size_t i = 0; i < lb; ++i)
            b += alphabet[pick(rng)];
        SCOPED_TRACE(a + " | " + b);

        TxBuf tx;
        std::int32_t done = 0;
        const std::size_t n = BuildEventMask(a, 0, tx.Room(), &done);
        ASSERT_EQ(done, 1);
        ASSERT_TRUE(tx.GuardIntact());
        if (n) {
            ASSERT_EQ(dmcmd::PacketLengthFromHeader(tx.Packet(n)), n);
        }

        const BuilderRun log = RunLogConfig(a, b, 16);
        ASSERT_TRUE(log.finished);
        for (const Bytes& p : log.packets)
            ASSERT_EQ(dmcmd::PacketLengthFromHeader(p), p.size());

        const BuilderRun msg = RunExtMsgConfig(a, static_cast<int>(a.size()) + 2);
        ASSERT_TRUE(msg.finished);
        for (const Bytes& p : msg.packets) {
            ASSERT_LE(p.size(), 212u);
            ASSERT_EQ(dmcmd::PacketLengthFromHeader(p), p.size());
        }
    }
}

TEST(MaskBuilders, SmallRoomIsNeverOverrun)
{
    std::array<std::uint8_t, 40> buf{};
    buf.fill(0xA5);
    const std::span<std::uint8_t> room(buf.data(), 20);
    std::int32_t done = 0, pos = 0, pos2 = 0;
    EXPECT_EQ(BuildEventMask("1,200,", 0, room, &done), 7u);   // id 200 needs byte 31
    EXPECT_EQ(BuildLogConfig("0x1001,0x1100,", "", pos, pos2, room, &done), 17u);
    pos = 0;
    EXPECT_EQ(BuildExtMsgConfig("0/1,1/1,2/1,3/1,", pos, room, &done), 20u);   // three masks fit
    EXPECT_EQ(done, 0);
    EXPECT_EQ(pos, 3);
    EXPECT_TRUE(std::all_of(buf.begin() + 20, buf.end(), [](std::uint8_t x) { return x == 0xA5; }));
}

}   // namespace
