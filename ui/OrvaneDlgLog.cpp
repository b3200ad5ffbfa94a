// SPDX-License-Identifier: GPL-2.0-or-later
// The designed members of the Log client and Log server modes and of the port
// settings: each forwards to its part, which holds the state and the timers.
#include "ui/OrvaneDlg.h"

#include "ui/PortWriter.h"
#include "ui/PreferencesDlg.h"

// Forward to CLogClientDriver::SendPacket, with the session's packet builders.
void COrvaneDlg::SendEventReport(std::string text)
{
    m_logClient.SendPacket(m_logClient.Session().EventReportPacket(text));
}

void COrvaneDlg::SendEventMask(std::string text, int* done)
{
    std::int32_t finished = 1;
    m_logClient.SendPacket(m_logClient.Session().EventMaskPacket(text, &finished));
    *done = finished;
}

void COrvaneDlg::SendLogConfig(std::string textA, std::string textB, int* done)
{
    std::int32_t finished = 1;
    m_logClient.SendPacket(m_logClient.Session().LogConfigPacket(textA, textB, &finished));
    *done = finished;
}

void COrvaneDlg::SendExtMsgConfig(std::string text, int* done)
{
    std::int32_t finished = 1;
    m_logClient.SendPacket(m_logClient.Session().ExtMsgConfigPacket(text, &finished));
    *done = finished;
}

// "Load Configuration..." in Log client mode, after the connection check:
// forwards to CLogClientDriver::LoadConfiguration.
void COrvaneDlg::LoadConfiguration()
{
    m_logClient.LoadConfiguration();
}

// "Load Default Cfg..." (the Clear button in the other modes).
void COrvaneDlg::LoadDefaultConfig()
{
    m_editCommand.clear();
    if (m_nMode != MODE_LOG_CLIENT || !CheckConnected())
        return;
    m_logClient.LoadDefaults();
}

// The timers' timeouts: the next step of their sequence.
void COrvaneDlg::OnTimer(int id)
{
    switch (id) {
    case TIMER_DEFAULTS:
        SendDefaultStep(0);
        break;
    case TIMER_CONFIG:
        RunConfigStep(0);
        break;
    default:
        break;
    }
}

// Forward to CLogClientDriver::Start and Step.
void COrvaneDlg::RunConfigStep(int restart)
{
    restart ? m_logClient.Start(LogClientSequence::Config) : m_logClient.Step(LogClientSequence::Config);
}

void COrvaneDlg::SendDefaultStep(int restart)
{
    restart ? m_logClient.Start(LogClientSequence::Defaults) : m_logClient.Step(LogClientSequence::Defaults);
}

// Forward to CLogClientDriver::CreateCapture and CloseCapture.
void COrvaneDlg::CreateCaptureFile()
{
    m_logClient.CreateCapture();
}

void COrvaneDlg::CloseCaptureFile()
{
    m_logClient.CloseCapture();
}

// What Stop Modem Logging sent: on the capture line in Log client mode, in
// the results box otherwise.
void COrvaneDlg::ShowStopLoggingNote(const QString& note)
{
    if (m_nMode == MODE_LOG_CLIENT)
        m_logClient.Line().SetNote(note);
    else
        m_receive.AppendNote(note);
}

// Forwards to CLogServerDriver::LoadLogFile, which hands the loaded log to
// OnSendLog (WM_SEND_LOG, a direct call).
void COrvaneDlg::LoadLogFile()
{
    m_logServer.LoadLogFile([this](std::int64_t size) { OnSendLog(size); });
}

// Writes the first size bytes of the log raw, 1024 at a time, until the peer
// stops taking them; then frees them. Only in Log server mode.
int COrvaneDlg::OnSendLog(std::int64_t size)
{
    if (m_nMode != MODE_LOG_SERVER)
        return 0;
    CPortWriter port(m_SerialPort);
    if (!m_logServer.Replay(port, size))
        SetStatus(QStringLiteral("Not Sent..."));
    return 0;
}

// WM_SEND_REPLY: frames the reply and writes it, unless the mode has changed
// or a replay runs.
int COrvaneDlg::OnSendReply(std::vector<std::uint8_t> reply)
{
    if (m_nMode != MODE_LOG_SERVER)
        return 0;
    CPortWriter port(m_SerialPort);
    m_logServer.SendReply(reply, port);
    return 0;
}

// "Setting...": edits a copy of the port's settings record; the port's own
// record changes only on OK and reaches the device at the next Connect.
void COrvaneDlg::OnSetting()
{
    CPreferencesDlg dlg(m_prompts, this);
    // Only an open port has settings of its own to report; a closed one keeps its record.
    m_SerialPort.GetState();
    dlg.m_dcb = m_SerialPort.m_dcb;
    if (dlg.DoModal() == IDOK)
        m_SerialPort.m_dcb = dlg.m_dcb;
}
