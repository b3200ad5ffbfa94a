// SPDX-License-Identifier: GPL-2.0-or-later
// A capture written in Log client mode, replayed in Log server mode, reaches
// the far end as the very bytes the modem sent. One tool does both in turn.
#include "LogServerFarEnd.h"
#include "support/Fixtures.h"
#include "support/Pty.h"
#include "support/SampleData.h"
#include "ui/WindowControls.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>

using namespace logserver_test;

namespace {

// The modem sends `sent` while the tool captures in Log client mode; the
// capture is then replayed in Log server mode.
void CaptureAndReplay(const Bytes& sent)
{
    FakePrompts prompts;
    PtyPair pty;
    PortDir ports;
    TempDir startDir;
    ports.Link("COM1", pty.SlavePath());
    COrvaneDlg dlg(prompts);
    UseStartDir(dlg, startDir.Path());

    // Log client: the defaults open a capture, then the modem sends its log.
    Radio(dlg, "IDC_MODE_LOG_CLIENT").click();
    ASSERT_EQ(dlg.m_nMode, MODE_LOG_CLIENT);
    dlg.OnConnect();
    ASSERT_TRUE(PortOpen(dlg)) << dlg.m_SerialPort.GetLastErrorText();
    dlg.LoadDefaultConfig();
    ASSERT_TRUE(WaitUntil([&] { return Steps(dlg) == 11; }, 10000));
    ASSERT_TRUE(Capture(dlg).IsOpen());
    const std::string capture = Capture(dlg).Path();

    const std::int32_t before = RxTotal(dlg);
    std::thread modem([&] { pty.Send(sent); });
    const bool arrived =
        WaitUntil([&] { return RxTotal(dlg) == before + static_cast<std::int32_t>(sent.size()); }, 30000);
    modem.join();
    ASSERT_TRUE(arrived) << RxTotal(dlg) - before << " of " << sent.size();
    dlg.OnDisconnect();
    ASSERT_TRUE(ReadFile(capture) == sent);
    ReadPumpingUntilQuiet(pty.Master());   // the configuration the tool sent, not under test here

    // Log server: the capture replayed goes out unchanged.
    Radio(dlg, "IDC_MODE_LOG_SERVER").click();
    ASSERT_EQ(dlg.m_nMode, MODE_LOG_SERVER);
    dlg.OnConnect();
    ASSERT_TRUE(PortOpen(dlg)) << dlg.m_SerialPort.GetLastErrorText();
    prompts.answers.push_back(QString::fromStdString(capture));
    BackgroundReader peer(pty.Master(), sent.size());
    dlg.OnSend();
    const Bytes replayed = peer.Take();
    EXPECT_EQ(replayed.size(), sent.size());
    EXPECT_TRUE(replayed == sent);
    EXPECT_TRUE(ReadPumpingUntilQuiet(pty.Master()).empty());
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.Texts().join('|').toStdString();
}

}   // namespace

TEST(LogServerCapture, ACaptureOfTheLogClientReplaysIdentically)
{
    Bytes sent = fixture::ModemCapture(99, 6).wire;
    const Bytes small = fixture::ModemCapture(29, 7).wire;
    sent.insert(sent.end(), small.begin(), small.end());
    CaptureAndReplay(sent);
}

TEST(LogServerCapture, SampleCapturesReplayIdentically)
{
    Bytes sent;
    for (const char* name : {"qmdl/deadsim.qmdl", "qmdl/goodsim-small.qmdl"}) {
        const std::optional<std::string> sample = SampleFile(name);
        if (!sample)
            GTEST_SKIP() << SampleMissing(name);
        const Bytes b = ReadFile(*sample);
        ASSERT_GT(b.size(), 0u) << name;
        sent.insert(sent.end(), b.begin(), b.end());
    }
    CaptureAndReplay(sent);
}
