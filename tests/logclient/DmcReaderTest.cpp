// SPDX-License-Identifier: GPL-2.0-or-later
#include "logclient/DmcReader.h"
#include "support/Fixtures.h"
#include "support/Pty.h"
#include "support/SampleData.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <optional>
#include <string>
#include <vector>

namespace {

std::string WriteFile(const TempDir& dir, const std::string& name, const std::string& content)
{
    const std::string path = dir.Path() + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string Wrap(const std::string& lists)
{
    return "<QXDMProfessional>\n <Persistence>\n  <MessagesView>\n   <ISVConfig>\n" + lists +
           "\n   </ISVConfig>\n  </MessagesView>\n </Persistence>\n</QXDMProfessional>\n";
}

struct Lookup {
    const char* name;
    std::string xml;
    const DmcPath* path;
    int found;
    std::string text;   // expected text; "<unchanged>" when not found
};

TEST(DmcReader, ListLookupWalksThePathByPrefix)
{
    const std::string full = Wrap("    <EventIDs>1,2,3,</EventIDs>\n    <LogCodes>0x1005,</LogCodes>\n"
                                  "    <OTATypes>0x4001,</OTATypes>\n    <MessageLevels>0/1,</MessageLevels>");
    const std::vector<Lookup> cases = {
        {"event ids", full, &g_pathEventIDs, 1, "1,2,3,"},
        {"log codes", full, &g_pathLogCodes, 1, "0x1005,"},
        {"ota types", full, &g_pathOTATypes, 1, "0x4001,"},
        {"message levels", full, &g_pathMessageLevels, 1, "0/1,"},
        {"list missing", Wrap("<LogCodes>0x1005,</LogCodes>"), &g_pathEventIDs, 0, "<unchanged>"},
        {"empty list element", Wrap("<EventIDs/><LogCodes>0x1005,</LogCodes>"), &g_pathEventIDs, 0, "<unchanged>"},
        {"comment between path elements",
         "<QXDM><Persistence><!-- saved --><MessagesView><ISVConfig><EventIDs>7,</EventIDs>"
         "</ISVConfig></MessagesView></Persistence></QXDM>",
         &g_pathEventIDs, 1, "7,"},
        {"comment inside the list element",
         Wrap("<EventIDs><!-- c -->7,</EventIDs>"), &g_pathEventIDs, 1, "7,"},
        {"element inside the list element is passed over",
         Wrap("<EventIDs><Old>1,</Old>7,</EventIDs>"), &g_pathEventIDs, 1, "7,"},
        {"text directly under the root wins for every list",
         "<QXDM>root text<Persistence><MessagesView><ISVConfig><EventIDs>7,</EventIDs>"
         "</ISVConfig></MessagesView></Persistence></QXDM>",
         &g_pathLogCodes, 1, "root text"},
        {"prefix match takes the first sibling",
         "<QXDM><Persistence><MessagesView><ISVConfigOld><EventIDs>9,</EventIDs></ISVConfigOld>"
         "<ISVConfig><EventIDs>7,</EventIDs></ISVConfig></MessagesView></Persistence></QXDM>",
         &g_pathEventIDs, 1, "9,"},
        {"shorter name never matches", "<QXD><Persistence/></QXD>", &g_pathEventIDs, 0, "<unchanged>"},
        {"case matters", Wrap("<eventIDs>7,</eventIDs>"), &g_pathEventIDs, 0, "<unchanged>"},
        {"CDATA is not text", Wrap("<EventIDs><![CDATA[1,2,]]></EventIDs>"), &g_pathEventIDs, 0, "<unchanged>"},
        {"declaration and document type", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE QXDM>\n" + full,
         &g_pathEventIDs, 1, "1,2,3,"},
        {"references are decoded", Wrap("<EventIDs>1&#44;2&amp;&lt;&#x2C;&#233;</EventIDs>"), &g_pathEventIDs, 1,
         "1,2&<,\xC3\xA9"},
    };
    CDmcReader reader;
    TempDir dir;
    for (const Lookup& c : cases) {
        SCOPED_TRACE(c.name);
        DmcDocument doc;
        ASSERT_EQ(reader.LoadDocument(WriteFile(dir, "c.dmc", c.xml), doc), 1);
        std::string text = "<unchanged>";
        std::vector<std::string> messages;
        EXPECT_EQ(reader.GetListText(doc, *c.path, text, [&](const char* m) { messages.push_back(m); }), c.found);
        EXPECT_EQ(text, c.text);
        EXPECT_TRUE(messages.empty());
    }
}

TEST(DmcReader, LoadFailuresKeepThePreviousDocument)
{
    struct Case {
        const char* name;
        std::string content;   // "<missing>": no file at all
    };
    const std::vector<Case> cases = {
        {"missing file", "<missing>"},
        {"empty file", ""},
        {"not XML", "EventIDs=1,2,3\n"},
        {"unclosed element", "<QXDM><Persistence></QXDM>"},
        {"two roots", "<QXDM/><QXDM/>"},
        {"text beside the root", "<QXDM/>trailing"},
        {"undeclared entity", "<QXDM>&bogus;</QXDM>"},
        {"entity declared by the document", "<!DOCTYPE QXDM [<!ENTITY e \"1,2,\">]><QXDM>&e;</QXDM>"},
        {"bare ampersand", "<QXDM>1&2</QXDM>"},
        {"reference to no character", "<QXDM>&#0;</QXDM>"},
        {"undeclared entity in an attribute", "<QXDM a=\"&e;\"/>"},
        {"undeclared entity deep down", "<QXDM><a><b><c/></b><b>x&e;</b></a></QXDM>"},
    };
    CDmcReader reader;
    TempDir dir;
    DmcDocument doc;
    ASSERT_EQ(reader.LoadDocument(WriteFile(dir, "good.dmc", Wrap("<EventIDs>1,</EventIDs>")), doc), 1);
    const DmcDocument previous = doc;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.content == "<missing>" ? dir.Path() + "/none.dmc" : WriteFile(dir, "bad.dmc", c.content);
        std::string error;
        EXPECT_EQ(reader.LoadDocument(path, doc, &error), 0);
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(doc, previous);
    }
    std::string text;
    EXPECT_EQ(reader.GetListText(doc, g_pathEventIDs, text), 1);
    EXPECT_EQ(text, "1,");
}

// Files that are not what they claim are refused at once, each with what is
// wrong in a user's words; none is waited on (a FIFO without a writer would
// hang a blocking open) and none is read whole when it is too large.
TEST(DmcReader, RefusesWhatIsNotAConfigurationFileSayingWhy)
{
    TempDir dir;
    const std::string fifo = dir.Path() + "/pipe.dmc";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = dir.Path() + "/huge.dmc";
    {
        std::ofstream touch(huge, std::ios::binary);
    }
    ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(kMaxDmcFileSize + 1)), 0);
    const std::string atLimit = WriteFile(dir, "limit.dmc", Wrap("<EventIDs>1,</EventIDs>"));
    struct Case {
        const char* name;
        std::string path;
        const char* says;
    };
    const Case cases[] = {
        {"missing", dir.Path() + "/none.dmc", "none.dmc: not found"},
        {"fifo without a writer", fifo, "pipe.dmc: not a regular file"},
        {"directory", dir.Path(), ": not a regular file"},
        {"device", "/dev/null", "/dev/null: not a regular file"},
        {"over 16 MiB", huge, "16777217 bytes, more than a configuration file holds (at most 16 MiB)"},
        {"not XML on the third line", WriteFile(dir, "text.dmc", "<QXDM>\n<a>\n</b></QXDM>"), "not XML at line 3"},
        {"two roots", WriteFile(dir, "two.dmc", "<a/><b/>"), "not XML with a single root element"},
    };
    CDmcReader reader;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DmcDocument doc;
        std::string error;
        EXPECT_EQ(reader.LoadDocument(c.path, doc, &error), 0);
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_FALSE(doc);
    }
    DmcDocument doc;
    EXPECT_EQ(reader.LoadDocument(atLimit, doc), 1);
}

