// SPDX-License-Identifier: GPL-2.0-or-later
// orvane-log and the window, side by side against the same kind of far end:
// the same configuration gives the same bytes on the wire.
#include "OrvaneLogProcess.h"
#include "support/DmFrames.h"
#include "tools/orvanelog/Options.h"
#include "ui/LogClientFarEnd.h"
#include "ui/WindowControls.h"

#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <string>

namespace {

using namespace orvanelog_test;
using logclient_test::FarEnd;

std::string Dmc(const std::string& lists, const char* view = "MessagesView")
{
    return std::string("<QXDMProfessional>\n <Persistence>\n  <") + view + ">\n   <ISVConfig>\n" + lists
           + "\n   </ISVConfig>\n  </" + view + ">\n </Persistence>\n</QXDMProfessional>\n";
}

const std::string kLists = "<EventIDs>1,5,300,0x7E,0x7D</EventIDs>"
                           "<LogCodes>0x1004,0x1005,0x412F,0xB0C0</LogCodes><OTATypes>0x713A</OTATypes>"
                           "<MessageLevels>0/31,5/30,3005/28,6002/31</MessageLevels>";

// What the window writes for a configuration: "Load Configuration..." with
// path, or "Load Default Cfg..." when path is empty.
Bytes WindowWire(PortDir& ports, const std::string& path)
{
    PtyPair pty;
    FarEnd far(pty);
    ports.Link("COM1", pty.SlavePath());
    TempDir startDir;
    FakePrompts prompts;
    COrvaneDlg dlg(prompts);
    UseStartDir(dlg, startDir.Path());
    Radio(dlg, "IDC_MODE_LOG_CLIENT").click();
    dlg.OnConnect();
    EXPECT_TRUE(PortOpen(dlg)) << dlg.m_SerialPort.GetLastErrorText();
    if (path.empty()) {
        dlg.LoadDefaultConfig();
    } else {
        prompts.answers.push_back(QString::fromStdString(path));
        dlg.OnSend();
    }
    EXPECT_TRUE(WaitUntil([&] { return !TimerActive(dlg, TIMER_CONFIG) && !TimerActive(dlg, TIMER_DEFAULTS); }, 20000));
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.Texts().join('|').toStdString();
    PumpEvents(300);   // anything after the last step shows too
    dlg.OnDisconnect();
    return far.Received();
}

// What orvane-log writes for the same configuration before it is stopped.
Bytes HeadlessWire(PortDir& ports, const std::string& path, const std::vector<std::string>& options, std::size_t expected)
{
    PtyPair pty;
    FarEnd far(pty);
    ports.Link("COM2", pty.SlavePath());
    TempDir dir;
    // The window sends no stop packets as it disconnects: neither does this run.
    std::vector<std::string> args{"COM2", "--dir", dir.Path(), "--leave-logging"};
    if (!path.empty())
        args.insert(args.end(), {"--dmc", path});
    args.insert(args.end(), options.begin(), options.end());
    LogProcess run(args);
    // Once it has written as much as the window, a little longer shows anything more.
    EXPECT_TRUE(WaitUntil([&] { return far.Size() >= expected; }, 20000)) << run.Err();
    PumpEvents(300);
    EXPECT_EQ(run.Stop(SIGTERM), kExitClean) << run.Err();
    // The far end sent nothing: the one capture made stayed empty and was removed as it closed.
    EXPECT_TRUE(dir.Files().empty());
    return far.Received();
}

struct Case {
    const char* name;
    std::string dmc;        // empty: the default packets
    bool sends;             // false: the file has no list, nothing goes out
    std::string headless;   // when set, orvane-log reads this file with --view logging instead
};

const Case kCases[] = {
    {"DefaultPackets", "", true, ""},
    {"AllFourLists", Dmc(kLists), true, ""},
    {"OnlyLogCodes", Dmc("<LogCodes>0x5000,0x7001</LogCodes>"), true, ""},
    {"NoLists", Dmc("<Items>5</Items>"), false, ""},
    // The lists of a file saved for the logging window, with other lists
    // under MessagesView that must not go out.
    {"LoggingViewLists", Dmc(kLists), true,
     "<QXDMProfessional><Persistence><MessagesView><ISVConfig><EventIDs>9</EventIDs><LogCodes>0x7001</LogCodes>"
     "</ISVConfig></MessagesView><LoggingView><ISVConfig>" + kLists + "</ISVConfig></LoggingView></Persistence>"
     "</QXDMProfessional>"},
};

// Test names and failures show the case's name, not its bytes.
void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class OrvaneLogAsWindow : public ::testing::TestWithParam<Case> {};

TEST_P(OrvaneLogAsWindow, TheSameConfigurationGivesTheSameBytes)
{
    const Case& c = GetParam();
    TempDir files;
    PortDir ports;
    std::string path;
    if (!c.dmc.empty()) {
        path = files.Path() + "/config.dmc";
        std::ofstream(path, std::ios::binary) << c.dmc;
    }
    const Bytes window = WindowWire(ports, path);
    std::vector<std::string> options;
    if (!c.sends)
        options = {"--allow-empty"};   // a file with no list is applied as the window applies it
    if (!c.headless.empty()) {
        path = files.Path() + "/logging.dmc";
        std::ofstream(path, std::ios::binary) << c.headless;
        options = {"--view", "logging"};
    }
    const Bytes headless = HeadlessWire(ports, path, options, window.size());
    EXPECT_EQ(headless.size(), window.size());
    EXPECT_TRUE(headless == window);
    EXPECT_EQ(!window.empty(), c.sends);
}

INSTANTIATE_TEST_SUITE_P(Configurations, OrvaneLogAsWindow, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
