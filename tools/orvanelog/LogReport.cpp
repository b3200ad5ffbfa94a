// SPDX-License-Identifier: GPL-2.0-or-later
// What a run tells: the status line (fitted to the terminal), systemd's
// notices, and the summary at the end.
#include "tools/orvanelog/LogRun.h"

#include "tools/orvanelog/Status.h"

#include <algorithm>

namespace {

using Lock = std::lock_guard<std::mutex>;


double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

}  // namespace

void COrvaneLog::ClearStatus()
{
    if (!m_statusShown)
        return;
    std::fputs("\r\033[K", m_statusOut);
    std::fflush(m_statusOut);
    m_statusShown = false;
}

COrvaneLog::Totals COrvaneLog::RunTotals() const
{
    Totals totals = m_done;
    std::lock_guard lock(m_statsLock);
    totals.bytes += m_stats.Bytes();
    totals.frames += m_stats.Frames();
    totals.badFrames += m_stats.BadFrames();
    for (const auto& [code, count] : m_stats.LogCodeCounts())
        totals.codes[code] += count;
    return totals;
}

void COrvaneLog::ShowStatus(Clock::time_point now, bool force)
{
    if (!force && now < m_nextStatus)
        return;
    StatusFigures figures;
    {
        const Totals totals = RunTotals();
        {
            std::lock_guard lock(m_statsLock);
            figures.bytesPerSecond = static_cast<double>(m_stats.BytesLastSecond(now));
        }
        Lock lock(m_captureLock);
        figures.capture = m_session.Capture().IsOpen() ? m_session.Capture().Path() : std::string();
        figures.bytes = totals.bytes;
        figures.frames = totals.frames;
        figures.badFrames = totals.badFrames;
        figures.logCodes = totals.codes.size();
    }
    figures.elapsedSeconds = Seconds(now - m_start);
    if (m_terminal) {
        std::fprintf(m_statusOut, "\r%s\033[K", FitStatus(figures, m_columns).c_str());
        m_statusShown = true;
    } else {
        std::fprintf(m_statusOut, "%s\n", FormatStatus(figures).c_str());
    }
    std::fflush(m_statusOut);
    m_nextStatus = now + (m_terminal ? Clock::duration(kLiveRefresh) : Clock::duration(kQuietRefresh));
}

// What systemctl status shows: the capture, bytes, frames and bad frames.
std::string COrvaneLog::StatusText() const
{
    const Totals totals = RunTotals();
    std::string capture;
    {
        Lock lock(m_captureLock);
        capture = m_session.Capture().IsOpen() ? m_session.Capture().Path() : std::string("no capture open");
    }
    return "STATUS=" + capture + ": " + std::to_string(totals.bytes) + " bytes, " + std::to_string(totals.frames)
           + " frames, " + std::to_string(totals.badFrames) + " bad frames";
}

// Loop thread: the configuration's last packet went out. Ready (again).
void COrvaneLog::ConfigurationSent()
{
    m_configuring = false;
    m_notifier.Send("READY=1\n" + StatusText());
    // The periodic notices start with the first READY.
    if (!m_notifySchedule && m_notifier.Enabled())
        m_notifySchedule.emplace(kQuietRefresh, m_notifier.PingInterval(), Clock::now());
}

// Loop thread: the periodic notices. Sent only from here, so a loop that
// stalls stops the watchdog's pings.
void COrvaneLog::Notify(Clock::time_point now)
{
    if (!m_notifySchedule)
        return;
    if (m_notifySchedule->StatusDue(now))
        m_notifier.Send(StatusText());
    if (m_notifySchedule->PingDue(now))
        m_notifier.Send("WATCHDOG=1");
}

int COrvaneLog::Finish(int status)
{
    m_pump.Close();   // the reader has ended; the device's own settings are back
    if (status == kExitCapture)
        ReportCaptureFailure();
    SummaryFigures summary;
    {
        Lock lock(m_captureLock);
        summary.keptBytes = m_keptBytes + (m_session.Capture().IsOpen() || m_session.Capture().Failed()
                                               ? m_session.Capture().BytesWritten()
                                               : 0);
        m_session.CloseCaptureFile();
    }
    {
        const Totals totals = RunTotals();
        summary.bytes = totals.bytes;
        summary.frames = totals.frames;
        summary.badFrames = totals.badFrames;
        summary.logCodes = totals.codes.size();
        summary.topCodes = TopLogCodes(totals.codes);
    }
    if (m_decode)
        summary.decoded = m_decode->Counts();
    summary.elapsedSeconds = Seconds(Clock::now() - m_start);
    summary.captures = m_captures;
    m_gsmtap.Stop();
    ClearStatus();
    std::fputs((FormatSummary(summary) + m_gsmtap.Summary()).c_str(), m_out);
    std::fflush(m_out);
    return status;
}
