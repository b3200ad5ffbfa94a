// SPDX-License-Identifier: GPL-2.0-or-later
// Settings chosen in the port settings dialog reach the device at the next
// Connect, over a pseudo-terminal; settings Linux cannot express fail the
// Connect with the usual message and the reason.
#include "PreferencesScript.h"
#include "serial/SerialPlatform.h"
#include "support/FakePrompts.h"
#include "support/Pty.h"
#include "ui/WindowControls.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace {

const QString kConnectFailed = QStringLiteral("Connection failed, please close another connection first!");

// The settings of the tool's end of the pair, read through a descriptor of our own.
termios SlaveSettings(const PtyPair& pty)
{
    termios tio{};
    const serialio::UniqueFd fd(::open(pty.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    EXPECT_TRUE(fd.Valid()) << "open " << pty.SlavePath() << ": " << std::strerror(errno);
    if (fd.Valid()) {
        EXPECT_EQ(tcgetattr(fd.Get(), &tio), 0) << std::strerror(errno);
    }
    return tio;
}

TEST(PreferencesDevice, ChosenSettingsReachTheDeviceAtConnect)
{
    PtyPair pty;
    PortDir ports;
    ports.Link("COM1", pty.SlavePath());
    FakePrompts prompts;
    COrvaneDlg dlg(prompts);

    WhenModal([](CPreferencesDlg& d) {
        Choose(d, "IDC_BAUDRATE", "9600");
        Choose(d, "IDC_STOPBITS", "2");
        Child<QCheckBox>(d, "IDC_OUTX").click();
        Child<QCheckBox>(d, "IDC_INX").click();
        Child<QPushButton>(d, "IDOK").click();
    });
    dlg.OnSetting();

    // Until Connect the device keeps what it had.
    const termios before = SlaveSettings(pty);
    EXPECT_NE(cfgetospeed(&before), speed_t{B9600});
    EXPECT_FALSE(before.c_cflag & CSTOPB);

    dlg.OnConnect();
    ASSERT_TRUE(PortOpen(dlg)) << prompts.Texts().join('|').toStdString() << " "
                                            << (prompts.boxes.empty() ? "" : prompts.boxes[0].detail.toStdString());
    const termios after = SlaveSettings(pty);
    EXPECT_EQ(cfgetospeed(&after), speed_t{B9600});
    EXPECT_EQ(cfgetispeed(&after), speed_t{B9600});
    EXPECT_TRUE(after.c_cflag & CSTOPB);
    EXPECT_TRUE(after.c_iflag & IXON);
    EXPECT_TRUE(after.c_iflag & IXOFF);
    EXPECT_EQ(after.c_cc[VSTART], 0x11);
    EXPECT_EQ(after.c_cc[VSTOP], 0x13);
    EXPECT_FALSE(after.c_cflag & CRTSCTS);

    // Reading the device back gives the same choices.
    ASSERT_EQ(dlg.m_SerialPort.GetState(), 1);
    EXPECT_EQ(dlg.m_SerialPort.m_dcb.BaudRate, 9600u);
    EXPECT_EQ(dlg.m_SerialPort.m_dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dlg.m_SerialPort.m_dcb.fOutX, 1u);
    EXPECT_EQ(dlg.m_SerialPort.m_dcb.fInX, 1u);

    dlg.OnDisconnect();
    EXPECT_TRUE(prompts.boxes.empty());
}

// Every choice of the dialog that Linux has no equivalent for is refused at
// Connect: the port stays closed and the user learns why.
TEST(PreferencesDevice, InexpressibleSettingFailsTheConnect)
{
    PtyPair pty;
    PortDir ports;
    ports.Link("COM1", pty.SlavePath());

    struct Case {
        const char* name;
        std::function<void(CPreferencesDlg&)> choose;
        const char* reasonMentions;
    };
    const Case cases[] = {
        {"byte size 4", [](CPreferencesDlg& d) { Choose(d, "IDC_BYTESIZE", "4"); }, "byte size"},
        {"1.5 stop bits with 8 data bits", [](CPreferencesDlg& d) { Choose(d, "IDC_STOPBITS", "1.5"); }, "stop bits"},
        {"DTR handshake", [](CPreferencesDlg& d) { Choose(d, "IDC_DTR_FLOW", "Handshake"); }, "DTR"},
        {"RTS toggle", [](CPreferencesDlg& d) { Choose(d, "IDC_RTS_FLOW", "Toggle"); }, "RTS"},
        {"RTS handshake without CTS flow", [](CPreferencesDlg& d) { Choose(d, "IDC_RTS_FLOW", "Handshake"); }, "RTS"},
        {"DSR output flow", [](CPreferencesDlg& d) { Child<QCheckBox>(d, "IDC_DSR_FLOW").click(); }, "DSR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePrompts prompts;
        COrvaneDlg dlg(prompts);
        WhenModal([&](CPreferencesDlg& d) {
            c.choose(d);
            Child<QPushButton>(d, "IDOK").click();
        });
        dlg.OnSetting();
        dlg.OnConnect();
        EXPECT_FALSE(PortOpen(dlg));
        EXPECT_EQ(Label(dlg, "IDC_STATIC_STATUS").text(), "Failed");
        ASSERT_EQ(prompts.boxes.size(), 1u);
        EXPECT_EQ(prompts.boxes[0].text, kConnectFailed);
        EXPECT_TRUE(prompts.boxes[0].detail.contains(QString::fromLatin1(c.reasonMentions)))
            << prompts.boxes[0].detail.toStdString();
        EXPECT_TRUE(Button(dlg, "IDC_SETTING").isEnabled());
    }

    // The same device takes the defaults: the refusals were the settings'.
    FakePrompts prompts;
    COrvaneDlg dlg(prompts);
    dlg.OnConnect();
    EXPECT_TRUE(PortOpen(dlg));
    EXPECT_TRUE(prompts.boxes.empty());
}

}  // namespace
