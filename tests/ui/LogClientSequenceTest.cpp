// SPDX-License-Identifier: GPL-2.0-or-later
// The Log client's configuration sequences end to end: the real dialog at the
// slave end of a pseudo-terminal, the test as the modem at the master end.
#include "LogClientFarEnd.h"

#include "logclient/DefaultPackets.h"
#include "logclient/DmcReader.h"
#include "logclient/MaskBuilders.h"
#include "support/Fixtures.h"
#include "support/SampleData.h"
#include "ui/WindowControls.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '[' << list.join(QStringLiteral("] [")).toStdString() << ']';
}
QT_END_NAMESPACE

namespace {

using namespace logclient_test;

std::string Dmc(const std::string& lists)
{
    return "<QXDMProfessional>\n <Persistence>\n  <MessagesView>\n   <ISVConfig>\n" + lists +
           "\n   </ISVConfig>\n  </MessagesView>\n </Persistence>\n</QXDMProfessional>\n";
}

// A configuration whose lists are those the logging tool saved in a file's
// LoggingView: descending, interleaved, without trailing separators.
std::string FullDmcFrom(const std::string& saved)
{
    CDmcReader reader;
    DmcDocument doc;
    if (!reader.LoadDocument(saved, doc))
        return {};
    std::string lists;
    for (const char* name : {"EventIDs", "LogCodes", "OTATypes", "MessageLevels"}) {
        std::string text;
        reader.GetListText(doc, DmcPath{"QXDM", "Persistence", "LoggingView", "ISVConfig", name}, text);
        lists += std::string("<") + name + ">" + text + "</" + name + ">\n";
    }
    return Dmc(lists);
}

// The packets of the three steps, straight from the builders, in their order.
std::vector<Bytes> BuilderPackets(const std::string& path)
{
    CDmcReader reader;
    DmcDocument doc;
    std::vector<Bytes> packets;
    if (!reader.LoadDocument(path, doc))
        return packets;
    std::array<std::uint8_t, kMaskPacketRoom> room{};
    auto take = [&](std::size_t n) {
        if (n)
            packets.emplace_back(room.begin(), room.begin() + static_cast<long>(n));
    };
    std::int32_t done = 0;
    std::string events, codes, ota, levels;
    if (reader.GetListText(doc, g_pathEventIDs, events)) {
        take(BuildEventReport(events, room));
        take(BuildEventMask(events, 0, room, &done));
    }
    const int a = reader.GetListText(doc, g_pathLogCodes, codes);
    const int b = reader.GetListText(doc, g_pathOTATypes, ota);
    if (a || b) {
        std::int32_t posA = 0, posB = 0;
        for (done = 0; !done;)
            take(BuildLogConfig(codes, ota, posA, posB, room, &done));
    }
    if (reader.GetListText(doc, g_pathMessageLevels, levels)) {
        std::int32_t pos = 0;
        for (done = 0; !done;)
            take(BuildExtMsgConfig(levels, pos, room, &done));
    }
    return packets;
}

// Waits for the far end without running the window's events, so no timer of
// the dialog can fire meanwhile.
bool WaitBytesWithoutEvents(const FarEnd& far, std::size_t n)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (far.Size() < n && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return far.Size() == n;
}

class LogClientSequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        ports.Link("COM1", pty.SlavePath());
        dlg = std::make_unique<COrvaneDlg>(prompts);
        UseStartDir(*dlg, startDir.Path());
        Radio(*dlg, "IDC_MODE_LOG_CLIENT").click();   // checks the radio and runs OnModeLogClient
        ASSERT_EQ(dlg->m_nMode, MODE_LOG_CLIENT);
    }

    void Connect()
    {
        dlg->OnConnect();
        ASSERT_TRUE(PortOpen(*dlg)) << prompts.Texts().join('|').toStdString();
    }

    std::string WriteDmc(const std::string& name, const std::string& content)
    {
        const std::string path = files.Path() + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    // "Load Configuration..." with the file dialog answering path.
    void LoadConfiguration(const std::string& path)
    {
        prompts.answers.push_back(QString::fromStdString(path));
        dlg->OnSend();
    }

    bool WaitStep(std::uint32_t step) { return WaitUntil([&] { return Steps(*dlg) == step; }, 10000); }

    // The generated file as the logging tool saves it.
    std::string SavedFile() { return WriteDmc("saved.dmc", fixture::SavedDmc()); }

    void SavedListsGoOutInOrder(const std::string& saved);
    void SendsTheOneLogMaskOf(const std::string& saved);

    FakePrompts prompts;
    PtyPair pty;
    FarEnd far{pty};
    PortDir ports;
    TempDir startDir;
    TempDir files;
    std::unique_ptr<COrvaneDlg> dlg;
};

