// SPDX-License-Identifier: GPL-2.0-or-later
// The main window: start-up state, modes and their guards, connect and
// disconnect over a pseudo-terminal, the about box.
#include "DialogFixture.h"

#include "ui/AboutDlg.h"
#include "ui/AppIcon.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>

#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

struct ModeRow {
    const char* name;
    int radio;
    int mode;
    const char* send;
    const char* clear;
    bool options;
    const char* addCR;
    const char* addLF;
    bool command;
};

// Captions after a fresh switch from DM AT (so the check boxes read as the mode left them).
const ModeRow kModes[] = {
    {"log client", MODE_LOG_CLIENT, MODE_LOG_CLIENT, "Load Configuration...", "Load Default Cfg...",
     false, "Add CR", "Add LF", false},
    {"hex", MODE_HEX, MODE_HEX, "Send Hex...", "Clear", true, "Add CRC", "Add 0x7E", true},
    {"ascii", MODE_ASCII, MODE_ASCII, "Send Ascii...", "Clear", true, "Add CR", "Add LF", true},
    {"log server", MODE_LOG_SERVER, MODE_LOG_SERVER, "Send Log...", "Clear", false, "Add CR", "Add LF",
     false},
    {"dm at", MODE_DM_AT, MODE_DM_AT, "Send At command...", "Clear", false, "Add CR", "Add LF", true},
};

void ExpectLook(const COrvaneDlg& d, const ModeRow& row)
{
    EXPECT_EQ(d.m_nMode, row.mode);
    EXPECT_EQ(Button(d, "IDC_SEND").text(), QString::fromLatin1(row.send));
    EXPECT_TRUE(Button(d, "IDC_SEND").isEnabled());
    EXPECT_EQ(Button(d, "IDC_CLEAR").text(), QString::fromLatin1(row.clear));
    EXPECT_EQ(Check(d, "IDC_ADD_CR").isEnabled(), row.options);
    EXPECT_EQ(Check(d, "IDC_ADD_LF").isEnabled(), row.options);
    EXPECT_EQ(Check(d, "IDC_ADD_CR").text(), QString::fromLatin1(row.addCR));
    EXPECT_EQ(Check(d, "IDC_ADD_LF").text(), QString::fromLatin1(row.addLF));
    EXPECT_EQ(LineEdit(d, "IDC_COMMAND").isEnabled(), row.command);
}

}  // namespace

TEST_F(DialogTest, StartsInDmAtModeOnCom1Disconnected)
{
    EXPECT_EQ(dlg->windowTitle(), "Orvane");
    EXPECT_EQ(dlg->m_nMode, MODE_DM_AT);
    EXPECT_TRUE(Radio(*dlg, "IDC_MODE_DM_AT").isChecked());
    EXPECT_STREQ(dlg->m_SerialPort.GetNameBuffer(), "COM1");
    EXPECT_EQ(Combo(*dlg).currentText(), "COM1");
    ASSERT_EQ(Combo(*dlg).count(), 60);
    EXPECT_EQ(Combo(*dlg).itemText(59), "COM60");
    EXPECT_TRUE(Check(*dlg, "IDC_ADD_CR").isChecked());
    EXPECT_TRUE(Check(*dlg, "IDC_ADD_LF").isChecked());
    EXPECT_FALSE(Check(*dlg, "IDC_ADD_CR").isEnabled());
    EXPECT_FALSE(Check(*dlg, "IDC_ADD_LF").isEnabled());
    EXPECT_EQ(Button(*dlg, "IDC_SEND").text(), "Send At command...");
    EXPECT_EQ(Button(*dlg, "IDC_CLEAR").text(), "&Clear");
    EXPECT_TRUE(Status().isEmpty());
    EXPECT_TRUE(Results().isEmpty());
    EXPECT_TRUE(Button(*dlg, "IDC_CONNECT").isEnabled());
    EXPECT_FALSE(Button(*dlg, "IDC_DISCONNECT").isEnabled());
    EXPECT_TRUE(Button(*dlg, "IDC_SETTING").isEnabled());
    EXPECT_TRUE(LineEdit(*dlg, "IDC_COMMAND").isEnabled());
    EXPECT_EQ(Steps(*dlg), 0u);
    EXPECT_EQ(RxTotal(*dlg), 0);
    EXPECT_EQ(DcbFlagWord(dlg->m_SerialPort.m_dcb), 0x5011u);
}

TEST_F(DialogTest, EveryControlIsNamedAfterItsId)
{
    for (const char* id : {"IDC_PORT", "IDC_STATIC_STATUS", "IDC_CONNECT", "IDC_DISCONNECT", "IDC_COMMAND", "IDC_SEND",
                           "IDC_ADD_CR", "IDC_CHAR", "IDC_CHAR_TO_HEX", "IDC_HEX_VALUE", "IDC_SETTING", "IDC_RESULTS",
                           "IDC_CLEAR_RESULTS", "IDC_ADD_LF", "IDC_CLEAR", "IDC_MODE_LOG_CLIENT", "IDC_MODE_DM_AT",
                           "IDC_MODE_HEX", "IDC_MODE_ASCII", "IDC_MODE_LOG_SERVER"}) {
        SCOPED_TRACE(id);
        EXPECT_NE(dlg->findChild<QWidget*>(QString::fromLatin1(id)), nullptr);
    }
}