TEST(DmcReader, SecondLoadReplacesTheDocument)
{
    CDmcReader reader;
    TempDir dir;
    DmcDocument doc;
    ASSERT_EQ(reader.LoadDocument(WriteFile(dir, "a.dmc", Wrap("<EventIDs>1,</EventIDs>")), doc), 1);
    ASSERT_EQ(reader.LoadDocument(WriteFile(dir, "b.dmc", Wrap("<EventIDs>2,</EventIDs>")), doc), 1);
    std::string text;
    EXPECT_EQ(reader.GetListText(doc, g_pathEventIDs, text), 1);
    EXPECT_EQ(text, "2,");
}

TEST(DmcReader, DocumentWithoutRootIsReportedToTheCaller)
{
    CDmcReader reader;
    std::vector<std::string> messages;
    auto sink = [&](const char* m) { messages.push_back(m); };
    std::string text = "kept";
    EXPECT_EQ(reader.GetListText(DmcDocument{}, g_pathEventIDs, text, sink), 0);
    EXPECT_EQ(reader.GetListText(std::make_shared<const pugi::xml_document>(), g_pathEventIDs, text, sink), 0);
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(messages, (std::vector<std::string>{kDmcEmptyDocumentMessage, kDmcEmptyDocumentMessage}));
    EXPECT_STREQ(kDmcEmptyDocumentMessage, "Empty document!Error Loading XML");
}