void LogClientSequence::SavedListsGoOutInOrder(const std::string& saved)
{
    const std::string full = FullDmcFrom(saved);
    ASSERT_FALSE(full.empty());
    const std::string path = WriteDmc("full.dmc", full);
    const std::vector<Bytes> packets = BuilderPackets(path);

    // 0x60, 0x82, then one 0x73 per equipment id, then the 0x7D ranges
    std::string order;
    for (const Bytes& p : packets)
        order += p[0] == 0x60 ? 'R' : p[0] == 0x82 ? 'E' : p[0] == 0x73 ? 'L' : p[0] == 0x7D ? 'M' : '?';
    ASSERT_EQ(order.substr(0, 8), "RELLLLLL");
    EXPECT_EQ(order.find_first_not_of('M', 8), std::string::npos);
    EXPECT_GT(order.size(), 9u);

    Connect();
    LoadConfiguration(path);
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.Texts().join('|').toStdString();

    // Step 0 has gone out during the click; step 1 waits for the timer.
    EXPECT_EQ(Steps(*dlg), 1u);
    EXPECT_TRUE(TimerActive(*dlg, TIMER_CONFIG));
    EXPECT_EQ(dlg->LogClient().SequenceTimer(::LogClientSequence::Config).interval(), 100);
    EXPECT_TRUE(dlg->LogClient().SequenceTimer(::LogClientSequence::Config).isSingleShot());
    EXPECT_TRUE(WaitBytesWithoutEvents(far, Framed({packets[0], packets[1]}).size()));
    EXPECT_EQ(far.Received(), Framed({packets[0], packets[1]}));

    ASSERT_TRUE(WaitStep(3));
    EXPECT_FALSE(TimerActive(*dlg, TIMER_CONFIG));
    const Bytes wire = far.WaitFor(Framed(packets).size());
    EXPECT_EQ(wire, Framed(packets));
    EXPECT_EQ(startDir.Files().size(), 1u);
}

TEST_F(LogClientSequence, SavedListsGoOutInOrderOneStepPerTick)
{
    SavedListsGoOutInOrder(SavedFile());
}

TEST_F(LogClientSequence, SampleFileListsGoOutInOrderOneStepPerTick)
{
    const std::optional<std::string> sample = SampleFile("dmc/default.dmc");
    if (!sample)
        GTEST_SKIP() << SampleMissing("dmc/default.dmc");
    SavedListsGoOutInOrder(*sample);
}

void LogClientSequence::SendsTheOneLogMaskOf(const std::string& saved)
{
    Connect();
    LoadConfiguration(saved);
    ASSERT_TRUE(WaitStep(3));
    Bytes mask(16 + 0x580 / 8, 0);
    mask[0] = 0x73;
    mask[4] = 3;
    mask[8] = 1;
    dmcmd::PutU32(mask, 12, 0x580);
    for (int item : {0x57A, 0x57B, 0x57E, 0x57F})
        mask[16 + item / 8] |= static_cast<std::uint8_t>(1 << (item % 8));
    EXPECT_EQ(far.WaitFor(HdlcFrame(mask).size()), HdlcFrame(mask));
}

TEST_F(LogClientSequence, SavedFileSendsItsOneLogMask)
{
    SendsTheOneLogMaskOf(SavedFile());
}

TEST_F(LogClientSequence, SampleFileSendsItsOneLogMask)
{
    const std::optional<std::string> sample = SampleFile("dmc/default.dmc");
    if (!sample)
        GTEST_SKIP() << SampleMissing("dmc/default.dmc");
    SendsTheOneLogMaskOf(*sample);
}