// Tab walks the controls as they are laid out: top to bottom, left to right
// along a row.
TEST_F(DialogTest, TabOrderFollowsTheLayout)
{
    const char* const expected[] = {"IDC_CONNECT", "IDC_DISCONNECT", "IDC_SETTING", "IDC_MODE_LOG_CLIENT",
                                    "IDC_MODE_DM_AT", "IDC_MODE_HEX", "IDC_MODE_ASCII", "IDC_MODE_LOG_SERVER",
                                    "IDC_COMMAND", "IDC_SEND", "IDC_CLEAR", "IDC_ADD_CR", "IDC_ADD_LF",
                                    "IDC_RESULTS", "IDC_CLEAR_RESULTS", "IDC_CHAR", "IDC_CHAR_TO_HEX"};
    QWidget* w = &Combo(*dlg);
    QPoint previous = w->mapTo(dlg.get(), QPoint(0, 0));
    for (const char* next : expected) {
        SCOPED_TRACE(next);
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        EXPECT_EQ(w->objectName().toStdString(), next);
        // Each stop is on the same row further right, or on a lower row.
        const QPoint at = w->mapTo(dlg.get(), QPoint(0, 0));
        const bool sameRow = std::abs(at.y() - previous.y()) < w->height();
        EXPECT_TRUE(sameRow ? at.x() > previous.x() : at.y() > previous.y());
        previous = at;
    }
}

TEST_F(DialogTest, EveryModeSwitchesFreelyWhileDisconnected)
{
    for (const ModeRow& row : kModes) {
        SCOPED_TRACE(row.name);
        ClickMode(row.radio);
        ExpectLook(*dlg, row);
        EXPECT_TRUE(Radio(*dlg, kModeRadio[row.radio]).isChecked());
    }
}

TEST_F(DialogTest, ClickingTheCurrentLogModeChangesNothing)
{
    ClickMode(MODE_HEX);
    ClickMode(MODE_LOG_CLIENT);
    Button(*dlg, "IDC_SEND").setText("marker");
    ClickMode(MODE_LOG_CLIENT);
    EXPECT_EQ(Button(*dlg, "IDC_SEND").text(), "marker");
    ClickMode(MODE_LOG_SERVER);
    Button(*dlg, "IDC_SEND").setText("marker");
    ClickMode(MODE_LOG_SERVER);
    EXPECT_EQ(Button(*dlg, "IDC_SEND").text(), "marker");
}

TEST_F(DialogTest, ConnectedLogModesAreLeftOnlyForTheOtherLogMode)
{
    ClickMode(MODE_HEX);   // the check boxes now read "Add CRC" and "Add 0x7E"
    Check(*dlg, "IDC_ADD_CR").setChecked(false);
    dlg->m_bAddCR = 1;
    ClickMode(MODE_LOG_SERVER);
    Connect();
    for (int radio : {MODE_DM_AT, MODE_HEX,
                                            MODE_ASCII}) {
        ClickMode(radio);
        EXPECT_EQ(dlg->m_nMode, MODE_LOG_SERVER);
        EXPECT_TRUE(Radio(*dlg, "IDC_MODE_LOG_SERVER").isChecked());
        EXPECT_FALSE(Radio(*dlg, kModeRadio[radio]).isChecked());
        EXPECT_EQ(Button(*dlg, "IDC_SEND").text(), "Send Log...");
        EXPECT_TRUE(Check(*dlg, "IDC_ADD_CR").isChecked()) << "the guard shows the stored flags again";
        EXPECT_EQ(Check(*dlg, "IDC_ADD_CR").text(), "Add CRC");
    }
    ClickMode(MODE_LOG_CLIENT);
    EXPECT_EQ(dlg->m_nMode, MODE_LOG_CLIENT);
    EXPECT_EQ(Button(*dlg, "IDC_SEND").text(), "Load Configuration...");
    ClickMode(MODE_ASCII);
    EXPECT_EQ(dlg->m_nMode, MODE_LOG_CLIENT);
}

TEST_F(DialogTest, ConnectedPlainModesMoveFreelyAndIntoLogServer)
{
    Connect();
    ClickMode(MODE_ASCII);
    EXPECT_EQ(dlg->m_nMode, MODE_ASCII);
    ClickMode(MODE_HEX);
    EXPECT_EQ(dlg->m_nMode, MODE_HEX);
    ClickMode(MODE_LOG_SERVER);
    EXPECT_EQ(dlg->m_nMode, MODE_LOG_SERVER);
}

