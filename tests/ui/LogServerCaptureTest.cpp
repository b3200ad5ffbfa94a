// A capture written in Log client mode, replayed in Log server mode, reaches
// the far end as the very bytes the modem sent. One tool does both in turn.
#include "LogServerFarEnd.h"
#include "support/Pty.h"
#include "ui/OrvaneDlg.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

using namespace logserver_test;

TEST(LogServerCapture, ACaptureOfTheLogClientReplaysIdentically)
{
    FakePrompts prompts;
    PtyPair pty;
    PortDir ports;
    TempDir startDir;
    ports.Link("COM1", pty.SlavePath());
    COrvaneDlg dlg(prompts);
    dlg.m_szStartDir = startDir.Path();

    // Log client: the defaults open a capture, then the modem sends its log.
    dlg.m_radioLogClient.click();
    ASSERT_EQ(dlg.m_nMode, MODE_LOG_CLIENT);
    dlg.OnConnect();
    ASSERT_TRUE(dlg.m_SerialPort.IsOpen()) << dlg.m_SerialPort.GetLastErrorText();
    dlg.LoadDefaultConfig();
    ASSERT_TRUE(WaitUntil([&] { return dlg.m_nStep == 11; }, 10000));
    ASSERT_TRUE(dlg.m_hCaptureFile.IsOpen());
    const std::string capture = dlg.m_hCaptureFile.Path();

    const std::string data = ORVANE_SAMPLE_DATA;
    Bytes sent = ReadFile(data + "/qmdl/deadsim.qmdl");
    const Bytes small = ReadFile(data + "/qmdl/goodsim-small.qmdl");
    sent.insert(sent.end(), small.begin(), small.end());
    ASSERT_GT(small.size(), 0u);

    const std::int32_t before = dlg.m_nRxTotal;
    std::thread modem([&] { pty.Send(sent); });
    const bool arrived =
        WaitUntil([&] { return dlg.m_nRxTotal == before + static_cast<std::int32_t>(sent.size()); }, 30000);
    modem.join();
    ASSERT_TRUE(arrived) << dlg.m_nRxTotal - before << " of " << sent.size();
    dlg.OnDisconnect();
    ASSERT_TRUE(ReadFile(capture) == sent);
    ReadPumpingUntilQuiet(pty.Master());   // the configuration the tool sent, not under test here

    // Log server: the capture replayed goes out unchanged.
    dlg.m_radioLogServer.click();
    ASSERT_EQ(dlg.m_nMode, MODE_LOG_SERVER);
    dlg.OnConnect();
    ASSERT_TRUE(dlg.m_SerialPort.IsOpen()) << dlg.m_SerialPort.GetLastErrorText();
    prompts.answers.push_back(QString::fromStdString(capture));
    BackgroundReader peer(pty.Master(), sent.size());
    dlg.OnSend();
    const Bytes replayed = peer.Take();
    EXPECT_EQ(replayed.size(), sent.size());
    EXPECT_TRUE(replayed == sent);
    EXPECT_TRUE(ReadPumpingUntilQuiet(pty.Master()).empty());
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.Texts().join('|').toStdString();
}