TEST_F(LogClientSequence, FilesWithFewerLists)
{
    struct Case {
        const char* name;
        std::string lists;
        std::vector<Bytes> packets;
    };
    const std::vector<Case> cases = {
        {"no lists at all: the capture opens all the same", "<Items>5</Items>", {}},
        {"only event ids", "<EventIDs>1,2,3</EventIDs>",
         {{0x60, 0x01}, {0x82, 0x00, 0x00, 0x00, 0x08, 0x00, 0x0E}}},
        {"empty list elements", "<EventIDs/><LogCodes/><OTATypes/><MessageLevels/>", {}},
        {"only message levels", "<MessageLevels>0/1,60/2</MessageLevels>",
         {{0x7D, 0x04, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0}, {0x7D, 0x04, 60, 0, 60, 0, 0, 0, 4, 0, 0, 0}}},
    };
    Connect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        far.Clear();
        LoadConfiguration(WriteDmc("few.dmc", Dmc(c.lists)));
        ASSERT_TRUE(WaitStep(3));
        EXPECT_EQ(far.WaitFor(Framed(c.packets).size()), Framed(c.packets));
        // the capture opened with the first file stays the only one
        EXPECT_EQ(startDir.Files().size(), 1u);
    }
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(LogClientSequence, LoadingAgainWhileRunningStartsOver)
{
    const std::string first = WriteDmc("first.dmc", Dmc("<EventIDs>1,</EventIDs><MessageLevels>1/1</MessageLevels>"));
    const std::string second = WriteDmc("second.dmc", Dmc("<EventIDs>2,</EventIDs><MessageLevels>2/2</MessageLevels>"));
    const std::vector<Bytes> a = BuilderPackets(first), b = BuilderPackets(second);
    ASSERT_EQ(a.size(), 3u);
    ASSERT_EQ(b.size(), 3u);
    Connect();
    LoadConfiguration(first);
    LoadConfiguration(second);   // before the first sequence's next tick
    EXPECT_EQ(Steps(*dlg), 1u);
    ASSERT_TRUE(WaitStep(3));
    // step 0 of the first file, then the whole second one
    const std::vector<Bytes> expected = {a[0], a[1], b[0], b[1], b[2]};
    EXPECT_EQ(far.WaitFor(Framed(expected).size()), Framed(expected));
    EXPECT_EQ(startDir.Files().size(), 1u);
}

TEST_F(LogClientSequence, DefaultsOnePacketPerTick)
{
    const DefaultPacketTable& table = DefaultConfigPackets();
    const std::vector<Bytes> packets(table.begin(), table.end());
    Connect();
    dlg->LoadDefaultConfig();
    EXPECT_EQ(Steps(*dlg), 1u);
    EXPECT_TRUE(TimerActive(*dlg, TIMER_DEFAULTS));
    EXPECT_TRUE(WaitBytesWithoutEvents(far, HdlcFrame(packets[0]).size()));
    EXPECT_EQ(far.Received(), HdlcFrame(packets[0]));

    ASSERT_TRUE(WaitStep(11));
    EXPECT_FALSE(TimerActive(*dlg, TIMER_DEFAULTS));
    const Bytes wire = far.WaitFor(Framed(packets).size());
    EXPECT_EQ(wire, Framed(packets));
    const std::vector<Bytes> frames = Unframe(wire);
    ASSERT_EQ(frames.size(), 11u);
    EXPECT_EQ(Steps(*dlg), 11u);
    EXPECT_EQ(startDir.Files().size(), 1u);
}

TEST_F(LogClientSequence, DefaultsRestartHalfway)
{
    const DefaultPacketTable& table = DefaultConfigPackets();
    Connect();
    dlg->LoadDefaultConfig();
    ASSERT_TRUE(WaitUntil([&] { return Steps(*dlg) >= 5; }));
    const std::uint32_t sent = Steps(*dlg);
    dlg->LoadDefaultConfig();
    ASSERT_TRUE(WaitStep(11));

    std::vector<Bytes> expected(table.begin(), table.begin() + sent);
    expected.insert(expected.end(), table.begin(), table.end());
    EXPECT_EQ(far.WaitFor(Framed(expected).size()), Framed(expected));
    EXPECT_EQ(startDir.Files().size(), 1u);
}

