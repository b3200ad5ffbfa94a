#pragma once
// One orvane-log run: open the port as the window does, capture everything,
// send the configuration, keep a status line, follow the device when it goes
// and comes back, stop cleanly on a signal or at the end of --duration.
//
// One thread (the caller's) runs everything here from one poll loop: the
// signals (a signalfd), the port's hand-overs (its wake descriptor) and the
// timed steps. The only other thread is the port's reader.
#include "logclient/CaptureStats.h"
#include "logclient/LogClientSession.h"
#include "tools/orvanelog/ListViewFile.h"
#include "tools/orvanelog/Options.h"
#include "tools/orvanelog/PortPump.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Blocks SIGINT, SIGTERM and SIGHUP (they are read from a descriptor by the
// run) and ignores SIGPIPE. Call before any thread starts, so every thread
// inherits the mask.
bool BlockStopSignals();

class COrvaneLog {
public:
    using Clock = std::chrono::steady_clock;

    COrvaneLog(LogOptions options, std::FILE* out, std::FILE* err, bool terminal);

    // The exit status.
    int Run();

private:
    bool OpenPort(bool quiet);
    bool StartCapture();
    void StopCapture(const std::string& why);
    void Configure(Clock::time_point now);
    void Queue(const LogClientStep& step, Clock::time_point now);
    void SendDue(Clock::time_point now);
    void OnChunk(std::span<const std::uint8_t> chunk);
    void CaptureFailed();
    bool LoadLists(std::string* error);
    void OnGone();
    void TryReconnect(Clock::time_point now);
    void RunDue(Clock::time_point now);
    int Timeout(Clock::time_point now) const;
    void DrainAfterStop(int signals);
    void ShowStatus(Clock::time_point now, bool force);
    void ClearStatus();
    void Message(const std::string& text);
    int Finish(int status);
    // The run's figures: the captures before this one and this one.
    struct Totals {
        std::uint64_t bytes = 0, frames = 0, badFrames = 0;
        std::map<std::uint16_t, std::uint64_t> codes;
    };
    Totals RunTotals() const;

    LogOptions m_options;
    std::FILE* m_out;
    std::FILE* m_err;
    bool m_terminal;

    CPortPump m_pump;
    CLogClientSession m_session;
    CListViewFile m_lists;
    std::string m_sessionDmc;     // the file the session loads (the user's, or its LoggingView copy)
    CCaptureStats m_stats;        // of the open capture
    Totals m_done;                // of the captures closed before it
    std::vector<std::string> m_captures;

    Clock::time_point m_start;
    // The configuration: when to start it (the window's pause after open),
    // the packets of the running step with the pause after each, and when the
    // sequence's next step is due.
    std::optional<Clock::time_point> m_configureAt;
    std::deque<LogClientPacket> m_outbox;
    Clock::time_point m_nextPacket;
    std::optional<std::chrono::milliseconds> m_afterStep;
    LogClientSequence m_running = LogClientSequence::Defaults;
    std::optional<Clock::time_point> m_nextStep;
    std::optional<Clock::time_point> m_nextReconnect;
    std::optional<Clock::time_point> m_deadline;
    Clock::time_point m_nextStatus;
    bool m_statusShown = false;   // a live status line is on the terminal
    int m_failure = 0;            // exit status of a failure met in a handler
    int m_signalFd = -1;
};
