// SPDX-License-Identifier: GPL-2.0-or-later
// Message databases: the QShrink 4 .qdb (header, zlib text, <Content>) and
// the older hash files, and every file that is refused, with its reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "decode/MessageDatabase.h"
#include "tests/decode/DecodeTestUtil.h"

namespace {

using decodetest::AsBytes;
using decodetest::Bytes;
using decodetest::Qdb;

TEST(MessageDatabase, ReadsTheContentOfAQShrink4Database)
{
    const std::string text =
        "# a comment\n"
        "<GUID> a0a1a2a3-a4a5-a6a7-a8a9-aaabacadaeaf <\\GUID>\n"
        "<Content>\n"
        "123456:2:9500:77:lte_rrc.c:state %d: %s\n"
        "0x10:1:0:1:a.c:colons: kept: %d\r\n"
        "broken line\n"
        "<\\Content>\n"
        "<MtraceContent>\n"
        "99:1:2:3:4:5:6\n"
        "<\\MtraceContent>\n";
    decode::CMessageDatabase db;
    std::string error;
    ASSERT_TRUE(db.LoadBytes(Qdb(text), &error)) << error;
    EXPECT_TRUE(db.IsQShrink4());
    EXPECT_EQ(db.Size(), 2u);
    const decode::MessageEntry* e = db.Find(123456);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->subsysMask, 2u);
    EXPECT_EQ(e->ssid, 9500u);
    EXPECT_EQ(e->line, 77u);
    EXPECT_EQ(e->file, "lte_rrc.c");
    EXPECT_EQ(e->format, "state %d: %s");
    ASSERT_NE(db.Find(0x10), nullptr);
    EXPECT_EQ(db.Find(0x10)->format, "colons: kept: %d");
    EXPECT_EQ(db.Find(99), nullptr) << "other sections are not messages";
}

TEST(MessageDatabase, ReadsTheOlderHashFiles)
{
    decode::CMessageDatabase db;
    std::string error;
    ASSERT_TRUE(db.LoadBytes(AsBytes("#comment\n<version_lo> 1 </version_lo>\n42:cm.c:call %d up: ok\n7:x.c:\n"),
                             &error))
        << error;
    EXPECT_FALSE(db.IsQShrink4());
    EXPECT_EQ(db.Size(), 2u);
    ASSERT_NE(db.Find(42), nullptr);
    EXPECT_EQ(db.Find(42)->file, "cm.c");
    EXPECT_EQ(db.Find(42)->format, "call %d up: ok");
    EXPECT_EQ(db.Find(7)->format, "");
}

TEST(MessageDatabase, RefusesBadFilesAndSaysWhy)
{
    Bytes broken = Qdb("<Content>\n1:2:3:4:a.c:b\n<\\Content>\n");
    broken[70] ^= 0xFF;
    Bytes cut = Qdb("<Content>\n1:2:3:4:a.c:b\n<\\Content>\n");
    cut.resize(cut.size() - 4);
    struct Case {
        const char* name;
        Bytes file;
        const char* reason;
    };
    const Case cases[] = {
        {"empty", {}, "no message in it"},
        {"binary noise", {0x00, 0x01, 0xFF, 0x10, 0x0A, 0x80}, "no line of the form hash:file:format"},
        {"QShrink 4 header only", Bytes{0x7F, 'Q', 'D', 'B', 0, 0}, "64-byte header"},
        {"QShrink 4 text broken", broken, "compressed text is broken"},
        {"QShrink 4 text cut", cut, "compressed text is broken"},
        {"QShrink 4 without content", Qdb("<GUID> x <\\GUID>\n"), "without a <Content> section"},
        {"QShrink 4 content empty", Qdb("<Content>\nnot:a:line\n<\\Content>\n"), "no message in the <Content>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        decode::CMessageDatabase db;
        std::string error;
        EXPECT_FALSE(db.LoadBytes(c.file, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    // A refused file leaves the database as it was.
    decode::CMessageDatabase db;
    std::string error;
    ASSERT_TRUE(db.LoadBytes(AsBytes("5:a.c:x\n"), &error));
    EXPECT_FALSE(db.LoadBytes(cut, &error));
    EXPECT_NE(db.Find(5), nullptr);
}

TEST(MessageDatabase, TextThatInflatesPastItsLimitIsRefused)
{
    const std::string big = "<Content>\n" + std::string(1 << 20, '#') + "\n1:2:3:4:a.c:b\n<\\Content>\n";
    decode::CMessageDatabase db;
    std::string error;
    EXPECT_FALSE(db.LoadBytes(Qdb(big), &error, 1 << 16));
    EXPECT_NE(error.find("inflates past"), std::string::npos) << error;
    EXPECT_TRUE(db.LoadBytes(Qdb(big), &error)) << error;
}

TEST(MessageDatabase, FilesOnDisk)
{
    const auto dir = std::filesystem::temp_directory_path() / ("orvane-qdb-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const Bytes qdb = Qdb("<Content>\n9:1:2:3:f.c:hello\n<\\Content>\n");
    std::ofstream(dir / "m.qdb", std::ios::binary).write(reinterpret_cast<const char*>(qdb.data()), qdb.size());
    decode::CMessageDatabase db;
    std::string error;
    EXPECT_TRUE(db.Load((dir / "m.qdb").string(), &error)) << error;
    EXPECT_EQ(db.Find(9)->format, "hello");
    EXPECT_FALSE(db.Load((dir / "absent.qdb").string(), &error));
    EXPECT_NE(error.find("absent.qdb: No such file"), std::string::npos) << error;
    std::filesystem::remove_all(dir);
}

}  // namespace
