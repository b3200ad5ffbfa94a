#include "ui/OrvaneDlg.h"
// Configuration sequence, default packets and capture file: the window drives
// the Log client session (logclient/LogClientSession.h) and shows its results.
//
// Everything here runs on the window's thread: the button handlers, the
// Connect handler and the two timers; CaptureChunk runs inside OnCommRxChar
// inside the hand-over while the reader thread waits for it.
#include <QFile>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <optional>
#include <span>

// Window thread: a text the session asks to show.
void COrvaneDlg::ShowLogClientMessage(const LogClientMessage& message)
{
    m_prompts.MessageBox(QString::fromStdString(message.text), IPrompts::Icon::Exclamation,
                         message.detail.empty() ? QString() : QString::fromStdString(message.detail));
}

// Writes the packets of one step, each framed, with the pause the session asks
// for after each (the window handles no messages meanwhile, as it never did),
// then arms the step's timer when the sequence goes on.
void COrvaneDlg::PlayLogClientStep(const LogClientStep& step)
{
    const int timer = static_cast<int>(step.sequence);
    KillTimer(timer);
    for (const LogClientPacket& packet : step.packets) {
        SendLogClientPacket(packet.bytes);
        if (packet.pauseAfter.count() > 0)
            QThread::msleep(static_cast<unsigned long>(packet.pauseAfter.count()));
    }
    if (step.next)
        SetTimer(timer);
}

// Builds the packet in m_TxBuf and writes its frame, whatever its length.
void COrvaneDlg::SendLogClientPacket(std::span<const std::uint8_t> packet)
{
    if (packet.empty() || packet.size() > m_TxBuf.size())
        return;
    std::copy(packet.begin(), packet.end(), m_TxBuf.begin());
    m_nTxLen = static_cast<std::int32_t>(packet.size());
    FrameAndWrite(m_nTxLen);
}

void COrvaneDlg::SendEventReport(std::string text)
{
    SendLogClientPacket(m_logClient.EventReportPacket(text));
}

void COrvaneDlg::SendEventMask(std::string text, int* done)
{
    std::int32_t finished = 1;
    SendLogClientPacket(m_logClient.EventMaskPacket(text, &finished));
    *done = finished;
}

void COrvaneDlg::SendLogConfig(std::string textA, std::string textB, int* done)
{
    std::int32_t finished = 1;
    SendLogClientPacket(m_logClient.LogConfigPacket(textA, textB, &finished));
    *done = finished;
}

void COrvaneDlg::SendExtMsgConfig(std::string text, int* done)
{
    std::int32_t finished = 1;
    SendLogClientPacket(m_logClient.ExtMsgConfigPacket(text, &finished));
    *done = finished;
}

// "Load Configuration..." in Log client mode, after the connection check.
void COrvaneDlg::LoadConfiguration()
{
    const std::optional<QString> chosen = m_prompts.GetOpenFileName(QStringLiteral("Config file(*.dmc)|*.dmc|"));
    if (!chosen)
        return;
    if (const std::optional<LogClientStep> step = m_logClient.LoadConfiguration(QFile::encodeName(*chosen).toStdString())) {
        ShowListSummary();   // which lists the file holds, on the capture line
        PlayLogClientStep(*step);
    }
}

// "Load Default Cfg..." (the Clear button in the other modes).
void COrvaneDlg::LoadDefaultConfig()
{
    m_editCommand.clear();
    if (m_nMode != MODE_LOG_CLIENT)
        return;
    if (!CheckConnected())
        return;
    PlayLogClientStep(m_logClient.LoadDefaultConfig());
}

// After a successful Connect in Log client mode: the configuration applied
// last starts again.
void COrvaneDlg::RepeatConfiguration()
{
    if (const std::optional<LogClientStep> step = m_logClient.AfterConnect()) {
        if (!m_logClient.DmcPath().empty())
            ShowListSummary();   // the file was read again
        PlayLogClientStep(*step);
    }
}

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

void COrvaneDlg::RunConfigStep(int restart)
{
    PlayLogClientStep(restart ? m_logClient.Start(LogClientSequence::Config)
                              : m_logClient.Step(LogClientSequence::Config));
}

void COrvaneDlg::SendDefaultStep(int restart)
{
    PlayLogClientStep(restart ? m_logClient.Start(LogClientSequence::Defaults)
                              : m_logClient.Step(LogClientSequence::Defaults));
}

void COrvaneDlg::CreateCaptureFile()
{
    m_logClient.CreateCaptureFile();
}

void COrvaneDlg::CloseCaptureFile()
{
    m_logClient.CloseCaptureFile();
}

// Window thread, inside OnCommRxChar, within the hand-over: the reader does not hand
// over the next chunk before this returns, so chunks land in arrival order.
// A write that fails ends the capture (the data is still counted); the user
// is told once, after the handler has returned.
void COrvaneDlg::CaptureChunk(const std::uint8_t* data, std::uint32_t count)
{
    if (!m_logClient.OnReceived({data, count}))
        QMetaObject::invokeMethod(this, [this] { ReportCaptureFailure(); }, Qt::QueuedConnection);
    m_captureInfo.Feed({data, count});   // the capture line counts what went to the file
}

// Window thread, m_timerCaptureCheck (once a second, always running): a
// capture whose file was removed is reported even while nothing arrives.
void COrvaneDlg::CheckCaptureFile()
{
    if (m_hCaptureFile.IsOpen() && !m_hCaptureFile.CheckLinked())
        ReportCaptureFailure();
}

// Window thread: "Fail to write log file" with the reason and the file, once per failure.
void COrvaneDlg::ReportCaptureFailure()
{
    if (const std::optional<CaptureFailure> failure = m_hCaptureFile.TakeFailure())
        m_prompts.MessageBox(QStringLiteral("Fail to write log file"), IPrompts::Icon::Exclamation,
                             QString::fromStdString(failure->reason) + QLatin1Char('\n')
                                 + QFile::decodeName(failure->path.c_str()));
}
