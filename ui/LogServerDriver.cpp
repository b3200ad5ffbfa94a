// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/LogServerDriver.h"

#include "logserver/LogReplay.h"

#include <QFile>
#include <QMetaObject>

#include <algorithm>

namespace {
const char* const kLogFileFilter = "Log file(*.bin;*.txt)|*.bin;*.txt|";
}

CLogServerDriver::CLogServerDriver(IPrompts& prompts, QObject* parent) : QObject(parent), m_prompts(prompts) {}

void CLogServerDriver::LoadLogFile(const ReplayHandler& replay)
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
        m_session.EndReplay();
        if (const std::optional<LogRefusal> refusal = DescribeRefusal(loaded))
            m_prompts.MessageBox(QString::fromStdString(refusal->text), IPrompts::Icon::Exclamation,
                                 QString::fromStdString(refusal->detail));
        return;
    }
    m_session.StartReplay(std::move(loaded.data));
    replay(static_cast<std::int64_t>(m_session.LogData().size()));
    // The handler leaves the data alone when the mode is not Log server; the
    // replay is over either way.
    m_session.EndReplay();
}

bool CLogServerDriver::Replay(IByteWriter& port, std::int64_t size)
{
    const auto end = static_cast<std::size_t>(std::max<std::int64_t>(size, 0));
    const bool stalled = m_session.WriteReplay(port, end) == ReplayState::Stalled;
    m_session.EndReplay();
    return !stalled;
}

// The reply waits in the session with its own bytes and goes out after the
// hand-over, one queued call per reply, so replies leave in request order.
void CLogServerDriver::OnReceived(std::span<const std::uint8_t> chunk)
{
    if (m_session.OnReceived(chunk))
        QMetaObject::invokeMethod(this, [this] { SendQueuedReply(); }, Qt::QueuedConnection);
}

void CLogServerDriver::SendQueuedReply()
{
    if (std::optional<std::vector<std::uint8_t>> reply = m_session.TakeReply(); reply && m_onReply)
        m_onReply(std::move(*reply));
}

void CLogServerDriver::SendReply(std::span<const std::uint8_t> reply, IByteWriter& port)
{
    m_session.SendReply(reply, port);
}
