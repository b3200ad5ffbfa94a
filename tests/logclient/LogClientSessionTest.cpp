// SPDX-License-Identifier: GPL-2.0-or-later
// The Log client session driven as the window and the headless logger drive
// it: calls in, packets and pauses out, no port, no timer, no sleep.
#include "logclient/LogClientSession.h"

#include "dm/FramedWriter.h"
#include "logclient/DefaultPackets.h"
#include "support/Fixtures.h"
#include "support/DmFrames.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using fixture::ReadAll;
using fixture::LocalTime;

using std::chrono::milliseconds;

std::string Dmc(const std::string& lists)
{
    return "<QXDMProfessional><Persistence><MessagesView><ISVConfig>" + lists +
           "</ISVConfig></MessagesView></Persistence></QXDMProfessional>\n";
}

// Command byte and pause of every packet of a step: "60/10 82/0".
std::string Shape(const LogClientStep& step)
{
    std::string s;
    char item[16];
    for (const LogClientPacket& p : step.packets) {
        std::snprintf(item, sizeof item, "%s%02X/%d", s.empty() ? "" : " ", p.bytes.empty() ? 0 : p.bytes[0],
                      static_cast<int>(p.pauseAfter.count()));
        s += item;
    }
    return s;
}

class LogClientSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        session.CaptureDirectory() = startDir.Path();
        session.SetClock([] { return LocalTime(3, 7, 14, 5, 9); });
        session.SetMessageSink([this](const LogClientMessage& m) { messages.push_back(m.text); });
    }

    std::string WriteDmc(const std::string& name, const std::string& content)
    {
        const std::string path = files.Path() + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    TempDir startDir;
    TempDir files;
    CLogClientSession session;
    std::vector<std::string> messages;
};