// A file as the logging tool saves it: only MessagesView is read, where the
// log codes are the one list; the other three are empty elements, so not found.
void ExpectMessagesViewLists(const std::string& path)
{
    CDmcReader reader;
    DmcDocument doc;
    ASSERT_EQ(reader.LoadDocument(path, doc), 1);
    std::string text;
    EXPECT_EQ(reader.GetListText(doc, g_pathLogCodes, text), 1);
    EXPECT_EQ(text, "0x157F,0x157E,0x157B,0x157A");
    for (const DmcPath* empty : {&g_pathEventIDs, &g_pathOTATypes, &g_pathMessageLevels}) {
        std::string other = "unchanged";
        EXPECT_EQ(reader.GetListText(doc, *empty, other), 0);
        EXPECT_EQ(other, "unchanged");
    }
}

TEST(DmcReader, SavedConfigurationFile)
{
    TempDir dir;
    ExpectMessagesViewLists(WriteFile(dir, "saved.dmc", fixture::SavedDmc()));
}

TEST(DmcReader, SampleConfigurationFile)
{
    const std::optional<std::string> sample = SampleFile("dmc/default.dmc");
    if (!sample)
        GTEST_SKIP() << SampleMissing("dmc/default.dmc");
    ExpectMessagesViewLists(*sample);
}

}   // namespace

namespace {

// Nesting far deeper than any configuration: loading must not need a stack
// frame per level.
TEST(DmcReader, DeepNestingLoads)
{
    std::string xml = "<QXDM><Persistence><MessagesView><ISVConfig><EventIDs>1,</EventIDs>";
    for (int i = 0; i < 200000; ++i)
        xml += "<a>";
    xml += "&amp;";
    for (int i = 0; i < 200000; ++i)
        xml += "</a>";
    xml += "</ISVConfig></MessagesView></Persistence></QXDM>";
    CDmcReader reader;
    TempDir dir;
    DmcDocument doc;
    ASSERT_EQ(reader.LoadDocument(WriteFile(dir, "deep.dmc", xml), doc), 1);
    std::string text;
    EXPECT_EQ(reader.GetListText(doc, g_pathEventIDs, text), 1);
    EXPECT_EQ(text, "1,");
}

}   // namespace
