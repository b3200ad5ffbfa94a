// SPDX-License-Identifier: GPL-2.0-or-later
// The capture file end to end: what the modem sends in Log client mode lands
// in the capture unchanged, through the real dialog and a pseudo-terminal.
#include "LogClientFarEnd.h"

#include "logclient/CaptureFile.h"
#include "ui/WindowControls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace logclient_test;

Bytes Pattern(std::size_t n, std::uint8_t seed)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 7 + i / 253 + seed);
    return b;
}

class LogClientCapture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ports.Link("COM1", pty.SlavePath());
        dlg = std::make_unique<COrvaneDlg>(prompts);
        UseStartDir(*dlg, startDir.Path());
        Radio(*dlg, "IDC_MODE_LOG_CLIENT").click();
        ASSERT_EQ(dlg->m_nMode, MODE_LOG_CLIENT);
    }

    void Connect()
    {
        dlg->OnConnect();
        ASSERT_TRUE(PortOpen(*dlg)) << prompts.Texts().join('|').toStdString();
    }

    void ApplyDefaults()
    {
        dlg->LoadDefaultConfig();
        ASSERT_TRUE(WaitUntil([&] { return Steps(*dlg) == 11; }, 10000));
    }

    // The modem sends data; the window's events run meanwhile so that the
    // reader's hand-overs are taken.
    void ModemSends(const Bytes& data)
    {
        const std::int32_t before = RxTotal(*dlg);
        std::thread sender([&] { pty.Send(data); });
        const bool arrived = WaitUntil(
            [&] { return RxTotal(*dlg) == before + static_cast<std::int32_t>(data.size()); }, 30000);
        sender.join();
        ASSERT_TRUE(arrived) << RxTotal(*dlg) - before << " of " << data.size();
    }

    FakePrompts prompts;
    PtyPair pty;
    FarEnd far{pty};
    PortDir ports;
    TempDir startDir;
    std::unique_ptr<COrvaneDlg> dlg;
};

TEST_F(LogClientCapture, EveryByteLandsUnchangedAndInOrder)
{
    Connect();
    ApplyDefaults();
    ASSERT_TRUE(Capture(*dlg).IsOpen());
    const std::string path = Capture(*dlg).Path();

    Bytes sent = {0x7E, 0x7D, 0x5E, 0x7E};
    ModemSends(sent);
    const Bytes bulk = Pattern(300000, 3);   // many chunks, escapes and flags among them
    ModemSends(bulk);
    sent.insert(sent.end(), bulk.begin(), bulk.end());
    EXPECT_EQ(Label(*dlg, "IDC_STATIC_STATUS").text(), QStringLiteral("Received %1 bytes...").arg(sent.size()));
    EXPECT_TRUE(ResultsBox(*dlg).toPlainText().isEmpty());

    dlg->OnDisconnect();
    EXPECT_FALSE(Capture(*dlg).IsOpen());
    const Bytes file = ReadFile(path);
    EXPECT_EQ(file.size(), sent.size());
    EXPECT_TRUE(file == sent);
    EXPECT_EQ(path.substr(0, startDir.Path().size() + 1), startDir.Path() + "/");
}

TEST_F(LogClientCapture, WithoutAFileDataIsCountedOnly)
{
    Connect();
    ModemSends(Pattern(5000, 1));
    EXPECT_EQ(RxTotal(*dlg), 5000);
    EXPECT_EQ(Label(*dlg, "IDC_STATIC_STATUS").text(), QStringLiteral("Received 5000 bytes..."));
    EXPECT_TRUE(startDir.Files().empty());
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(LogClientCapture, DefaultsTwiceGiveOneFile)
{
    Connect();
    ApplyDefaults();
    ModemSends({0x01, 0x02});
    ApplyDefaults();
    ModemSends({0x03});
    ASSERT_EQ(startDir.Files().size(), 1u);
    const std::string path = Capture(*dlg).Path();
    dlg->OnDisconnect();
    EXPECT_EQ(ReadFile(path), (Bytes{0x01, 0x02, 0x03}));
}

// Captures named after the same second, whether of this run or of another
// year, are all kept.
TEST_F(LogClientCapture, CapturesOfTheSameSecondAreAllKept)
{
    // Every name the next few seconds can give is taken already.
    const std::time_t now = std::time(nullptr);
    std::set<std::string> older;
    for (std::time_t t = now - 1; t <= now + 20; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        const std::string name = CCaptureFile::FileName(local);
        std::ofstream(startDir.Path() + "/" + name, std::ios::binary) << "older";
        older.insert(name);
    }

    Connect();
    ApplyDefaults();
    const std::string first = Capture(*dlg).Path();
    const Bytes a = Pattern(20000, 5);
    ModemSends(a);
    dlg->OnDisconnect();
    Connect();   // a new capture before the defaults go out again
    const std::string second = Capture(*dlg).Path();
    ASSERT_TRUE(WaitUntil([&] { return Steps(*dlg) == 11; }, 10000));
    const Bytes b = Pattern(20000, 9);
    ModemSends(b);
    dlg->OnDisconnect();

    EXPECT_NE(first, second);
    EXPECT_EQ(ReadFile(first), a);
    EXPECT_EQ(ReadFile(second), b);
    for (const std::string& name : older) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ReadFile(startDir.Path() + "/" + name), (Bytes{'o', 'l', 'd', 'e', 'r'}));
    }
    EXPECT_EQ(startDir.Files().size(), older.size() + 2);
    EXPECT_NE(first.find("-2.bin"), std::string::npos) << first;
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(LogClientCapture, OtherModesAreNotCapturedButTheFileStaysOpen)
{
    Connect();
    ApplyDefaults();
    const std::string path = Capture(*dlg).Path();
    ModemSends({0x11});
    Radio(*dlg, "IDC_MODE_LOG_SERVER").click();
    ASSERT_EQ(dlg->m_nMode, MODE_LOG_SERVER);
    ModemSends({0x22, 0x33});
    Radio(*dlg, "IDC_MODE_LOG_CLIENT").click();
    ModemSends({0x44});
    EXPECT_TRUE(Capture(*dlg).IsOpen());
    dlg->OnDisconnect();
    EXPECT_EQ(ReadFile(path), (Bytes{0x11, 0x44}));
}

}   // namespace
