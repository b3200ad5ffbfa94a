// SPDX-License-Identifier: GPL-2.0-or-later
// Hostile and oversized configuration files and lists, fed on purpose: a file
// far larger than any real configuration, entity tricks, binary files, and
// lists of a million entries. Whatever is refused must be refused cleanly;
// whatever is loaded must stay bounded in memory and in the packets it yields.
#include "dm/HdlcFramer.h"
#include "logclient/DmcReader.h"
#include "logclient/MaskBuilders.h"
#include "support/Fixtures.h"
#include "support/Pty.h"
#include "support/SampleData.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using fixture::ReadAll;

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kHugeFileSize = std::size_t{100} << 20;
constexpr int kMillion = 1000000;

std::string Write(const TempDir& dir, const std::string& name, const std::string& content)
{
    const std::string path = dir.Path() + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out << content;
    EXPECT_TRUE(out.good()) << path;
    return path;
}

std::string Wrap(const std::string& lists, const std::string& prolog = {})
{
    return prolog + "<QXDMProfessional><Persistence><MessagesView><ISVConfig>" + lists +
           "</ISVConfig></MessagesView></Persistence></QXDMProfessional>\n";
}

// Peak resident memory of this process so far, in bytes.
std::size_t PeakRss()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}

// Writes a document of at least `size` bytes: head, then `filler` repeated,
// then tail, without ever holding the whole file in memory.
std::string WriteHuge(const TempDir& dir, const std::string& name, const std::string& head, const std::string& filler,
                      const std::string& tail, std::size_t size)
{
    const std::string path = dir.Path() + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out << head;
    std::string block;
    while (block.size() < (std::size_t{1} << 20))
        block += filler;
    for (std::size_t written = head.size() + tail.size(); written < size; written += block.size())
        out << block;
    out << tail;
    EXPECT_TRUE(out.good()) << path;
    return path;
}

struct ListTexts {
    std::string eventIds, logCodes, otaTypes, messageLevels;
    int found = 0;
};

ListTexts AllLists(const DmcDocument& doc)
{
    const CDmcReader reader;
    ListTexts t;
    t.found += reader.GetListText(doc, g_pathEventIDs, t.eventIds);
    t.found += reader.GetListText(doc, g_pathLogCodes, t.logCodes);
    t.found += reader.GetListText(doc, g_pathOTATypes, t.otaTypes);
    t.found += reader.GetListText(doc, g_pathMessageLevels, t.messageLevels);
    return t;
}

// ---------------------------------------------------------------------------
// A 100 MB configuration file: loaded, with the whole of it in a comment or in
// one list, and in memory a small multiple of its size. The default suite runs
// the same at a few MB without the memory figure.

