// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One orvane-log run: open the port as the window does, capture everything,
// send the configuration, keep a status line, follow the device when it goes
// and comes back, stop cleanly on a signal or at the end of --duration
// (switching the modem's logging off first, unless --leave-logging).
//
// Threads: the caller's thread runs the poll loop (signals through a
// signalfd, the port's posted messages through its wake descriptor, the timed
// steps, the counts, the status line, systemd's notices, every message). The
// port's reader thread writes each chunk into the capture itself (OnChunk),
// under m_captureLock, which guards the session's capture, the rotation and
// the captures it starts, and counts it in m_stats under m_statsLock. The
// loop never holds a lock while it opens or closes the port, so the reader is
// never waited for while it waits for one.
//
// The files: LogRun.cpp the loop, the port and the configuration;
// LogCapture.cpp the capture, its rotation and the disk; LogReport.cpp the
// status line, systemd's notices and the summary; LogStop.cpp the stop.
#include "logclient/CaptureStats.h"
#include "logclient/LogClientSession.h"
#include "tools/orvanelog/DecodeOutput.h"
#include "tools/orvanelog/DiskFloor.h"
#include "tools/orvanelog/Notify.h"
#include "tools/orvanelog/Options.h"
#include "tools/orvanelog/PcapOutput.h"
#include "tools/orvanelog/PortPump.h"
#include "tools/orvanelog/Rotation.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

class COrvaneLog {
public:
    using Clock = std::chrono::steady_clock;
    // The live status line is redrawn at most this often; otherwise one line per period.
    static constexpr std::chrono::milliseconds kLiveRefresh{500};
    static constexpr std::chrono::seconds kQuietRefresh{10};
    // Called on the reader thread with every received chunk, in order, after
    // the capture took it (for example a decoder or a GSMTAP sender). Set
    // before Run.
    using ChunkTap = std::function<void(std::span<const std::uint8_t>)>;

    COrvaneLog(LogOptions options, std::FILE* out, std::FILE* err, bool terminal);

    void AddChunkTap(ChunkTap tap) { m_chunkTaps.push_back(std::move(tap)); }
    // For tests: where the free space of the capture directory comes from.
    void SetFreeSpace(CRunFiles::FreeSpace freeSpace) { m_runFiles = CRunFiles(std::move(freeSpace)); }

    // The exit status.
    int Run();

private:
    // The run's figures: the captures closed so far and the open one.
    struct Totals {
        std::uint64_t bytes = 0, frames = 0, badFrames = 0;
        std::map<std::uint16_t, std::uint64_t> codes;
    };

    // LogRun.cpp
    int StartDecoding();
    int Start();
    int LoadDocument();
    bool OpenPort(bool quiet);
    void OnGone();
    void TryReconnect(Clock::time_point now);
    void Configure(Clock::time_point now);
    void Queue(const LogClientStep& step, Clock::time_point now);
    void SendDue(Clock::time_point now);
    void RunDue(Clock::time_point now);
    int Timeout(Clock::time_point now) const;
    bool PollOnce(int& signalsTaken);
    void Message(const std::string& text);

    // LogCapture.cpp
    bool StartCapture();
    bool CreateLocked();
    bool RotateLocked();
    bool WriteLocked(std::span<const std::uint8_t> chunk);
    void StopCapture(const std::string& why);
    void OnChunk(std::span<const std::uint8_t> chunk);
    void FailLocked();
    void CheckCapture();
    void TakeNewCaptures();
    void KeepDisk(Clock::time_point now);
    void ReportCaptureFailure();
    void RemovePcapOf(const std::string& capture);

    // LogReport.cpp
    void ShowStatus(Clock::time_point now, bool force);
    void ClearStatus();
    void Notify(Clock::time_point now);
    void ConfigurationSent();
    std::string StatusText() const;
    int Finish(int status);
    Totals RunTotals() const;

    // LogStop.cpp
    bool DrainAfterStop(int signals);
    void SwitchLoggingOff(int signals);

    LogOptions m_options;
    std::FILE* m_out;
    std::FILE* m_err;
    std::FILE* m_statusOut;       // m_out; m_err with --decode, whose lines take m_out
    bool m_terminal;
    std::unique_ptr<CDecodeOutput> m_decode;   // with --decode; fed by the reader (OnChunk)

    CPortPump m_pump;
    std::vector<ChunkTap> m_chunkTaps;   // reader thread only, once running
    DmcDocument m_document;              // the --dmc file, parsed once at the start

    // Shared with the reader thread (OnChunk).
    mutable std::mutex m_captureLock;
    CLogClientSession m_session;
    CRotation m_rotation;
    std::vector<std::uint8_t> m_early;   // received while no capture is open yet (bounded)
    std::vector<std::pair<std::string, CaptureFileId>> m_newCaptures;   // started, not yet told
    std::uint64_t m_keptBytes = 0;       // written into the captures closed so far
    std::pair<std::string, unsigned> m_lastName{{}, 0};   // the last capture's name without suffix, and its n
    std::optional<CaptureFailure> m_captureFailure;   // set by the reader; told by the loop
    std::atomic<int> m_failure{0};                    // exit status of a failure; ends the loop
    std::atomic<std::uint64_t> m_received{0};         // bytes taken, to tell when a stop has taken what was queued

    std::map<std::string, std::string> m_pcapOfCapture;   // loop thread: each capture's pcap (--pcap with rotation)
    CGsmtapOutput m_gsmtap;       // --pcap / --gsmtap; fed by the reader (OnChunk), locks itself

    mutable std::mutex m_statsLock;
    CCaptureStats m_stats;        // of the open capture; fed by the reader (OnChunk)
    Totals m_done;                // of the captures closed before it

    // Loop thread only.
    std::vector<std::string> m_captures;
    CRunFiles m_runFiles;
    Clock::time_point m_nextFloorCheck;
    std::string m_openDevice;     // the device the port opened (a link resolved), for "device gone"
    Clock::time_point m_start;
    std::optional<Clock::time_point> m_nextReconnect;
    std::optional<Clock::time_point> m_deadline;
    // The configuration: when to start it (the window's pause after open),
    // the packets of the running step with the pause after each, and when the
    // sequence's next step is due; m_configuring until its last packet went.
    std::optional<Clock::time_point> m_configureAt;
    std::deque<LogClientPacket> m_outbox;
    Clock::time_point m_nextPacket;
    std::optional<std::chrono::milliseconds> m_afterStep;
    LogClientSequence m_running = LogClientSequence::Defaults;
    std::optional<Clock::time_point> m_nextStep;
    bool m_configuring = false;
    Clock::time_point m_nextStatus;
    bool m_statusShown = false;   // a live status line is on the terminal
    std::size_t m_columns = 0;    // the terminal's width; 0: not fitted
    int m_signalFd = -1;
    int m_resizeFd = -1;
    CNotifier m_notifier;
    std::optional<CNotifySchedule> m_notifySchedule;
};