TEST_F(LogClientSequence, ReconnectRepeatsTheConfiguration)
{
    const std::string path = WriteDmc("levels.dmc", Dmc("<EventIDs>0x8,</EventIDs><MessageLevels>5/1</MessageLevels>"));
    const std::vector<Bytes> dmcPackets = BuilderPackets(path);
    ASSERT_EQ(dmcPackets.size(), 3u);
    const DefaultPacketTable& table = DefaultConfigPackets();
    const std::vector<Bytes> defaults(table.begin(), table.end());

    Connect();
    LoadConfiguration(path);
    ASSERT_TRUE(WaitStep(3));
    EXPECT_EQ(far.WaitFor(Framed(dmcPackets).size()), Framed(dmcPackets));

    // defaults in between do not forget the file
    far.Clear();
    dlg->LoadDefaultConfig();
    ASSERT_TRUE(WaitStep(11));
    EXPECT_EQ(far.WaitFor(Framed(defaults).size()), Framed(defaults));

    far.Clear();
    const std::string first = Capture(*dlg).Path();
    dlg->OnDisconnect();
    EXPECT_FALSE(Capture(*dlg).IsOpen());
    EXPECT_TRUE(startDir.Files().empty()) << "the first capture stayed empty and is gone";
    Connect();
    EXPECT_TRUE(Capture(*dlg).IsOpen());
    EXPECT_NE(Capture(*dlg).Path(), first);
    ASSERT_TRUE(WaitStep(3));
    EXPECT_EQ(far.WaitFor(Framed(dmcPackets).size()), Framed(dmcPackets));
    EXPECT_TRUE(prompts.boxes.empty());
    EXPECT_EQ(startDir.Files().size(), 1u);
}

TEST_F(LogClientSequence, ReconnectRepeatsTheDefaults)
{
    const DefaultPacketTable& table = DefaultConfigPackets();
    const std::vector<Bytes> defaults(table.begin(), table.end());
    Connect();
    dlg->LoadDefaultConfig();
    ASSERT_TRUE(WaitStep(11));
    far.WaitFor(Framed(defaults).size());
    far.Clear();
    dlg->OnDisconnect();
    Connect();
    ASSERT_TRUE(WaitStep(11));
    EXPECT_EQ(far.WaitFor(Framed(defaults).size()), Framed(defaults));
}

TEST_F(LogClientSequence, ConnectBeforeAnyConfigurationStartsNothing)
{
    Connect();
    PumpEvents(300);
    EXPECT_EQ(far.Size(), 0u);
    EXPECT_EQ(Steps(*dlg), 0u);
    EXPECT_FALSE(Capture(*dlg).IsOpen());
    EXPECT_TRUE(startDir.Files().empty());
}

TEST_F(LogClientSequence, FailedReloadAfterReconnect)
{
    struct Case {
        const char* name;
        bool loadBadFile;   // else the good file goes bad on disk
    };
    for (const Case c : {Case{"a later load failed", true}, Case{"the file changed on disk", false}}) {
        SCOPED_TRACE(c.name);
        const std::string path = WriteDmc("good.dmc", Dmc("<EventIDs>1,</EventIDs>"));
        Connect();   // after the first case this reload fails too
        prompts.boxes.clear();
        LoadConfiguration(path);
        ASSERT_TRUE(WaitStep(3));
        if (c.loadBadFile) {
            LoadConfiguration(WriteDmc("bad.dmc", "not xml"));
            ASSERT_EQ(prompts.Texts(), QStringList{QStringLiteral("Fail to load dmc file")});
            EXPECT_EQ(prompts.boxes[0].icon, IPrompts::Icon::Exclamation);
            EXPECT_EQ(dlg->m_strDmcPath, files.Path() + "/bad.dmc");
            prompts.boxes.clear();
        } else {
            WriteDmc("good.dmc", "<QXDM>");
        }
        dlg->OnDisconnect();
        PumpEvents(200);
        far.Clear();
        Connect();
        EXPECT_EQ(prompts.Texts(), QStringList{QStringLiteral("malformated dmc file, reload it!")});
        PumpEvents(400);
        EXPECT_EQ(far.Size(), 0u);
        EXPECT_EQ(Steps(*dlg), 3u);
        dlg->OnDisconnect();
    }
}