void HugeFilesLoad(std::size_t fileSize, bool measureMemory)
{
    struct Case {
        const char* name;
        std::string head, filler, tail;
        std::size_t listSizeAtLeast;   // of the EventIDs text
    };
    const std::vector<Case> cases = {
        {"huge comment beside the lists",
         "<QXDMProfessional><!--", "0123456789abcdef",
         "--><Persistence><MessagesView><ISVConfig><EventIDs>1,2,</EventIDs></ISVConfig></MessagesView>"
         "</Persistence></QXDMProfessional>",
         4},
        {"huge event id list",
         "<QXDMProfessional><Persistence><MessagesView><ISVConfig><EventIDs>", "1,2,3,40,500,6000,",
         "</EventIDs><MessageLevels>0/1,</MessageLevels></ISVConfig></MessagesView></Persistence></QXDMProfessional>",
         fileSize - 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = WriteHuge(dir, "huge.dmc", c.head, c.filler, c.tail, fileSize);
        const std::size_t before = PeakRss();
        {
            const CDmcReader reader;
            DmcDocument doc;
            std::string error;
            ASSERT_EQ(reader.LoadDocument(path, doc, &error), 1) << error;
            const ListTexts t = AllLists(doc);
            EXPECT_GE(t.eventIds.size(), c.listSizeAtLeast);

            // The builders walk the whole text once and stay in their room.
            std::array<std::uint8_t, kMaskPacketRoom> room{};
            std::int32_t done = 0;
            const std::size_t length = BuildEventMask(t.eventIds, 0, room, &done);
            EXPECT_EQ(done, 1);
            EXPECT_LE(length, room.size());
            // Every id of the list landed in the mask.
            std::vector<unsigned> ids = {1, 2};
            if (c.listSizeAtLeast > 4)
                ids = {1, 2, 3, 40, 500, 6000};
            ASSERT_GE(length, dmcmd::kEventMaskHeader + ids.back() / 8 + 1);
            for (unsigned id : ids)
                EXPECT_TRUE(room[dmcmd::kEventMaskHeader + id / 8] & (1u << (id % 8))) << id;
        }
        if (!measureMemory)
            continue;
        // The file read, two parses and the list's copy: a few times the file,
        // never unbounded (the high-water mark only grows, so this is the peak).
        const std::size_t grown = PeakRss() - std::min(PeakRss(), before);
        ::testing::Test::RecordProperty(std::string("peak_growth_mb_") + (c.listSizeAtLeast > 4 ? "list" : "comment"),
                       static_cast<int>(grown >> 20));
        EXPECT_LT(grown, 10 * fileSize) << (grown >> 20) << " MB for a " << (fileSize >> 20) << " MB file";
    }
}

TEST(BadInputDmc, LargeFilesLoad)
{
    HugeFilesLoad(std::size_t{4} << 20, false);
}

// The largest file a configuration may be loads within a few times its size;
// a 100 MB one is refused with its size named, before it is read.
TEST(BadInputDmcSoak, HundredMegabyteFilesLoadWithinAFewTimesTheirSize)
{
    // WriteHuge rounds up by up to a block of 1 MB.
    HugeFilesLoad(static_cast<std::size_t>(kMaxDmcFileSize) - (std::size_t{2} << 20), true);
    TempDir dir;
    const std::string path = WriteHuge(dir, "huge.dmc", "<QXDMProfessional><!--", "0123456789abcdef",
                                       "--></QXDMProfessional>", kHugeFileSize);
    const std::size_t before = PeakRss();
    DmcDocument doc;
    std::string error;
    EXPECT_EQ(CDmcReader().LoadDocument(path, doc, &error), 0);
    EXPECT_NE(error.find(std::to_string(std::filesystem::file_size(path)) + " bytes"), std::string::npos) << error;
    EXPECT_LT(PeakRss() - std::min(PeakRss(), before), std::size_t{1} << 20);
}

// ---------------------------------------------------------------------------
// Entities: nothing the document declares is ever expanded or fetched.

void BillionLaughs(bool measureMemory)
{
    std::string dtd = "<!DOCTYPE QXDMProfessional [\n<!ENTITY lol \"1,\">\n";
    dtd += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n";
    for (int i = 2; i <= 9; ++i) {
        dtd += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            dtd += "&lol" + std::to_string(i - 1) + ";";
        dtd += "\">\n";
    }
    dtd += "]>\n";

    struct Case {
        const char* name;
        std::string xml;
    };
    const std::vector<Case> cases = {
        {"in a list", Wrap("<EventIDs>&lol9;</EventIDs><LogCodes>0x1005,</LogCodes>", dtd)},
        {"in an attribute", Wrap("<EventIDs a=\"&lol9;\">5,</EventIDs>", dtd)},
        {"in the text around a list", Wrap("<EventIDs>5,&lol9;6,</EventIDs>", dtd)},
        {"declared only", Wrap("<EventIDs>5,</EventIDs>", dtd)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = Write(dir, "laughs.dmc", c.xml);
        const std::size_t before = PeakRss();
        const CDmcReader reader;
        DmcDocument doc;
        std::string error;
        if (reader.LoadDocument(path, doc, &error)) {
            const ListTexts t = AllLists(doc);
            for (const std::string* text : {&t.eventIds, &t.logCodes, &t.otaTypes, &t.messageLevels})
                EXPECT_LE(text->size(), c.xml.size());
        } else {
            EXPECT_FALSE(error.empty());
            EXPECT_FALSE(doc);
        }
        // 10^9 copies of "1," would be 2 GB; a few MB of slack for the parse.
        if (measureMemory) {
            EXPECT_LT(PeakRss() - std::min(PeakRss(), before), std::size_t{64} << 20);
        }
    }
}

TEST(BadInputDmc, BillionLaughsIsNeverExpanded)
{
    BillionLaughs(false);
}

TEST(BadInputDmcSoak, BillionLaughsStaysWithinMemory)
{
    BillionLaughs(true);
}

TEST(BadInputDmc, ExternalEntitiesAreNeverRead)
{
    TempDir dir;
    const std::string marker = "SECRET-7f3a9c-not-for-the-modem";
    const std::string secret = Write(dir, "secret.txt", marker + ",\n");
    const std::string url = "file://" + secret;

    struct Case {
        const char* name;
        std::string xml;
    };
    const std::string sys = "<!DOCTYPE QXDMProfessional [<!ENTITY xxe SYSTEM \"" + url + "\">]>\n";
    const std::string passwd = "<!DOCTYPE QXDMProfessional [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>\n";
    const std::string param = "<!DOCTYPE QXDMProfessional [<!ENTITY % p SYSTEM \"" + url + "\"> %p;]>\n";
    const std::string pub = "<!DOCTYPE QXDMProfessional PUBLIC \"-//x//y\" \"" + url + "\">\n";
    const std::vector<Case> cases = {
        {"system entity in a list", Wrap("<EventIDs>&xxe;</EventIDs><LogCodes>&xxe;</LogCodes>", sys)},
        {"system entity in every list",
         Wrap("<EventIDs>&xxe;</EventIDs><LogCodes>&xxe;</LogCodes><OTATypes>&xxe;</OTATypes>"
              "<MessageLevels>&xxe;</MessageLevels>", sys)},
        {"/etc/passwd", Wrap("<EventIDs>&xxe;</EventIDs>", passwd)},
        {"parameter entity", Wrap("<EventIDs>5,</EventIDs>", param)},
        {"external subset", Wrap("<EventIDs>5,</EventIDs>", pub)},
        {"xinclude", Wrap("<EventIDs><xi:include xmlns:xi=\"http://www.w3.org/2001/XInclude\" href=\"" + url +
                          "\" parse=\"text\"/></EventIDs>")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Write(dir, "xxe.dmc", c.xml);
        const CDmcReader reader;
        DmcDocument doc;
        std::string error;
        if (!reader.LoadDocument(path, doc, &error)) {
            EXPECT_EQ(error.find(marker), std::string::npos) << error;
            continue;
        }
        const ListTexts t = AllLists(doc);
        for (const std::string* text : {&t.eventIds, &t.logCodes, &t.otaTypes, &t.messageLevels}) {
            EXPECT_EQ(text->find(marker), std::string::npos) << *text;
            EXPECT_EQ(text->find("root:"), std::string::npos) << *text;
        }
    }
}

// ---------------------------------------------------------------------------
// Files that are not XML at all: refused with a reason.

void ExpectRefused(const std::string& content)
{
    TempDir dir;
    const CDmcReader reader;
    DmcDocument doc;
    std::string error;
    EXPECT_EQ(reader.LoadDocument(Write(dir, "binary.dmc", content), doc, &error), 0);
    EXPECT_FALSE(doc);
    EXPECT_FALSE(error.empty());
}

TEST(BadInputDmc, BinaryFilesAreRefused)
{
    std::mt19937 rng(20261207);
    auto random = [&rng](std::size_t n, std::uint8_t first) {
        std::string s(n, '\0');
        for (char& c : s)
            c = static_cast<char>(rng() & 0xFF);
        s[0] = static_cast<char>(first);
        return s;
    };
    auto capture = [](int frames, unsigned seed) {
        const Bytes b = fixture::ModemCapture(frames, seed).wire;
        return std::string(b.begin(), b.end());
    };

    struct Case {
        const char* name;
        std::string content;
    };
    const std::vector<Case> cases = {
        {"random 64 KiB", random(65536, 0x00)},
        {"random 64 KiB starting with '<'", random(65536, '<')},
        {"random 1 MiB starting with 0x7E", random(1 << 20, 0x7E)},
        {"NULs", std::string(4096, '\0')},
        {"UTF-16 byte order mark and noise", "\xFF\xFE<\0Q\0" + random(1000, 'X')},
        {"XML with a NUL inside its list", Wrap(std::string("<EventIDs>1,\0" "2,</EventIDs>", 17)) + random(100, 0)},
        {"capture of 29 log frames", capture(29, 1)},
        {"capture of 99 log frames", capture(99, 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectRefused(c.content);
    }
}

TEST(BadInputDmc, SampleCapturesAreRefused)
{
    for (const char* name : {"qmdl/goodsim-small.qmdl", "qmdl/deadsim.qmdl"}) {
        SCOPED_TRACE(name);
        const std::optional<std::string> sample = SampleFile(name);
        if (!sample)
            GTEST_SKIP() << SampleMissing(name);
        const Bytes b = ReadAll(*sample);
        ASSERT_FALSE(b.empty());
        ExpectRefused(std::string(b.begin(), b.end()));
    }
}

// Elements nested a million deep: a few MB of file, nothing a reader should
// need a million stack frames for.
TEST(BadInputDmc, DeeplyNestedElementsDoNotExhaustTheStack)
{
    TempDir dir;
    constexpr int kDepth = 1000000;
    std::string xml = "<QXDMProfessional><Persistence><MessagesView><ISVConfig><EventIDs>1,</EventIDs>";
    xml.reserve(static_cast<std::size_t>(kDepth) * 7 + 256);
    for (int i = 0; i < kDepth; ++i)
        xml += "<a>";
    for (int i = 0; i < kDepth; ++i)
        xml += "</a>";
    xml += "</ISVConfig></MessagesView></Persistence></QXDMProfessional>";
    const CDmcReader reader;
    DmcDocument doc;
    std::string error;
    if (reader.LoadDocument(Write(dir, "deep.dmc", xml), doc, &error)) {
        std::string text;
        EXPECT_EQ(reader.GetListText(doc, g_pathEventIDs, text), 1);
        EXPECT_EQ(text, "1,");
    } else {
        EXPECT_FALSE(error.empty());
    }
}

// ---------------------------------------------------------------------------
// Lists of a million entries, driven the way the configuration sequence drives
// the builders: every call makes progress, every packet fits its room and the
// frame of every packet that is sent fits the outgoing buffer.

std::string Joined(int count, const std::function<std::string(int)>& entry)
{
    std::string s;
    s.reserve(static_cast<std::size_t>(count) * 12);
    for (int i = 0; i < count; ++i)
        s += entry(i);
    return s;
}

std::string Hex4(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", v & 0xFFFF);
    return buf;
}

// An outgoing buffer as the window has it, with a guard behind the room.
struct TxRoom {
    static constexpr std::uint8_t kGuard = 0xA5;
    std::array<std::uint8_t, 2048> bytes{};
    TxRoom() { bytes.fill(kGuard); }
    std::span<std::uint8_t> Room() { return {bytes.data(), kMaskPacketRoom}; }
    bool GuardIntact() const
    {
        return std::all_of(bytes.begin() + kMaskPacketRoom, bytes.end(), [](std::uint8_t b) { return b == kGuard; });
    }
};

// Frames a packet as FrameAndWrite does and checks the frame: at most the
// buffer's size; when not cut (ends in its flag) it is a well-formed frame.
void CheckFrame(TxRoom& tx, std::size_t length, int& sent)
{
    CHdlcFramer framer;
    const int frameLength = framer.Frame(tx.bytes.data(), static_cast<int>(length));
    ASSERT_GT(frameLength, 0);
    ASSERT_LE(frameLength, 2048);
    if (tx.bytes[static_cast<std::size_t>(frameLength) - 1] == kHdlcFlag) {
        ++sent;
        EXPECT_EQ(std::count(tx.bytes.begin(), tx.bytes.begin() + frameLength, kHdlcFlag), 1);
    }
}

void LongListsTerminate(int entries)
{
    const std::string eventIds = Joined(entries, [](int i) { return std::to_string(i) + ","; });
    const std::string eventIdsHigh = Joined(entries, [](int i) { return std::to_string(4000000000u - unsigned(i)) + ","; });
    const std::string logCodes = Joined(entries, [](int i) { return Hex4(static_cast<unsigned>(i) * 2654435761u >> 16) + ","; });
    const std::string otaTypes = Joined(entries, [](int i) { return Hex4(0xFFFFu - static_cast<unsigned>(i)) + "/"; });
    const std::string levels = Joined(entries, [](int i) {
        return std::to_string((i * 7) % 65536) + "/" + std::to_string(i % 32) + ",";
    });
    const std::string levelsDescending = Joined(entries, [](int i) {
        return std::to_string(65535 - i % 65536) + "/" + std::to_string(i % 40) + ",";
    });
    const std::string junk = Joined(entries, [](int i) { return i % 3 ? std::string("/,") : std::string("xx, /"); });

    {
        SCOPED_TRACE("event report and mask");
        for (const std::string* text : {&eventIds, &eventIdsHigh, &junk}) {
            TxRoom tx;
            EXPECT_EQ(BuildEventReport(*text, tx.Room()), 2u);
            std::int32_t done = 0;
            const std::size_t length = BuildEventMask(*text, 0, tx.Room(), &done);
            EXPECT_EQ(done, 1);
            EXPECT_LE(length, kMaskPacketRoom);
            EXPECT_TRUE(tx.GuardIntact());
            if (length > 0) {
                int sent = 0;
                CheckFrame(tx, length, sent);
            }
        }
    }

    struct LogCase {
        const char* name;
        const std::string* a;
        const std::string* b;
    };
    const std::string empty;
    for (const LogCase& c : {LogCase{"log codes and ota types", &logCodes, &otaTypes},
                             LogCase{"ota types alone", &empty, &otaTypes}, LogCase{"junk", &junk, &junk}}) {
        SCOPED_TRACE(c.name);
        std::int32_t posA = 0, posB = 0, done = 0;
        int calls = 0, sent = 0;
        // One packet per equipment id at most, and one more call to end.
        for (; !done && calls < 17; ++calls) {
            TxRoom tx;
            const std::int32_t beforeA = posA, beforeB = posB;
            const std::size_t length = BuildLogConfig(*c.a, *c.b, posA, posB, tx.Room(), &done);
            ASSERT_TRUE(tx.GuardIntact());
            ASSERT_LE(length, kMaskPacketRoom);
            if (!done) {
                ASSERT_TRUE(posA > beforeA || posB > beforeB) << "a call without progress";
            }
            if (length > 0)
                CheckFrame(tx, length, sent);
        }
        EXPECT_EQ(done, 1) << calls << " calls";
        ::testing::Test::RecordProperty(std::string("log_config_frames_") + c.name, sent);
    }

    for (const std::string* text : {&levels, &levelsDescending, &junk}) {
        SCOPED_TRACE(text == &levels ? "levels" : text == &junk ? "levels junk" : "levels descending");
        std::int32_t pos = 0, done = 0;
        int calls = 0, sent = 0;
        // 65536 ssids in ranges of 51 need 1286 packets; the guard the window
        // uses is the upper bound.
        for (; !done && calls < 65537; ++calls) {
            TxRoom tx;
            const std::int32_t before = pos;
            const std::size_t length = BuildExtMsgConfig(*text, pos, tx.Room(), &done);
            ASSERT_TRUE(tx.GuardIntact());
            ASSERT_LE(length, 12u + 4u * dmcmd::kExtMsgMaxSpan);
            if (!done) {
                ASSERT_GT(pos, before) << "a call without progress at call " << calls;
            }
            if (length > 0)
                CheckFrame(tx, length, sent);
        }
        EXPECT_EQ(done, 1) << calls << " calls";
        EXPECT_GT(sent, 0);
    }
}

// A tenth of the length still covers every ssid, so every range is built.
TEST(BadInputLists, LongListsTerminateWithBoundedPackets)
{
    LongListsTerminate(kMillion / 10);
}

TEST(BadInputListsSoak, MillionEntryListsTerminateWithBoundedPackets)
{
    LongListsTerminate(kMillion);
}

}   // namespace
