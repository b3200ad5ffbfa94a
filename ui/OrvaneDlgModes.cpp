// SPDX-License-Identifier: GPL-2.0-or-later
// The designed window: start-up state, data exchange, the five modes with
// their guards, and connecting and disconnecting through the connection part.
#include "ui/OrvaneDlg.h"

#include "ui/AboutDlg.h"

#include <filesystem>

namespace {
struct ModeLook {
    const char* send;
    const char* clear;
    bool options;           // CR/LF (or CRC/0x7E) check boxes enabled
    const char* addCR;      // nullptr: caption unchanged
    const char* addLF;
    bool command;           // command line enabled
};

// Captions and enabling that each mode gives the controls.
constexpr ModeLook kModeLooks[] = {
    /* MODE_LOG_CLIENT */ {"Load Configuration...", "Load Default Cfg...", false, nullptr, nullptr, false},
    /* MODE_DM_AT      */ {"Send At command...", "Clear", false, nullptr, nullptr, true},
    /* MODE_HEX        */ {"Send Hex...", "Clear", true, "Add CRC", "Add 0x7E", true},
    /* MODE_ASCII      */ {"Send Ascii...", "Clear", true, "Add CR", "Add LF", true},
    /* MODE_LOG_SERVER */ {"Send Log...", "Clear", false, nullptr, nullptr, false},
};

// While connected, a log mode is left only for the other log mode.
bool LeavingLogModeWhileConnected(bool connected, int mode)
{
    return connected && (mode == MODE_LOG_CLIENT || mode == MODE_LOG_SERVER);
}
}  // namespace

bool COrvaneDlg::OnInitDialog()
{
    UpdateData(false);
    SetStatus(QString());
    m_editResults.clear();
    m_nMode = MODE_DM_AT;
    m_btnSend.setEnabled(true);
    m_btnSend.setText(QStringLiteral("Send At command..."));
    m_checkAddCR.setEnabled(false);
    m_checkAddLF.setEnabled(false);
    m_btnConnect.setEnabled(true);
    m_btnDisconnect.setEnabled(false);
    m_comboPort.setCurrentIndex(0);
    OnSelChangePort();
    std::error_code ec;
    m_szStartDir = std::filesystem::current_path(ec).string();
    return true;
}

void COrvaneDlg::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_bAddCR = m_checkAddCR.isChecked() ? 1 : 0;
        m_bAddLF = m_checkAddLF.isChecked() ? 1 : 0;
        m_nMode = m_modeGroup.checkedId();
    } else {
        m_checkAddCR.setChecked(m_bAddCR != 0);
        m_checkAddLF.setChecked(m_bAddLF != 0);
        if (QAbstractButton* radio = m_modeGroup.button(m_nMode))
            radio->setChecked(true);
    }
}

bool COrvaneDlg::UpdateData(bool saveAndValidate)
{
    DoDataExchange(saveAndValidate);
    return true;
}

void COrvaneDlg::SetStatus(const QString& text)
{
    m_staticStatus.setText(text);
}

void COrvaneDlg::ApplyMode(int mode)
{
    m_nMode = mode;
    // A click has checked the radio already; a handler called directly checks it here.
    if (QAbstractButton* radio = m_modeGroup.button(mode); radio && !radio->isChecked())
        radio->setChecked(true);
    const ModeLook& look = kModeLooks[mode];
    m_btnSend.setEnabled(true);
    m_btnSend.setText(QString::fromLatin1(look.send));
    m_btnClear.setEnabled(true);
    m_btnClear.setText(QString::fromLatin1(look.clear));
    m_checkAddCR.setEnabled(look.options);
    m_checkAddLF.setEnabled(look.options);
    if (look.addCR)
        m_checkAddCR.setText(QString::fromLatin1(look.addCR));
    if (look.addLF)
        m_checkAddLF.setText(QString::fromLatin1(look.addLF));
    m_editCommand.setEnabled(look.command);
}

