// Canned replies and log replay: the Log server plays the modem's part. The
// window drives the Log server session (logserver/LogServerSession.h).
#include "ui/OrvaneDlg.h"

#include "logserver/LogReplay.h"

#include <QFile>
#include <QMetaObject>

#include <algorithm>

namespace {
const char* const kLogFileFilter = "Log file(*.bin;*.txt)|*.bin;*.txt|";
}

// Window thread, from OnSend in Log server mode once the connection check has passed.
void COrvaneDlg::LoadLogFile()
{
    const std::optional<QString> path = m_prompts.GetOpenFileName(QString::fromLatin1(kLogFileFilter));
    if (!path)
        return;
    if (path->isEmpty()) {
        m_prompts.MessageBox(QStringLiteral("Please select log file"), IPrompts::Icon::Exclamation);
        return;
    }

    // A file that cannot be sized or held in memory is refused, saying why;
    // one that cannot be opened is refused quietly. Nothing is sent.
    LogLoadResult loaded = LoadLogData(QFile::encodeName(*path).toStdString());
    if (loaded.status != LogLoadStatus::Loaded) {
        m_logServer.EndReplay();
        if (const std::optional<LogRefusal> refusal = DescribeRefusal(loaded))
            m_prompts.MessageBox(QString::fromStdString(refusal->text), IPrompts::Icon::Exclamation,
                                 QString::fromStdString(refusal->detail));
        return;
    }

    m_logServer.StartReplay(std::move(loaded.data));
    OnSendLog(static_cast<std::int64_t>(m_pLogData.size()));   // WM_SEND_LOG: the whole replay
    // OnSendLog leaves the data alone when the mode is not Log server; the
    // replay is over either way.
    m_logServer.EndReplay();
}

// Window thread (WM_SEND_LOG, a direct call). Writes the first size bytes of
// the log raw, 1024 at a time, until the peer stops taking them; then frees them.
int COrvaneDlg::OnSendLog(std::int64_t size)
{
    if (m_nMode != MODE_LOG_SERVER)
        return 0;
    PortWriter port(m_SerialPort);
    const auto end = static_cast<std::size_t>(std::max<std::int64_t>(size, 0));
    if (m_logServer.WriteReplay(port, end) == ReplayState::Stalled)
        SetStatus(QStringLiteral("Not Sent..."));
    m_logServer.EndReplay();
    return 0;
}

// Window thread (WM_SEND_REPLY). Frames the reply and writes it, unless the
// mode has changed or a replay runs.
int COrvaneDlg::OnSendReply(std::vector<std::uint8_t> reply)
{
    if (m_nMode != MODE_LOG_SERVER)
        return 0;
    PortWriter port(m_SerialPort);
    m_logServer.SendReply(reply, port);
    return 0;
}

// Window thread, from OnCommRxChar in Log server mode, while the reader waits for the hand-over. The reply
// waits in the session with its own bytes and goes out later, after the
// hand-over, one queued call per reply, so replies leave in request order.
void COrvaneDlg::QueueCannedReply(const std::uint8_t* data, std::uint32_t count)
{
    if (m_logServer.OnReceived({data, count}))
        QMetaObject::invokeMethod(this, [this] { SendQueuedReply(); }, Qt::QueuedConnection);
}

void COrvaneDlg::SendQueuedReply()
{
    if (std::optional<std::vector<std::uint8_t>> reply = m_logServer.TakeReply())
        OnSendReply(std::move(*reply));
}
