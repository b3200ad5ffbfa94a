// SPDX-License-Identifier: GPL-2.0-or-later
// orvane-log --decode, --read and --qdb as a user runs them: the real program
// on real and made-up captures, on files it must refuse, and live against the
// virtual modem.
#include "OrvaneLogProcess.h"
#include "VmodemProcess.h"
#include "VmodemTestUtil.h"
#include "support/SampleData.h"
#include "tests/decode/DecodeTestUtil.h"
#include "tools/orvanelog/Options.h"
#include "tools/vmodem/LogRecords.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace orvanelog_test;
using decodetest::Bytes;

std::vector<std::string> LinesWith(const std::string& text, const std::string& part)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find(part) != std::string::npos)
            lines.push_back(line);
    return lines;
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TEST(OrvaneLogDecode, DeadSimSampleReadsAsNinetyNineNamedRecords)
{
    const std::optional<std::string> path = SampleFile("qmdl/deadsim.qmdl");
    if (!path)
        GTEST_SKIP() << SampleMissing("qmdl/deadsim.qmdl");
    LogProcess run({"--read", *path, "--decode"});
    ASSERT_EQ(run.Wait(), kExitClean) << run.Err();
    const std::string out = run.Out();
    const std::vector<std::string> records = LinesWith(out, "  LOG  0x");
    EXPECT_EQ(records.size(), 99u) << out;
    for (const std::string& line : records) {
        SCOPED_TRACE(line);
        EXPECT_TRUE(line.find("  LTE RRC OTA  ") != std::string::npos
                    || line.find("  LTE NAS EMM Plain ") != std::string::npos);
    }
    // The summary agrees.
    EXPECT_NE(out.find("frames: 99  bad frames: 0"), std::string::npos) << out;
    EXPECT_NE(out.find("decoded records: 99  debug messages: 0  malformed: 0"), std::string::npos) << out;
    EXPECT_NE(out.find("    0xB0C0 LTE RRC OTA 95\n"), std::string::npos) << out;
    EXPECT_TRUE(run.Err().empty()) << run.Err();
}

