// The main window: start-up state, modes and their guards, connect and
// disconnect over a pseudo-terminal, the about box.
#include "DialogFixture.h"

#include "ui/AboutDlg.h"
#include "ui/AppIcon.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

struct ModeRow {
    const char* name;
    QRadioButton COrvaneDlg::*radio;
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
    {"log client", &COrvaneDlg::m_radioLogClient, MODE_LOG_CLIENT, "Load Configuration...", "Load Default Cfg...",
     false, "Add CR", "Add LF", false},
    {"hex", &COrvaneDlg::m_radioHex, MODE_HEX, "Send Hex...", "Clear", true, "Add CRC", "Add 0x7E", true},
    {"ascii", &COrvaneDlg::m_radioAscii, MODE_ASCII, "Send Ascii...", "Clear", true, "Add CR", "Add LF", true},
    {"log server", &COrvaneDlg::m_radioLogServer, MODE_LOG_SERVER, "Send Log...", "Clear", false, "Add CR", "Add LF",
     false},
    {"dm at", &COrvaneDlg::m_radioDmAt, MODE_DM_AT, "Send At command...", "Clear", false, "Add CR", "Add LF", true},
};

void ExpectLook(const COrvaneDlg& d, const ModeRow& row)
{
    EXPECT_EQ(d.m_nMode, row.mode);
    EXPECT_EQ(d.m_btnSend.text(), QString::fromLatin1(row.send));
    EXPECT_TRUE(d.m_btnSend.isEnabled());
    EXPECT_EQ(d.m_btnClear.text(), QString::fromLatin1(row.clear));
    EXPECT_EQ(d.m_checkAddCR.isEnabled(), row.options);
    EXPECT_EQ(d.m_checkAddLF.isEnabled(), row.options);
    EXPECT_EQ(d.m_checkAddCR.text(), QString::fromLatin1(row.addCR));
    EXPECT_EQ(d.m_checkAddLF.text(), QString::fromLatin1(row.addLF));
    EXPECT_EQ(d.m_editCommand.isEnabled(), row.command);
}

}  // namespace

