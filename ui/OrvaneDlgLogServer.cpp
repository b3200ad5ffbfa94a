// Canned replies and log replay: the Log server plays the modem's part.
#include "ui/OrvaneDlg.h"

#include "logserver/CannedReplies.h"
#include "logserver/LogReplay.h"

#include <QFile>
#include <QMetaObject>

#include <algorithm>
#include <span>

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
        m_bReplaying = 0;
        m_pLogData = {};
        if (const std::optional<LogRefusal> refusal = DescribeRefusal(loaded))
            m_prompts.MessageBox(QString::fromStdString(refusal->text), IPrompts::Icon::Exclamation,
                                 QString::fromStdString(refusal->detail));
        return;
    }

    m_pLogData = std::move(loaded.data);
    m_bReplaying = 1;
    const auto size = static_cast<std::int64_t>(m_pLogData.size());
    OnSendLog(size);   // WM_SEND_LOG: runs the whole replay before returning

    // OnSendLog leaves the data alone when the mode is not Log server; the
    // replay is over either way.
    m_bReplaying = 0;
    m_pLogData = {};
}

// Window thread (WM_SEND_LOG, a direct call). Writes the first size bytes of
// m_pLogData raw, 1024 at a time, then frees them.
int COrvaneDlg::OnSendLog(std::int64_t size)
{
    if (m_nMode != MODE_LOG_SERVER)
        return 0;

    const std::size_t count =
        static_cast<std::size_t>(std::clamp<std::int64_t>(size, 0, static_cast<std::int64_t>(m_pLogData.size())));
    // A chunk the peer did not take within the write's second ends the replay:
    // going on would hand the peer a stream with holes, a second per chunk,
    // while the window stands still.
    bool stalled = false;
    ReplayInChunks(std::span<const std::uint8_t>(m_pLogData.data(), count),
                   [this, &stalled](const std::uint8_t* data, std::size_t n) {
                       if (!stalled && m_SerialPort.Write(data, static_cast<int>(n)) != static_cast<int>(n))
                           stalled = true;
                   });
    if (stalled)
        SetStatus(QStringLiteral("Not Sent..."));

    m_bReplaying = 0;
    m_pLogData = {};
    return 0;
}

// Window thread (WM_SEND_REPLY, queued by QueueCannedReply). Frames the reply
// in m_TxBuf and writes it, unless the mode has changed or a replay runs.
int COrvaneDlg::OnSendReply(std::vector<std::uint8_t> reply)
{
    if (m_nMode != MODE_LOG_SERVER || m_bReplaying)
        return 0;
    if (reply.empty())
        return 0;
    const std::size_t n = std::min<std::size_t>(reply.size(), kMaxCannedReply);
    std::copy_n(reply.begin(), n, m_TxBuf.begin());
    FrameAndWrite(static_cast<int>(n));
    return 0;
}

// Window thread, from OnCommRxChar in Log server mode under m_csRx. The reply
// goes out later, outside the lock; each queued call carries its own copy, so
// a later request, Send or a configuration step that rebuilds m_TxBuf cannot
// change a reply that is still waiting, and replies leave in request order.
void COrvaneDlg::QueueCannedReply(const std::uint8_t* data, std::uint32_t count)
{
    const unsigned n = GetCannedReply(data, count, m_TxBuf.data());
    if (n == 0)
        return;
    std::vector<std::uint8_t> reply(m_TxBuf.begin(), m_TxBuf.begin() + n);
    QMetaObject::invokeMethod(
        this, [this, reply = std::move(reply)] { OnSendReply(reply); }, Qt::QueuedConnection);
}