TEST(OrvaneLogDecode, ReadDecodesEveryKindAndTheDatabaseFormatsTerseMessages)
{
    TempDir dir;
    Bytes capture;
    const auto add = [&capture](const Bytes& packet) {
        const Bytes frame = vmtest::RefFrame(packet);
        capture.insert(capture.end(), frame.begin(), frame.end());
    };
    add(vmlog::BuildLogRecord(0xB0C0, 0, 0));
    add(vmlog::BuildExtMessage(2, 0));
    add(vmlog::BuildStreamEvent(1, 0));
    Bytes terse = decodetest::MessageHeader(0x92, 1, 0, 55, 5000, 0x08);
    decodetest::Le(terse, 4242, 4);
    decodetest::Le(terse, 17, 4);
    add(terse);
    add({0x10, 0x00});
    WriteFile(dir.Path() + "/c.bin", capture);
    const Bytes qdb = decodetest::Qdb("<Content>\n4242:8:5000:55:ds.c:calls up: %d\n<\\Content>\n");
    WriteFile(dir.Path() + "/m.qdb", qdb);

    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> lines;   // each line's end, in order
    };
    const Case cases[] = {
        {"without a database", {"--read", dir.Path() + "/c.bin", "--decode"},
         {"  LOG  0xB0C0  LTE RRC OTA  22 bytes  BCCH-BCH MasterInformationBlock", "  MSG  21/02  uimutil.c:931  UIM_1: Path length is 4, Current Path 0x3f00 0x7f20",
          "  EVENT  1610  LTE_RRC_UL_MSG  02 01", "  TERSE  5000/08  hash 0x00001092  args 0x11",
          "  MALFORMED  0x10  log record cut short  10 00"}},
        {"with the database", {"--read", dir.Path() + "/c.bin", "--decode", "--qdb", dir.Path() + "/m.qdb"},
         {"  LOG  0xB0C0  LTE RRC OTA  22 bytes  BCCH-BCH MasterInformationBlock", "  MSG  21/02  uimutil.c:931  UIM_1: Path length is 4, Current Path 0x3f00 0x7f20",
          "  EVENT  1610  LTE_RRC_UL_MSG  02 01", "  MSG  5000/08  ds.c:55  calls up: 17",
          "  MALFORMED  0x10  log record cut short  10 00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogProcess run(c.args);
        ASSERT_EQ(run.Wait(), kExitClean) << run.Err();
        const std::string out = run.Out();
        std::istringstream in(out);
        for (const std::string& want : c.lines) {
            std::string line;
            ASSERT_TRUE(std::getline(in, line)) << out;
            ASSERT_GE(line.size(), want.size()) << line;
            EXPECT_EQ(line.substr(line.size() - want.size()), want);
        }
        EXPECT_NE(out.find("decoded records: 5  debug messages: 2  malformed: 1"), std::string::npos) << out;
    }

    // Without --decode: the summary alone.
    LogProcess quiet({"--read", dir.Path() + "/c.bin"});
    ASSERT_EQ(quiet.Wait(), kExitClean) << quiet.Err();
    EXPECT_TRUE(LinesWith(quiet.Out(), "  LOG  ").empty()) << quiet.Out();
    EXPECT_NE(quiet.Out().find("frames: 5  bad frames: 0"), std::string::npos) << quiet.Out();
    EXPECT_EQ(quiet.Out().find("decoded records"), std::string::npos);
}

TEST(OrvaneLogDecode, BadFilesAreRefusedWithStatusThree)
{
    TempDir dir;
    WriteFile(dir.Path() + "/noise.bin", Bytes(64, 'A'));
    WriteFile(dir.Path() + "/good.bin", vmtest::RefFrame(vmlog::BuildLogRecord(0xB0C0, 0, 0)));
    WriteFile(dir.Path() + "/bad.qdb", Bytes{0x7F, 'Q', 'D', 'B', 1, 2, 3});
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {"absent", {"--read", dir.Path() + "/absent.bin"}, "cannot read the capture"},
        {"a directory", {"--read", dir.Path()}, "not a regular file"},
        {"no frame", {"--read", dir.Path() + "/noise.bin", "--decode"}, "no DIAG frame in its 64 bytes"},
        {"a bad database", {"--read", dir.Path() + "/good.bin", "--qdb", dir.Path() + "/bad.qdb"},
         "cannot load the message database"},
        {"an absent database", {"--read", dir.Path() + "/good.bin", "--qdb", dir.Path() + "/none.qdb"},
         "No such file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogProcess run(c.args);
        EXPECT_EQ(run.Wait(), kExitFile);
        EXPECT_NE(run.Err().find(c.says), std::string::npos) << run.Err();
        EXPECT_EQ(run.Out().find("  LOG  "), std::string::npos);
    }
}

TEST(OrvaneLogDecode, LiveAgainstTheVirtualModemShowsItsMessagesAndEvents)
{
    PortDir ports;
    TempDir dir;
    vmtest::VmodemProcess modem({"--link", "COM1"});
    ASSERT_FALSE(modem.DevicePath().empty());
    LogProcess run({"COM1", "--defaults", "--decode", "--duration", "3", "--dir", dir.Path()});
    ASSERT_EQ(run.Wait(33s), kExitClean) << run.Err();
    const std::string out = run.Out();
    EXPECT_FALSE(LinesWith(out, "  MSG  0/02  vmodem_rrc.c:100  vmodem: camped on PCI 257").empty()) << out;
    EXPECT_FALSE(LinesWith(out, "  EVENT  1606  LTE_RRC_STATE_CHANGE  ").empty()) << out;
    EXPECT_TRUE(LinesWith(out, "  MALFORMED  ").empty()) << out;
    EXPECT_TRUE(LinesWith(out, "bad FCS").empty()) << "the status line is on standard error";
    EXPECT_NE(out.find("decoded records: "), std::string::npos) << out;
    EXPECT_NE(run.Err().find("capturing into"), std::string::npos) << run.Err();
    EXPECT_EQ(modem.Stop(), 0);
}

}  // namespace
