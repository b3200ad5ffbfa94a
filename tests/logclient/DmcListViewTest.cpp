// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/SampleData.h"
#include "logclient/DmcReader.h"
#include "logclient/MaskBuilders.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

std::string Block(const char* view, const std::string& lists)
{
    return std::string("  <") + view + ">\n   <ISVConfig>\n" + lists + "\n   </ISVConfig>\n  </" + view + ">\n";
}

std::string File(const std::string& blocks)
{
    return "<QXDMProfessional>\n <Persistence>\n" + blocks + " </Persistence>\n</QXDMProfessional>\n";
}

DmcDocument Load(const TempDir& dir, const std::string& xml)
{
    const std::string path = dir.Path() + "/lists.dmc";
    std::ofstream(path, std::ios::binary) << xml;
    DmcDocument doc;
    EXPECT_EQ(CDmcReader().LoadDocument(path, doc), 1);
    return doc;
}

const std::string kBoth = File(
    Block("Displays", "<EventIDs>99,</EventIDs>")
    + Block("LoggingView", "<EventIDs>3,2,1</EventIDs><LogCodes>0x1005,0x4001,0xB0C0</LogCodes>"
                           "<OTATypes>0x412F</OTATypes><MessageLevels>5/1,6/2</MessageLevels>")
    + Block("MessagesView", "<LogCodes>0x157F,0x157E</LogCodes><OTATypes/><MessageLevels/>"));

TEST(DmcListView, EachViewReadsItsOwnBlockByTheSameRules)
{
    struct Case {
        const char* name;
        std::string xml;
        DmcListView view;
        std::array<const char*, 4> texts;   // nullptr: not found
    };
    const std::vector<Case> cases = {
        {"messages view", kBoth, DmcListView::MessagesView, {nullptr, "0x157F,0x157E", nullptr, nullptr}},
        {"logging view", kBoth, DmcListView::LoggingView, {"3,2,1", "0x1005,0x4001,0xB0C0", "0x412F", "5/1,6/2"}},
        {"prefix match on the view name",
         File(Block("LoggingViewSaved", "<EventIDs>8,</EventIDs>")), DmcListView::LoggingView,
         {"8,", nullptr, nullptr, nullptr}},
        {"a file without the logging view", File(Block("MessagesView", "<EventIDs>8,</EventIDs>")),
         DmcListView::LoggingView, {nullptr, nullptr, nullptr, nullptr}},
    };
    TempDir dir;
    CDmcReader reader;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DmcDocument doc = Load(dir, c.xml);
        const DmcListPaths& paths = DmcPathsFor(c.view);
        const std::array<const DmcPath*, 4> lists = {paths.eventIDs, paths.logCodes, paths.otaTypes,
                                                     paths.messageLevels};
        for (std::size_t i = 0; i < lists.size(); ++i) {
            std::string text = "<unchanged>";
            EXPECT_EQ(reader.GetListText(doc, *lists[i], text), c.texts[i] ? 1 : 0) << "list " << i;
            EXPECT_EQ(text, c.texts[i] ? c.texts[i] : "<unchanged>") << "list " << i;
        }
    }
}

TEST(DmcListView, CountsEntriesThatAreNotBlank)
{
    const std::vector<std::pair<const char*, std::size_t>> cases = {
        {"", 0}, {",", 0}, {" , ,", 0}, {"1", 1}, {"1,2,3", 3}, {"1,2,3,", 3}, {"0x1, 0x2 ,\n0x3", 3},
        {"10374/04,10374/03", 2}, {",,5,,", 1},
    };
    for (const auto& [text, count] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(CountListEntries(text), count);
    }
}

TEST(DmcListView, SummaryTellsWhereTheListsAreAndNamesTheSwitch)
{
    struct Case {
        const char* name;
        std::string xml;
        DmcListView view;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"messages view, more under logging", kBoth, DmcListView::MessagesView,
         "Lists from MessagesView: 0 event ids, 2 log codes, 0 OTA types, 0 message levels; "
         "LoggingView has 3 event ids and 3 log codes: see Read Lists From LoggingView"},
        {"logging view", kBoth, DmcListView::LoggingView,
         "Lists from LoggingView: 3 event ids, 3 log codes, 1 OTA types, 2 message levels"},
        {"nothing under the chosen view",
         File(Block("LoggingView", "<EventIDs>1,2</EventIDs><LogCodes>0x1005</LogCodes>")),
         DmcListView::MessagesView,
         "No logging lists under MessagesView; this file has 2 event ids and 1 log codes under LoggingView: "
         "see Read Lists From LoggingView"},
        {"no lists anywhere", File(""), DmcListView::MessagesView,
         "Lists from MessagesView: 0 event ids, 0 log codes, 0 OTA types, 0 message levels"},
        {"empty list elements count as none", File(Block("MessagesView", "<EventIDs/><LogCodes> </LogCodes>")),
         DmcListView::LoggingView, "Lists from LoggingView: 0 event ids, 0 log codes, 0 OTA types, 0 message levels"},
    };
    TempDir dir;
    CDmcReader reader;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DescribeLists(SummarizeLists(reader, Load(dir, c.xml), c.view)), c.line);
    }
}

TEST(DmcListView, RealFileKeepsItsListsUnderLoggingView)
{
    const std::optional<std::string> sample = SampleFile("dmc/default.dmc");
    if (!sample)
        GTEST_SKIP() << SampleMissing("dmc/default.dmc");
    const std::string& path = *sample;
    CDmcReader reader;
    DmcDocument doc;
    ASSERT_EQ(reader.LoadDocument(path, doc), 1);
    const DmcListSummary summary = SummarizeLists(reader, doc, DmcListView::LoggingView);
    EXPECT_EQ(summary.used.eventIDs, 2782u);
    EXPECT_EQ(summary.used.logCodes, 1395u);
    EXPECT_EQ(summary.used.otaTypes, 30u);
    EXPECT_EQ(summary.used.messageLevels, 886u);
    EXPECT_EQ(summary.other.Total(), 4u);

    // The log codes go out as one 0x73 per equipment id, lowest first.
    std::string codes, ota;
    ASSERT_EQ(reader.GetListText(doc, g_pathLoggingLogCodes, codes), 1);
    ASSERT_EQ(reader.GetListText(doc, g_pathLoggingOTATypes, ota), 1);
    std::set<unsigned> expected;
    for (const std::string* list : {&codes, &ota})
        for (std::size_t at = 0; at < list->size();) {
            const std::size_t end = std::min(list->find(',', at), list->size());
            expected.insert(std::stoul(list->substr(at, end - at), nullptr, 16) >> 12);
            at = end + 1;
        }
    std::vector<unsigned> sent;
    std::int32_t posA = 0, posB = 0, done = 0;
    std::array<std::uint8_t, kMaskPacketRoom> packet{};
    for (int n = 0; !done && n < 100; ++n)
        if (BuildLogConfig(codes, ota, posA, posB, packet, &done) > 0) {
            EXPECT_EQ(packet[0], dmcmd::kLogConfig);
            sent.push_back(dmcmd::GetU32(packet, 8));
        }
    EXPECT_EQ(sent, std::vector<unsigned>(expected.begin(), expected.end()));
}

}  // namespace
