// SPDX-License-Identifier: GPL-2.0-or-later
// The device goes away under an open connection and comes back: the window
// disconnects, then connects again by itself as the Connect button would.
#include "DialogFixture.h"

#include <chrono>
#include <memory>

namespace {

class ReconnectTest : public DialogTest {
protected:
    // The modem resets: its end closes, and the port name now leads to a new device.
    PtyPair& Replug()
    {
        pty.CloseMaster();
        EXPECT_TRUE(WaitUntil([&] { return Status() == "Disconnected"; })) << Status().toStdString();
        EXPECT_FALSE(PortOpen(*dlg));
        replugged = std::make_unique<PtyPair>();
        ports.Link("COM1", replugged->SlavePath());
        return *replugged;
    }

    std::unique_ptr<PtyPair> replugged;
};

}  // namespace

TEST_F(ReconnectTest, ComesBackOnTheSamePortName)
{
    Connect();
    PtyPair& device = Replug();
    ASSERT_TRUE(WaitUntil([&] { return PortOpen(*dlg); }, 5000));
    EXPECT_EQ(Status(), "Connected");
    EXPECT_FALSE(Button(*dlg, "IDC_CONNECT").isEnabled());
    EXPECT_TRUE(Button(*dlg, "IDC_DISCONNECT").isEnabled());
    EXPECT_TRUE(prompts.boxes.empty()) << "reconnecting raises no message";

    SetCommand("ATI");
    dlg->OnSend();
    EXPECT_EQ(device.Receive(8, std::chrono::seconds(2)), ReferenceFrame({0x5E, 'A', 'T', 'I', 0x0D}));
}

TEST_F(ReconnectTest, LogClientGetsANewCaptureAndTheDefaultsAgain)
{
    ClickMode(MODE_LOG_CLIENT);
    Connect();
    dlg->LoadDefaultConfig();
    ASSERT_TRUE(WaitUntil([&] { return Steps(*dlg) == 11; }, 5000));
    pty.ReceiveUntilQuiet(std::chrono::milliseconds(100));
    ASSERT_EQ(startDir.Files().size(), 1u);
    const std::string firstCapture = Capture(*dlg).Path();

    PtyPair& device = Replug();
    ASSERT_TRUE(WaitUntil([&] { return PortOpen(*dlg); }, 5000));
    EXPECT_NE(Capture(*dlg).Path(), firstCapture) << "a new capture file for the new connection";
    EXPECT_EQ(startDir.Files().size(), 1u) << "the first stayed empty and is gone";
    // Packet 0 of the defaults goes out at once, the rest one per tick.
    const Bytes first = device.Receive(5, std::chrono::seconds(2));
    EXPECT_EQ(first, ReferenceFrame({0x60, 0x01}));
    ASSERT_TRUE(WaitUntil([&] { return Steps(*dlg) == 11; }, 5000));

    device.Send({0x7E, 0x7D, 0x5E, 0x7E});
    ASSERT_TRUE(WaitUntil([&] { return RxTotal(*dlg) >= 4; }));
}

TEST_F(ReconnectTest, AUsersDisconnectStaysDisconnected)
{
    Connect();
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return Status() == "Disconnected"; }));
    dlg->OnDisconnect();   // the user gives up on this device
    PtyPair device;
    ports.Link("COM1", device.SlavePath());
    PumpEvents(1000);
    EXPECT_FALSE(PortOpen(*dlg));
    EXPECT_EQ(Status(), "Disconnected");
}

TEST_F(ReconnectTest, AnOrdinaryDisconnectNeverReconnects)
{
    Connect();
    dlg->OnDisconnect();
    PumpEvents(800);
    EXPECT_FALSE(PortOpen(*dlg));
}