TEST_F(LogClientSession, ConfigurationStepsByTheListsTheFileHolds)
{
    struct Case {
        const char* name;
        std::string lists;
        const char* steps[3];   // packet shape of steps 0, 1 and 2
    };
    const Case cases[] = {
        {"events only: report, a pause, the mask; two empty steps", "<EventIDs>1,2,3,</EventIDs>",
         {"60/10 82/0", "", ""}},
        {"no lists: three steps and nothing sent", "", {"", "", ""}},
        {"log codes of two equipment ids: one 0x73 each",
         "<LogCodes>0x1004,0x412F,</LogCodes>", {"", "73/10 73/10", ""}},
        {"OTA types alone still run the log step", "<OTATypes>0x7001/</OTATypes>", {"", "73/10", ""}},
        {"message levels over 60 ssids: two 0x7D ranges", "<MessageLevels>0/31,60/3,</MessageLevels>",
         {"", "", "7D/10 7D/10"}},
        {"all four lists", "<EventIDs>5,</EventIDs><LogCodes>0x1004,</LogCodes><OTATypes></OTATypes>"
         "<MessageLevels>0/31,</MessageLevels>", {"60/10 82/0", "73/10", "7D/10"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<LogClientStep> first = session.LoadConfiguration(WriteDmc("c.dmc", Dmc(c.lists)));
        ASSERT_TRUE(first);
        EXPECT_EQ(Shape(*first), c.steps[0]);
        EXPECT_EQ(first->next, milliseconds(100));
        EXPECT_EQ(session.StepCounter(), 1u);

        const LogClientStep second = session.Step(LogClientSequence::Config);
        EXPECT_EQ(Shape(second), c.steps[1]);
        EXPECT_EQ(second.next, milliseconds(100));
        const LogClientStep third = session.Step(LogClientSequence::Config);
        EXPECT_EQ(Shape(third), c.steps[2]);
        EXPECT_FALSE(third.next) << "the sequence ends after step 2";
        EXPECT_EQ(session.StepCounter(), 3u);

        // A tick past the end sends nothing and leaves the counter alone.
        const LogClientStep late = session.Step(LogClientSequence::Config);
        EXPECT_TRUE(late.packets.empty());
        EXPECT_FALSE(late.next);
        EXPECT_EQ(session.StepCounter(), 3u);
        EXPECT_TRUE(session.Capture().IsOpen()) << "the capture opens even for a file without lists";
    }
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(startDir.Files(), std::vector<std::string>{"03-07-14-05-09.bin"}) << "an open capture stays open";
}

TEST_F(LogClientSession, EventStepCarriesTheExactPackets)
{
    const std::optional<LogClientStep> step = session.LoadConfiguration(WriteDmc("e.dmc", Dmc("<EventIDs>1,2,3,</EventIDs>")));
    ASSERT_TRUE(step);
    ASSERT_EQ(step->packets.size(), 2u);
    EXPECT_EQ(step->packets[0].bytes, (Bytes{0x60, 0x01}));
    EXPECT_EQ(step->packets[1].bytes, (Bytes{0x82, 0x00, 0x00, 0x00, 0x08, 0x00, 0x0E}));
}

TEST_F(LogClientSession, LoadFailuresTellTheirTextAndChangeNothing)
{
    struct Case {
        const char* name;
        std::string path;   // relative: made in the files folder
        const char* message;
        std::string keptPath;
        bool detail;   // the reason comes with the text
    };
    const std::string bad = WriteDmc("bad.dmc", "<QXDM><unclosed>");
    const Case cases[] = {
        {"empty path", "", kMsgSelectDmcFile, "", false},
        {"missing file", files.Path() + "/none.dmc", kMsgLoadDmcFailed, files.Path() + "/none.dmc", true},
        {"not well-formed", bad, kMsgLoadDmcFailed, bad, true},
    };
    std::vector<LogClientMessage> told;
    session.SetMessageSink([&](const LogClientMessage& m) { told.push_back(m); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        told.clear();
        EXPECT_FALSE(session.LoadConfiguration(c.path));
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].text, c.message);
        EXPECT_EQ(!told[0].detail.empty(), c.detail);
        EXPECT_EQ(session.DmcPath(), c.keptPath);
        EXPECT_EQ(session.StepCounter(), 0u);
        EXPECT_FALSE(session.Capture().IsOpen());
    }
}

TEST_F(LogClientSession, DefaultsOnePacketPerStepThenEnd)
{
    const DefaultPacketTable& table = DefaultConfigPackets();
    LogClientStep step = session.LoadDefaultConfig();
    EXPECT_TRUE(session.Capture().IsOpen());
    for (std::size_t i = 0; i < kDefaultPacketCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(step.sequence, LogClientSequence::Defaults);
        ASSERT_EQ(step.packets.size(), 1u);
        EXPECT_EQ(step.packets[0].bytes, table[i]);
        EXPECT_EQ(session.StepCounter(), i + 1);
        if (i + 1 < kDefaultPacketCount) {
            EXPECT_EQ(step.next, milliseconds(100));
            step = session.Step(LogClientSequence::Defaults);
        } else {
            EXPECT_FALSE(step.next);
        }
    }
    EXPECT_TRUE(session.Step(LogClientSequence::Defaults).packets.empty());
    EXPECT_EQ(session.StepCounter(), 11u);
}

TEST_F(LogClientSession, RestartsAndTheSharedCounter)
{
    struct Case {
        const char* name;
        std::vector<LogClientSequence> starts;   // Start(first), then Step(...) of the rest
        std::string commands;                    // first byte of every packet, in order
        std::uint32_t counter;
    };
    using S = LogClientSequence;
    const std::string path = WriteDmc("all.dmc", Dmc("<EventIDs>5,</EventIDs><LogCodes>0x1004,</LogCodes>"));
    ASSERT_TRUE(session.LoadConfiguration(path));
    const Case cases[] = {
        {"defaults restarted midway begin again at packet 0", {S::Defaults, S::Defaults, S::Defaults}, "60 82 73", 3},
        {"a config step after two defaults runs step 2", {S::Defaults, S::Defaults, S::Config}, "60 82", 3},
        {"a default tick after the config moved the counter to 3", {S::Config, S::Config, S::Config, S::Defaults},
         "60 82 73 73", 4},
        {"a default tick past the table ends quietly", {S::Config, S::Config, S::Config, S::Config}, "60 82 73", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string commands;
        for (std::size_t i = 0; i < c.starts.size(); ++i) {
            const LogClientStep step = i == 0 ? session.Start(c.starts[i]) : session.Step(c.starts[i]);
            for (const LogClientPacket& p : step.packets) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02X", p.bytes[0]);
                commands += (commands.empty() ? "" : " ") + std::string(hex);
            }
        }
        EXPECT_EQ(commands, c.commands);
        EXPECT_EQ(session.StepCounter(), c.counter);
    }
}

TEST_F(LogClientSession, ReconnectRepeatsTheLastConfiguration)
{
    // Nothing applied yet: no capture, nothing started.
    session.BeforeConnect();
    EXPECT_FALSE(session.Capture().IsOpen());
    EXPECT_FALSE(session.AfterConnect());

    const std::string path = WriteDmc("r.dmc", Dmc("<EventIDs>5,</EventIDs>"));
    ASSERT_TRUE(session.LoadConfiguration(path));
    session.CloseCaptureFile();
    session.BeforeConnect();
    EXPECT_TRUE(session.Capture().IsOpen());
    std::optional<LogClientStep> again = session.AfterConnect();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->sequence, LogClientSequence::Config);
    EXPECT_EQ(Shape(*again), "60/10 82/0");

    // The defaults applied later are not what a reconnect repeats: the file is.
    session.LoadDefaultConfig();
    again = session.AfterConnect();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->sequence, LogClientSequence::Config);

    // A file that no longer loads: told, nothing starts.
    std::ofstream(path, std::ios::binary) << "<broken";
    EXPECT_FALSE(session.AfterConnect());
    EXPECT_EQ(messages, std::vector<std::string>{kMsgReloadDmcFailed});
}