TEST_F(DialogTest, ConnectAndDisconnectOverAPty)
{
    Connect();
    EXPECT_EQ(Status(), "Connected");
    EXPECT_FALSE(Button(*dlg, "IDC_CONNECT").isEnabled());
    EXPECT_TRUE(Button(*dlg, "IDC_DISCONNECT").isEnabled());
    EXPECT_FALSE(Button(*dlg, "IDC_SETTING").isEnabled());
    EXPECT_EQ(dlg->focusWidget(), &Button(*dlg, "IDC_SEND"));

    dlg->OnDisconnect();
    EXPECT_EQ(Status(), "Disconnected");
    EXPECT_FALSE(PortOpen(*dlg));
    EXPECT_TRUE(Button(*dlg, "IDC_CONNECT").isEnabled());
    EXPECT_FALSE(Button(*dlg, "IDC_DISCONNECT").isEnabled());
    EXPECT_TRUE(Button(*dlg, "IDC_SETTING").isEnabled());

    // The same port again, without touching the combo.
    Connect();
    EXPECT_EQ(Status(), "Connected");
}

TEST_F(DialogTest, DisconnectWhenClosedReportsFailedThenDisconnected)
{
    dlg->OnDisconnect();
    EXPECT_EQ(Status(), "Disconnected");
    EXPECT_TRUE(Button(*dlg, "IDC_CONNECT").isEnabled());
}

TEST_F(DialogTest, FailedOpenShowsTheMessageAndKeepsTheButtons)
{
    Combo(*dlg).setCurrentIndex(1);   // COM2: no such entry, and no /dev/ttyUSB1 here
    dlg->OnSelChangePort();
    ASSERT_STREQ(dlg->m_SerialPort.GetNameBuffer(), "COM2");
    if (access("/dev/ttyUSB1", F_OK) == 0)
        GTEST_SKIP() << "this machine has a /dev/ttyUSB1";
    dlg->OnConnect();
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Connection failed, please close another connection first!");
    EXPECT_EQ(prompts.boxes[0].icon, IPrompts::Icon::None);
    EXPECT_TRUE(prompts.boxes[0].detail.contains("/dev/ttyUSB1")) << prompts.boxes[0].detail.toStdString();
    EXPECT_TRUE(prompts.boxes[0].detail.contains("No such device")) << prompts.boxes[0].detail.toStdString();
    EXPECT_EQ(Status(), "Failed");
    EXPECT_TRUE(Button(*dlg, "IDC_CONNECT").isEnabled());
    EXPECT_FALSE(Button(*dlg, "IDC_DISCONNECT").isEnabled());
}

TEST_F(DialogTest, ADeviceHeldByAnotherProgramFailsToOpen)
{
    const int held = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    dlg->OnConnect();
    close(held);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Connection failed, please close another connection first!");
    EXPECT_TRUE(prompts.boxes[0].detail.contains("held by another program")) << prompts.boxes[0].detail.toStdString();
    EXPECT_EQ(Status(), "Failed");
    EXPECT_FALSE(PortOpen(*dlg));
}

TEST_F(DialogTest, ThePortTooltipShowsTheDevice)
{
    EXPECT_EQ(Combo(*dlg).toolTip().toStdString(), pty.SlavePath());
}

TEST_F(DialogTest, UnpluggedDeviceEndsTheConnectionWithoutSpinning)
{
    Connect();
    pty.Send(BytesOf("before the unplug"));
    PumpEvents(100);
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return Status() == "Disconnected"; }, 5000)) << Status().toStdString();
    EXPECT_FALSE(PortOpen(*dlg));
    EXPECT_TRUE(Button(*dlg, "IDC_CONNECT").isEnabled());
    EXPECT_FALSE(Button(*dlg, "IDC_DISCONNECT").isEnabled());
    EXPECT_TRUE(Button(*dlg, "IDC_SETTING").isEnabled());
}

TEST_F(DialogTest, EnterNeverClosesTheWindowEscapeDoes)
{
    dlg->show();
    for (QWidget* target : {static_cast<QWidget*>(dlg.get()), static_cast<QWidget*>(&LineEdit(*dlg, "IDC_COMMAND"))}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Enter, Qt::KeyboardModifier::KeypadModifier);
        QApplication::sendEvent(target, &enter);
    }
    PumpEvents(50);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(prompts.boxes.empty());

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(dlg.get(), &escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
}

TEST_F(DialogTest, AboutBoxShowsTheVersionAndClosesWithOk)
{
    QString version, caption;
    bool iconShown = false;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        caption = about->windowTitle();
        version = about->m_version.text();
        iconShown = !about->m_icon.pixmap().isNull();
        about->m_ok.click();
    });
    dlg->OnSysCommand(IDM_ABOUTBOX);
    EXPECT_EQ(caption, "About Orvane");
    EXPECT_EQ(version, "Orvane Version 0.3.1");
    EXPECT_TRUE(iconShown);
}

TEST(AppIcon, HasEveryTemplateSize)
{
    const QIcon icon = OrvaneIcon();
    for (int size : {16, 24, 32, 48}) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size)));
    }
}