void COrvaneDlg::OnModeLogClient()
{
    if (m_nMode != MODE_LOG_CLIENT)
        ApplyMode(MODE_LOG_CLIENT);
}

void COrvaneDlg::OnModeLogServer()
{
    if (m_nMode != MODE_LOG_SERVER)
        ApplyMode(MODE_LOG_SERVER);
}

void COrvaneDlg::OnModeDmAt()
{
    if (LeavingLogModeWhileConnected(m_connection.IsOpen(), m_nMode))
        UpdateData(false);
    else
        ApplyMode(MODE_DM_AT);
}

void COrvaneDlg::OnModeHex()
{
    if (LeavingLogModeWhileConnected(m_connection.IsOpen(), m_nMode))
        UpdateData(false);
    else
        ApplyMode(MODE_HEX);
}

void COrvaneDlg::OnModeAscii()
{
    if (LeavingLogModeWhileConnected(m_connection.IsOpen(), m_nMode))
        UpdateData(false);
    else
        ApplyMode(MODE_ASCII);
}

void COrvaneDlg::OnSysCommand(unsigned id)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.exec();
    }
}

void COrvaneDlg::OnDestroy()
{
    if (m_bDestroyed)
        return;
    m_bDestroyed = true;
    m_connection.StopWatching();
    if (const QString folder = m_prompts.StartFolder(); !folder.isEmpty())
        m_settings.SetLastFolder(folder);
    CloseCaptureFile();
}

// Forwards to CConnection::TakePortName.
void COrvaneDlg::OnSelChangePort()
{
    m_connection.TakePortName();
}

void COrvaneDlg::OnConnect()
{
    m_connection.StopWatching();
    Connect(false);
}

// quiet: a reconnect after the device came back, which fails without a box.
bool COrvaneDlg::Connect(bool quiet)
{
    SetStatus(QStringLiteral("Connecting..."));
    if (m_nMode == MODE_LOG_CLIENT && m_nStep != 0)
        CreateCaptureFile();
    if (!m_connection.Open()) {
        if (quiet) {
            SetStatus(QStringLiteral("Disconnected"));
            return false;
        }
        m_prompts.MessageBox(QStringLiteral("Connection failed, please close another connection first!"),
                             IPrompts::Icon::None, QString::fromStdString(m_SerialPort.GetLastErrorText()));
        SetStatus(QStringLiteral("Failed"));
        return false;
    }
    SetStatus(QStringLiteral("Connected"));
    m_decoded.Reset();
    ShowConnected(true);
    m_btnSend.setFocus();
    if (m_nMode == MODE_LOG_CLIENT)
        m_logClient.AfterConnect();
    return true;
}

void COrvaneDlg::OnDisconnect()
{
    m_connection.StopWatching();
    SetStatus(QStringLiteral("Closing connection..."));
    if (!m_connection.Close())
        SetStatus(QStringLiteral("failed"));
    CloseCaptureFile();
    m_decoded.Reset();
    SetStatus(QStringLiteral("Disconnected"));
    ShowConnected(false);
}

void COrvaneDlg::ShowConnected(bool connected)
{
    m_btnConnect.setEnabled(!connected);
    m_btnDisconnect.setEnabled(connected);
    m_btnSetting.setEnabled(!connected);
}

// The device went away under an open connection (a modem reset or an
// unplugged cable): end it as Disconnect would, then connect again as the
// Connect button would once it is back, so a logging session goes on into a
// new capture file without a click.
void COrvaneDlg::OnCommGone()
{
    OnDisconnect();
    m_connection.WatchForReturn([this] { return Connect(true); });
}

void COrvaneDlg::OnCommMessage(const CommMessage& message)
{
    switch (message.message) {
    case WM_COMM_RXCHAR:
        OnCommRxChar(message.chunk);
        break;
    case WM_COMM_EVENT:
        OnCommEvent();
        break;
    case WM_COMM_GONE:
        OnCommGone();
        break;
    default:
        break;
    }
}
