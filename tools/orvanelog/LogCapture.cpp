// SPDX-License-Identifier: GPL-2.0-or-later
// The capture side of a run: the file the reader writes each chunk into, the
// rotation that starts the next one at a frame's end, and the disk: --keep
// and --min-free.
#include "tools/orvanelog/LogRun.h"

#include "tools/orvanelog/Status.h"

#include <ctime>
#include <unistd.h>

namespace {

using Lock = std::lock_guard<std::mutex>;

// What arrives between the port's opening and the capture's: a few chunks at most.
constexpr std::size_t kMaxEarlyBytes = std::size_t{4} << 20;
constexpr std::chrono::seconds kFloorCheckPeriod{1};

std::tm LocalNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace

// Capture lock held. A new file in the capture directory, named after the
// local time; the loop is woken to tell its name.
bool COrvaneLog::CreateLocked()
{
    CCaptureFile& capture = m_session.Capture();
    std::string error;
    const std::tm local = LocalNow();
    const std::string name = CCaptureFile::FileName(local);
    // Names of this run are never taken twice, even once --keep removed one.
    const unsigned from = name == m_lastName.first ? m_lastName.second + 1 : 1;
    if (!capture.Create(m_options.dir, local, &error, from)) {
        m_captureFailure = CaptureFailure{capture.Path(), error};
        return false;
    }
    m_lastName = {name, capture.Number()};
    m_rotation.Started(Clock::now());
    if (const std::optional<CaptureFileId> id = capture.Id())
        m_newCaptures.emplace_back(capture.Path(), *id);
    m_pump.Wake();
    return true;
}

// Capture lock held: the file in hand is done, the next one starts.
bool COrvaneLog::RotateLocked()
{
    m_keptBytes += m_session.Capture().BytesWritten();
    m_session.Capture().Close();
    if (!CreateLocked())
        return false;
    // The pcap goes on in a file named after the new capture; whole records stay in the old one.
    if (!m_options.pcapPath.empty())
        m_gsmtap.Rotate(RotatedPcapPath(m_options.pcapPath, m_session.Capture().Path()));
    return true;
}

// Capture lock held: chunk into the capture, cut where the rotation says.
bool COrvaneLog::WriteLocked(std::span<const std::uint8_t> chunk)
{
    while (!chunk.empty()) {
        const CRotation::Cut cut = m_rotation.Next(chunk, Clock::now());
        const std::span<const std::uint8_t> part = chunk.first(cut.take);
        if (!part.empty()) {
            if (!m_session.OnReceived(part))
                return false;
            m_rotation.Wrote(part);
        }
        chunk = chunk.subspan(cut.take);
        if (cut.newFile && !RotateLocked())
            return false;
    }
    return true;
}

// Loop thread, once the port is open: a new capture (an open one stays),
// with what arrived before it first.
bool COrvaneLog::StartCapture()
{
    {
        Lock lock(m_captureLock);
        if (!m_session.Capture().IsOpen()) {
            if (!CreateLocked()) {
                Message(std::string(kMsgCreateCaptureFailed) + ": " + m_captureFailure->reason);
                m_captureFailure.reset();
                return false;
            }
            const std::vector<std::uint8_t> early = std::exchange(m_early, {});
            if (!early.empty() && !WriteLocked(early))
                FailLocked();
        }
    }
    TakeNewCaptures();
    return true;
}

void COrvaneLog::StopCapture(const std::string& why)
{
    std::string path;
    std::uint64_t written = 0;
    {
        Lock lock(m_captureLock);
        if (!m_session.Capture().IsOpen())
            return;
        path = m_session.Capture().Path();
        written = m_session.Capture().BytesWritten();
        m_keptBytes += written;
        m_session.CloseCaptureFile();
    }
    // The reader has ended: every byte of this capture is in the counts now.
    m_done = RunTotals();   // a frame torn by the close is not joined to the next capture's
    {
        std::lock_guard lock(m_statsLock);
        m_stats.Reset();
    }
    m_gsmtap.OnCaptureClosed();
    if (m_decode)
        m_decode->Reset();
    Message(why + "; capture closed: " + path + " (" + std::to_string(written) + " bytes)");
}

// Capture lock held: the capture could not take what it was given; it has
// closed itself with everything it held. The loop is woken to tell why and
// end the run.
void COrvaneLog::FailLocked()
{
    if (!m_captureFailure)
        m_captureFailure = m_session.Capture().TakeFailure();
    if (!m_captureFailure)
        m_captureFailure = CaptureFailure{m_session.Capture().Path(), m_session.Capture().LastError()};
    m_failure = kExitCapture;
    m_pump.Wake();
}

// Reader thread, before its next read, so chunks land in arrival order.
void COrvaneLog::OnChunk(std::span<const std::uint8_t> chunk)
{
    {
        std::lock_guard lock(m_statsLock);
        m_stats.Feed(chunk, Clock::now());
    }
    m_received.fetch_add(chunk.size());
    {
        Lock lock(m_captureLock);
        if (m_failure.load() != 0)
            return;
        if (!m_session.Capture().IsOpen()) {
            // The port is open and the capture about to be made.
            if (m_early.size() + chunk.size() <= kMaxEarlyBytes)
                m_early.insert(m_early.end(), chunk.begin(), chunk.end());
        } else if (!WriteLocked(chunk)) {
            FailLocked();
            return;
        }
    }
    // Each received chunk, once the capture has it.
    for (const ChunkTap& tap : m_chunkTaps)
        tap(chunk);
}

// A capture whose file was removed ends as a failed write does.
void COrvaneLog::CheckCapture()
{
    Lock lock(m_captureLock);
    if (m_failure.load() == 0 && m_session.Capture().IsOpen() && !m_session.Capture().CheckLinked(Clock::now()))
        FailLocked();
}

// Loop thread: tells the captures started since it last looked, and lets the
// oldest go as --keep says.
void COrvaneLog::TakeNewCaptures()
{
    std::vector<std::pair<std::string, CaptureFileId>> started;
    {
        Lock lock(m_captureLock);
        started.swap(m_newCaptures);
    }
    for (const auto& [path, id] : started) {
        if (m_gsmtap.WritesPcap())
            m_pcapOfCapture[path] = m_captures.empty() ? m_options.pcapPath : RotatedPcapPath(m_options.pcapPath, path);
        m_captures.push_back(path);
        m_runFiles.Add(path, id);
        Message("capturing into " + path);
    }
    if (!started.empty() && m_options.keep > 0)
        for (const CRunFiles::Removed& removed : m_runFiles.KeepNewest(static_cast<std::size_t>(m_options.keep))) {
            Message("removed " + removed.path + " (" + std::to_string(removed.bytes) + " bytes; --keep "
                    + std::to_string(m_options.keep) + ")");
            RemovePcapOf(removed.path);
        }
    if (!started.empty())
        m_nextFloorCheck = Clock::now();
}

// Loop thread: --min-free, looked at once a second and after each new capture.
void COrvaneLog::KeepDisk(Clock::time_point now)
{
    if (m_options.minFree == 0 || now < m_nextFloorCheck)
        return;
    m_nextFloorCheck = now + kFloorCheckPeriod;
    const CRunFiles::FloorResult floor = m_runFiles.KeepFree(m_options.dir, m_options.minFree);
    for (const CRunFiles::Removed& removed : floor.removed) {
        Message("removed " + removed.path + " (" + std::to_string(removed.bytes) + " bytes; less than "
                + FormatBytes(m_options.minFree) + " free)");
        RemovePcapOf(removed.path);
    }
    if (!floor.kept) {
        Message("less than " + FormatBytes(m_options.minFree) + " free on " + m_options.dir + " ("
                + FormatBytes(floor.freeBytes) + ") and no earlier capture of this run is left to remove; stopping");
        m_failure = kExitCapture;
    }
}

void COrvaneLog::ReportCaptureFailure()
{
    std::optional<CaptureFailure> failure;
    std::uint64_t kept = 0;
    {
        Lock lock(m_captureLock);
        failure.swap(m_captureFailure);
        kept = m_session.Capture().BytesWritten();
    }
    if (failure)
        Message("Fail to write log file: " + failure->reason + " (" + failure->path + ", " + std::to_string(kept)
                + " bytes kept)");
}

// Loop thread: a capture that --keep or --min-free removed takes the pcap
// written beside it along (a file this run made; the open pcap is never one).
void COrvaneLog::RemovePcapOf(const std::string& capture)
{
    const auto it = m_pcapOfCapture.find(capture);
    if (it == m_pcapOfCapture.end())
        return;
    if (::unlink(it->second.c_str()) == 0)
        Message("removed " + it->second + " (the pcap of " + capture + ")");
    m_pcapOfCapture.erase(it);
}