TEST_F(DialogTest, StartsInDmAtModeOnCom1Disconnected)
{
    EXPECT_EQ(dlg->windowTitle(), "Orvane");
    EXPECT_EQ(dlg->m_nMode, MODE_DM_AT);
    EXPECT_TRUE(dlg->m_radioDmAt.isChecked());
    EXPECT_STREQ(dlg->m_SerialPort.GetNameBuffer(), "COM1");
    EXPECT_EQ(dlg->m_comboPort.currentText(), "COM1");
    ASSERT_EQ(dlg->m_comboPort.count(), 60);
    EXPECT_EQ(dlg->m_comboPort.itemText(59), "COM60");
    EXPECT_TRUE(dlg->m_checkAddCR.isChecked());
    EXPECT_TRUE(dlg->m_checkAddLF.isChecked());
    EXPECT_FALSE(dlg->m_checkAddCR.isEnabled());
    EXPECT_FALSE(dlg->m_checkAddLF.isEnabled());
    EXPECT_EQ(dlg->m_btnSend.text(), "Send At command...");
    EXPECT_EQ(dlg->m_btnClear.text(), "&Clear");
    EXPECT_TRUE(Status().isEmpty());
    EXPECT_TRUE(Results().isEmpty());
    EXPECT_TRUE(dlg->m_btnConnect.isEnabled());
    EXPECT_FALSE(dlg->m_btnDisconnect.isEnabled());
    EXPECT_TRUE(dlg->m_btnSetting.isEnabled());
    EXPECT_TRUE(dlg->m_editCommand.isEnabled());
    EXPECT_EQ(dlg->m_nStep, 0u);
    EXPECT_EQ(dlg->m_nRxTotal, 0);
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

TEST_F(DialogTest, TabOrderFollowsTheTemplate)
{
    QWidget* w = &dlg->m_comboPort;
    const QWidget* expected[] = {&dlg->m_btnConnect, &dlg->m_btnDisconnect, &dlg->m_editCommand, &dlg->m_btnSend,
                                 &dlg->m_checkAddCR, &dlg->m_editChar, &dlg->m_btnCharToHex, &dlg->m_btnSetting,
                                 &dlg->m_editResults, &dlg->m_btnClearResults, &dlg->m_checkAddLF, &dlg->m_btnClear};
    for (const QWidget* next : expected) {
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        EXPECT_EQ(w, next) << w->objectName().toStdString();
    }
}

TEST_F(DialogTest, EveryModeSwitchesFreelyWhileDisconnected)
{
    for (const ModeRow& row : kModes) {
        SCOPED_TRACE(row.name);
        ClickMode(*dlg.get().*row.radio);
        ExpectLook(*dlg, row);
        EXPECT_TRUE((dlg.get()->*row.radio).isChecked());
    }
}

TEST_F(DialogTest, ClickingTheCurrentLogModeChangesNothing)
{
    ClickMode(dlg->m_radioHex);
    ClickMode(dlg->m_radioLogClient);
    dlg->m_btnSend.setText("marker");
    ClickMode(dlg->m_radioLogClient);
    EXPECT_EQ(dlg->m_btnSend.text(), "marker");
    ClickMode(dlg->m_radioLogServer);
    dlg->m_btnSend.setText("marker");
    ClickMode(dlg->m_radioLogServer);
    EXPECT_EQ(dlg->m_btnSend.text(), "marker");
}

TEST_F(DialogTest, ConnectedLogModesAreLeftOnlyForTheOtherLogMode)
{
    ClickMode(dlg->m_radioHex);   // the check boxes now read "Add CRC" and "Add 0x7E"
    dlg->m_checkAddCR.setChecked(false);
    dlg->m_bAddCR = 1;
    ClickMode(dlg->m_radioLogServer);
    Connect();
    for (QRadioButton COrvaneDlg::*radio : {&COrvaneDlg::m_radioDmAt, &COrvaneDlg::m_radioHex,
                                            &COrvaneDlg::m_radioAscii}) {
        ClickMode(dlg.get()->*radio);
        EXPECT_EQ(dlg->m_nMode, MODE_LOG_SERVER);
        EXPECT_TRUE(dlg->m_radioLogServer.isChecked());
        EXPECT_FALSE((dlg.get()->*radio).isChecked());
        EXPECT_EQ(dlg->m_btnSend.text(), "Send Log...");
        EXPECT_TRUE(dlg->m_checkAddCR.isChecked()) << "the guard shows the stored flags again";
        EXPECT_EQ(dlg->m_checkAddCR.text(), "Add CRC");
    }
    ClickMode(dlg->m_radioLogClient);
    EXPECT_EQ(dlg->m_nMode, MODE_LOG_CLIENT);
    EXPECT_EQ(dlg->m_btnSend.text(), "Load Configuration...");
    ClickMode(dlg->m_radioAscii);
    EXPECT_EQ(dlg->m_nMode, MODE_LOG_CLIENT);
}

TEST_F(DialogTest, ConnectedPlainModesMoveFreelyAndIntoLogServer)
{
    Connect();
    ClickMode(dlg->m_radioAscii);
    EXPECT_EQ(dlg->m_nMode, MODE_ASCII);
    ClickMode(dlg->m_radioHex);
    EXPECT_EQ(dlg->m_nMode, MODE_HEX);
    ClickMode(dlg->m_radioLogServer);
    EXPECT_EQ(dlg->m_nMode, MODE_LOG_SERVER);
}

TEST_F(DialogTest, ConnectAndDisconnectOverAPty)
{
    Connect();
    EXPECT_EQ(Status(), "Connected");
    EXPECT_FALSE(dlg->m_btnConnect.isEnabled());
    EXPECT_TRUE(dlg->m_btnDisconnect.isEnabled());
    EXPECT_FALSE(dlg->m_btnSetting.isEnabled());
    EXPECT_EQ(dlg->focusWidget(), &dlg->m_btnSend);

    dlg->OnDisconnect();
    EXPECT_EQ(Status(), "Disconnected");
    EXPECT_FALSE(dlg->m_SerialPort.IsOpen());
    EXPECT_TRUE(dlg->m_btnConnect.isEnabled());
    EXPECT_FALSE(dlg->m_btnDisconnect.isEnabled());
    EXPECT_TRUE(dlg->m_btnSetting.isEnabled());

    // The same port again, without touching the combo.
    Connect();
    EXPECT_EQ(Status(), "Connected");
}

TEST_F(DialogTest, DisconnectWhenClosedReportsFailedThenDisconnected)
{
    dlg->OnDisconnect();
    EXPECT_EQ(Status(), "Disconnected");
    EXPECT_TRUE(dlg->m_btnConnect.isEnabled());
}

TEST_F(DialogTest, FailedOpenShowsTheMessageAndKeepsTheButtons)
{
    dlg->m_comboPort.setCurrentIndex(1);   // COM2: no such entry, and no /dev/ttyUSB1 here
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
    EXPECT_TRUE(dlg->m_btnConnect.isEnabled());
    EXPECT_FALSE(dlg->m_btnDisconnect.isEnabled());
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
    EXPECT_FALSE(dlg->m_SerialPort.IsOpen());
}

TEST_F(DialogTest, ThePortTooltipShowsTheDevice)
{
    EXPECT_EQ(dlg->m_comboPort.toolTip().toStdString(), pty.SlavePath());
}

TEST_F(DialogTest, UnpluggedDeviceEndsTheConnectionWithoutSpinning)
{
    Connect();
    pty.Send(BytesOf("before the unplug"));
    PumpEvents(100);
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return Status() == "Disconnected"; }, 5000)) << Status().toStdString();
    EXPECT_FALSE(dlg->m_SerialPort.IsOpen());
    EXPECT_TRUE(dlg->m_btnConnect.isEnabled());
    EXPECT_FALSE(dlg->m_btnDisconnect.isEnabled());
    EXPECT_TRUE(dlg->m_btnSetting.isEnabled());
}

TEST_F(DialogTest, EnterNeverClosesTheWindowEscapeDoes)
{
    dlg->show();
    for (QWidget* target : {static_cast<QWidget*>(dlg.get()), static_cast<QWidget*>(&dlg->m_editCommand)}) {
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
