#pragma once
// One orvane-log run: open the port as the window does, capture everything,
// send the configuration, keep a status line, follow the device when it goes
// and comes back, stop cleanly on a signal or at the end of --duration.
//
// Threads: the caller's thread runs the poll loop (signals through a
// signalfd, the port's posted messages through its wake descriptor, the timed
// steps, the counts, the status line, every message). The port's reader
// thread writes each chunk into the capture itself (OnChunk), under
// m_captureLock, which guards the session's capture, and counts it in
// m_stats under m_statsLock (a few microseconds a chunk: the counter never
// copies a frame). The loop never holds a lock while it opens or
// closes the port, so the reader is never waited for while it waits for one.
#include "logclient/CaptureStats.h"
#include "logclient/LogClientSession.h"
#include "tools/orvanelog/DecodeOutput.h"
#include "tools/orvanelog/Options.h"
#include "tools/orvanelog/PcapOutput.h"
#include "tools/orvanelog/PortPump.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class COrvaneLog {
public:
    using Clock = std::chrono::steady_clock;

    COrvaneLog(LogOptions options, std::FILE* out, std::FILE* err, bool terminal);

    // The exit status.
    int Run();

private:
    // The run's figures: the captures closed so far and the open one.
    struct Totals {
        std::uint64_t bytes = 0, frames = 0, badFrames = 0;
        std::map<std::uint16_t, std::uint64_t> codes;
    };

    int StartDecoding();
    int Start();
    bool OpenPort(bool quiet);
    bool StartCapture();
    void StopCapture(const std::string& why);
    void OnChunk(std::span<const std::uint8_t> chunk);
    void ReportCaptureFailure();
    bool LoadLists(std::string* error);
    void OnGone();
    void TryReconnect(Clock::time_point now);
    void Configure(Clock::time_point now);
    void Queue(const LogClientStep& step, Clock::time_point now);
    void SendDue(Clock::time_point now);
    void RunDue(Clock::time_point now);
    int Timeout(Clock::time_point now) const;
    bool DrainAfterStop(int signals);
    void ShowStatus(Clock::time_point now, bool force);
    void ClearStatus();
    void Message(const std::string& text);
    int Finish(int status);
    Totals RunTotals() const;

    LogOptions m_options;
    std::FILE* m_out;
    std::FILE* m_err;
    std::FILE* m_statusOut;       // m_out; m_err with --decode, whose lines take m_out
    bool m_terminal;
    std::unique_ptr<CDecodeOutput> m_decode;   // with --decode; fed by the reader (OnChunk)

    CPortPump m_pump;

    // Shared with the reader thread (OnChunk).
    mutable std::mutex m_captureLock;
    CLogClientSession m_session;
    std::optional<CaptureFailure> m_captureFailure;   // set by the reader; told by the loop
    std::atomic<int> m_failure{0};                    // exit status of a failure; ends the loop
    std::atomic<std::uint64_t> m_received{0};         // bytes taken, to tell when a stop has taken what was queued

    CGsmtapOutput m_gsmtap;       // --pcap / --gsmtap; fed by the reader (OnChunk), locks itself

    mutable std::mutex m_statsLock;
    CCaptureStats m_stats;        // of the open capture; fed by the reader (OnChunk)
    Totals m_done;                // of the captures closed before it
    std::vector<std::string> m_captures;
    Clock::time_point m_start;
    std::optional<Clock::time_point> m_nextReconnect;
    std::optional<Clock::time_point> m_deadline;
    // The configuration: when to start it (the window's pause after open),
    // the packets of the running step with the pause after each, and when the
    // sequence's next step is due.
    std::optional<Clock::time_point> m_configureAt;
    std::deque<LogClientPacket> m_outbox;
    Clock::time_point m_nextPacket;
    std::optional<std::chrono::milliseconds> m_afterStep;
    LogClientSequence m_running = LogClientSequence::Defaults;
    std::optional<Clock::time_point> m_nextStep;
    Clock::time_point m_nextStatus;
    bool m_statusShown = false;   // a live status line is on the terminal
    int m_signalFd = -1;
};