TEST_F(LogClientSequence, LoadConfigurationBoxes)
{
    struct Case {
        const char* name;
        std::optional<QString> answer;
        QStringList boxes;
        bool captureOpen;
    };
    const std::vector<Case> cases = {
        {"cancelled", std::nullopt, {}, false},
        {"empty path", QString(), {QStringLiteral("Please select dmc file")}, false},
        {"missing file", QString::fromStdString(files.Path() + "/none.dmc"), {QStringLiteral("Fail to load dmc file")}, false},
        {"empty file", QString::fromStdString(WriteDmc("empty.dmc", "")), {QStringLiteral("Fail to load dmc file")}, false},
    };
    Connect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompts.boxes.clear();
        prompts.filters.clear();
        prompts.answers.push_back(c.answer);
        dlg->OnSend();
        EXPECT_EQ(prompts.filters, QStringList{QStringLiteral("Config file(*.dmc)|*.dmc|")});
        EXPECT_EQ(prompts.Texts(), c.boxes);
        for (const FakePrompts::Box& box : prompts.boxes)
            EXPECT_EQ(box.icon, IPrompts::Icon::Exclamation);
        EXPECT_EQ(Capture(*dlg).IsOpen(), c.captureOpen);
        EXPECT_EQ(Steps(*dlg), 0u);
    }
    EXPECT_TRUE(dlg->m_strDmcPath.find("empty.dmc") != std::string::npos);
    EXPECT_EQ(far.Size(), 0u);
}

TEST_F(LogClientSequence, LoadDefaultsNeedsAConnection)
{
    LineEdit(*dlg, "IDC_COMMAND").setText(QStringLiteral("typed"));
    dlg->LoadDefaultConfig();
    EXPECT_TRUE(LineEdit(*dlg, "IDC_COMMAND").text().isEmpty());
    EXPECT_EQ(prompts.Texts(), QStringList{QStringLiteral("You do not connect to the device yet")});
    EXPECT_EQ(Steps(*dlg), 0u);
    EXPECT_TRUE(startDir.Files().empty());
}

TEST_F(LogClientSequence, ClearButtonInOtherModesOnlyEmptiesTheCommandLine)
{
    Connect();
    dlg->OnDisconnect();
    Radio(*dlg, "IDC_MODE_HEX").click();
    Connect();
    LineEdit(*dlg, "IDC_COMMAND").setText(QStringLiteral("7E 01"));
    dlg->LoadDefaultConfig();
    EXPECT_TRUE(LineEdit(*dlg, "IDC_COMMAND").text().isEmpty());
    PumpEvents(200);
    EXPECT_EQ(far.Size(), 0u);
    EXPECT_TRUE(prompts.boxes.empty());
    EXPECT_EQ(Steps(*dlg), 0u);
}

TEST_F(LogClientSequence, SequenceWithoutADocumentSaysSo)
{
    Connect();
    dlg->RunConfigStep(1);
    ASSERT_FALSE(prompts.boxes.empty());
    EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("Empty document!Error Loading XML"));
    EXPECT_EQ(prompts.boxes[0].icon, IPrompts::Icon::Exclamation);
    ASSERT_TRUE(WaitStep(3));
    EXPECT_EQ(far.Size(), 0u);
}

TEST_F(LogClientSequence, CaptureThatCannotBeCreatedIsReported)
{
    UseStartDir(*dlg, startDir.Path() + "/gone");
    Connect();
    dlg->LoadDefaultConfig();
    ASSERT_EQ(prompts.Texts(), QStringList{QStringLiteral("Fail to create log file")});
    EXPECT_EQ(prompts.boxes[0].icon, IPrompts::Icon::Exclamation);
    EXPECT_TRUE(prompts.boxes[0].detail.contains(QStringLiteral("No such file or directory")))
        << prompts.boxes[0].detail.toStdString();
    // the configuration still goes out
    ASSERT_TRUE(WaitStep(11));
}

}   // namespace