TEST_F(LogClientSession, ReconnectAfterDefaultsOnlyRepeatsTheDefaults)
{
    session.LoadDefaultConfig();
    const std::optional<LogClientStep> again = session.AfterConnect();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->sequence, LogClientSequence::Defaults);
    ASSERT_EQ(again->packets.size(), 1u);
    EXPECT_EQ(again->packets[0].bytes, (Bytes{0x60, 0x01}));
}

TEST_F(LogClientSession, CaptureTakesEveryChunkAsItCame)
{
    // No capture: nothing is written, nothing fails.
    EXPECT_TRUE(session.OnReceived(Bytes{0x7E}));
    ASSERT_TRUE(session.CreateCaptureFile());
    const std::vector<Bytes> chunks = {{0x7E, 0x7D, 0x5E, 0x7E}, {}, {0x00}, Bytes(8192, 0xA5)};
    Bytes all;
    for (const Bytes& c : chunks) {
        EXPECT_TRUE(session.OnReceived(c));
        all.insert(all.end(), c.begin(), c.end());
    }
    const std::string path = session.Capture().Path();
    EXPECT_EQ(path, startDir.Path() + "/03-07-14-05-09.bin");
    session.CloseCaptureFile();
    EXPECT_EQ(ReadAll(path), all);
    EXPECT_TRUE(session.OnReceived(Bytes{0x01})) << "after close nothing is written";
    EXPECT_EQ(ReadAll(path), all);
}

TEST_F(LogClientSession, CaptureThatCannotBeCreatedIsTold)
{
    std::vector<LogClientMessage> told;
    session.SetMessageSink([&](const LogClientMessage& m) { told.push_back(m); });
    session.CaptureDirectory() = startDir.Path() + "/gone";
    EXPECT_FALSE(session.CreateCaptureFile());
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].text, kMsgCreateCaptureFailed);
    EXPECT_FALSE(told[0].detail.empty());
    // The defaults still go out without a capture.
    EXPECT_EQ(session.LoadDefaultConfig().packets.size(), 1u);
}

// Event masks whose frames are longer than the framer's own room go out as
// one whole frame: the longest mask the builders make (ids up to 8143), and a
// mask of 0x7E bytes, every one escaped (526 bytes framed to 1049).
TEST_F(LogClientSession, LongEventMasksGoOutAsWholeFrames)
{
    struct Case {
        const char* name;
        std::string ids;
        std::size_t packet, frame;
    };
    std::string highest = "0,2,3,4,5,6,";   // first mask byte 0x7D
    for (int id = 8120; id <= 8143; ++id)
        highest += std::to_string(id) + ",";
    std::string dense;
    for (int byte = 0; byte < 520; ++byte)
        for (int bit = 1; bit <= 6; ++bit)   // 0x7E
            dense += std::to_string(byte * 8 + bit) + ",";
    const Case cases[] = {
        {"ids 8120 to 8143 fill the builders' room", highest, 1024, 1028},
        {"escape-dense mask", dense, 526, 1049},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<LogClientStep> step =
            session.LoadConfiguration(WriteDmc("big.dmc", Dmc("<EventIDs>" + c.ids + "</EventIDs>")));
        ASSERT_TRUE(step);
        ASSERT_EQ(step->packets.size(), 2u);
        const Bytes& mask = step->packets[1].bytes;
        ASSERT_EQ(mask.size(), c.packet);
        CByteSink port;
        const std::size_t written = FrameAndWrite(port, mask);
        EXPECT_EQ(written, c.frame);
        EXPECT_EQ(port.bytes, ReferenceFrame(mask));
    }
}

}   // namespace
