// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/orvanelog/LogRun.h"

#include "decode/GsmtapMessages.h"

#include "dm/FramedWriter.h"
#include "sys/StopSignals.h"
#include "tools/orvanelog/Terminal.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <poll.h>
#include <unistd.h>
#include <utility>

namespace {

using namespace std::chrono_literals;

// The window's entry that switches views is an option here.
std::string ForTheCommandLine(std::string line)
{
    static const std::string kEntry = "see Read Lists From LoggingView";
    if (const std::size_t at = line.find(kEntry); at != std::string::npos)
        line.replace(at, kEntry.size(), "see --view logging");
    return line;
}

// The window gives the modem this long after the port opens before it sends.
constexpr auto kAfterOpen = 500ms;
// How often the device's return is looked for (the window's reconnect timer).
constexpr auto kReconnectTick = 250ms;
// The loop looks at its clocks at least this often.
constexpr auto kLongestWait = 200ms;

using Lock = std::lock_guard<std::mutex>;

// "cannot open COM3 (/dev/ttyUSB2): No such device"; the port's own text is
// "<device>: <reason>".
std::string CannotOpen(const std::string& port, const std::string& device, const std::string& error)
{
    std::string reason = error;
    if (!device.empty() && error.rfind(device + ": ", 0) == 0)
        reason = error.substr(device.size() + 2);
    const std::string what = port == device || device.empty() ? port : port + " (" + device + ")";
    return "cannot open " + what + ": " + reason;
}

}  // namespace

COrvaneLog::COrvaneLog(LogOptions options, std::FILE* out, std::FILE* err, bool terminal)
    : m_options(std::move(options)),
      m_out(out),
      m_err(err),
      m_statusOut(m_options.decode ? err : out),
      m_terminal(terminal && !m_options.quiet),
      m_pump(m_options.port),
      m_rotation(RotationLimits{m_options.rotateSize, std::chrono::duration_cast<Clock::duration>(
                                                          std::chrono::duration<double>(m_options.rotateSeconds))})
{
    m_session.SetListView(m_options.view);
    m_pump.SetChunkHandler([this](std::span<const std::uint8_t> chunk) { OnChunk(chunk); });
    m_session.CaptureDirectory() = m_options.dir;
    // Called by the session from the loop's thread only (loading, creating a capture).
    m_session.SetMessageSink([this](const LogClientMessage& message) {
        Message(message.detail.empty() ? message.text : message.text + ": " + message.detail);
    });
}

void COrvaneLog::Message(const std::string& text)
{
    ClearStatus();
    std::fprintf(m_err, "orvane-log: %s\n", text.c_str());
    std::fflush(m_err);
}

bool COrvaneLog::OpenPort(bool quiet)
{
    if (m_pump.Open(m_options.dcb)) {
        std::error_code ec;
        const std::filesystem::path device = std::filesystem::canonical(m_pump.DevicePath(), ec);
        m_openDevice = ec ? m_pump.DevicePath() : device.string();
        return true;
    }
    if (!quiet) {
        Message("Connection failed, please close another connection first!");
        Message(CannotOpen(m_options.port, m_pump.DevicePath(), m_pump.LastError()));
    }
    return false;
}

void COrvaneLog::OnGone()
{
    m_pump.Close();
    m_configureAt.reset();
    m_nextStep.reset();
    m_afterStep.reset();
    m_outbox.clear();
    m_configuring = false;
    StopCapture("device gone: " + m_openDevice);
    Message("waiting for " + m_options.port + " to come back");
    // MONOTONIC_USEC tells systemd which reload this is (newer releases ask for it).
    const auto monotonic = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    m_notifier.Send("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(monotonic.count()) + "\nSTATUS=waiting for "
                    + m_options.port + " to come back");
    m_nextReconnect = Clock::now() + kReconnectTick;
}

// As the window's reconnect, with the capture made once the port is open
// (what arrives in between is held for it), and after the pause the
// configuration applied last, again.
void COrvaneLog::TryReconnect(Clock::time_point now)
{
    m_nextReconnect = now + kReconnectTick;
    // Only a device node that is there again is worth an attempt; one that is
    // not ready yet is tried again on the next tick.
    const std::string path = m_pump.DevicePath();
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec))
        return;
    if (!OpenPort(true))
        return;
    m_nextReconnect.reset();
    Message(m_options.port + " is back (" + m_openDevice + ")");
    if (!StartCapture()) {
        m_failure = kExitCapture;
        return;
    }
    m_configureAt = Clock::now() + kAfterOpen;
}

// The configuration starts: the first time as the buttons start it, after a
// reconnect as Connect repeats it (Connect reads the .dmc file again).
void COrvaneLog::Configure(Clock::time_point now)
{
    m_configureAt.reset();
    m_configuring = true;
    std::optional<LogClientStep> step;
    std::string lists;
    {
        Lock lock(m_captureLock);
        const bool applied = m_session.ConfigurationApplied();
        if (applied)
            step = m_session.AfterConnect();   // a file that no longer loads is told by the session
        else if (m_options.dmcPath.empty())
            step = m_session.LoadDefaultConfig();
        else
            step = m_session.ApplyDocument(m_options.dmcPath, m_document);
        if (applied && step && !m_options.dmcPath.empty())
            lists = DescribeLists(m_session.ListSummary());
        if (!m_session.Capture().IsOpen() && m_failure.load() == 0)
            m_failure = kExitCapture;
    }
    if (!lists.empty())
        Message(ForTheCommandLine(lists));
    if (step)
        Queue(*step, now);
}

void COrvaneLog::Queue(const LogClientStep& step, Clock::time_point now)
{
    m_running = step.sequence;
    m_outbox.assign(step.packets.begin(), step.packets.end());
    m_afterStep = step.next;
    m_nextPacket = now;
    m_nextStep.reset();
    SendDue(now);
}

// Writes the packets that are due, each framed as the window frames it; once
// a step's last packet and its pause are done, the next step is timed.
void COrvaneLog::SendDue(Clock::time_point now)
{
    CPortWriter writer(m_pump);
    while (!m_outbox.empty() && now >= m_nextPacket) {
        const LogClientPacket packet = std::move(m_outbox.front());
        m_outbox.pop_front();
        FrameAndWrite(writer, packet.bytes);
        now = Clock::now();
        m_nextPacket = now + packet.pauseAfter;
    }
    if (m_outbox.empty() && m_afterStep && now >= m_nextPacket) {
        m_nextStep = now + *m_afterStep;
        m_afterStep.reset();
    }
}

void COrvaneLog::RunDue(Clock::time_point now)
{
    if (m_nextReconnect && now >= *m_nextReconnect)
        TryReconnect(now);
    if (!m_pump.IsOpen() || m_failure.load() != 0)
        return;
    if (m_configureAt && now >= *m_configureAt)
        Configure(now);
    SendDue(Clock::now());
    // The step's packets are built from the session's lists; the capture is not touched.
    if (m_nextStep && Clock::now() >= *m_nextStep)
        Queue(m_session.Step(m_running), Clock::now());
    if (m_configuring && !m_configureAt && m_outbox.empty() && !m_afterStep && !m_nextStep)
        ConfigurationSent();
}

int COrvaneLog::Timeout(Clock::time_point now) const
{
    Clock::time_point next = m_nextStatus;
    for (const auto& t : {m_nextStep, m_nextReconnect, m_deadline, m_configureAt})
        if (t)
            next = std::min(next, *t);
    if (!m_outbox.empty() || m_afterStep)
        next = std::min(next, m_nextPacket);
    if (m_notifySchedule)
        next = std::min(next, m_notifySchedule->Next());
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, kLongestWait.count()));
}

// Reads the .dmc file once: refused when it cannot be read, or when it has
// no list under either view (unless --allow-empty). 0 or the exit status.
int COrvaneLog::LoadDocument()
{
    CDmcReader reader;
    std::string error;
    if (!reader.LoadDocument(m_options.dmcPath, m_document, &error)) {
        Message(std::string(kMsgLoadDmcFailed) + ": " + (error.empty() ? m_options.dmcPath : error));
        return kExitDmc;
    }
    const DmcListSummary summary = SummarizeLists(reader, m_document, m_options.view);
    if (summary.used.Total() == 0 && summary.other.Total() == 0 && !m_options.allowEmpty) {
        Message(std::string(kMsgLoadDmcFailed) + ": " + m_options.dmcPath
                + ": no configuration lists in it (--allow-empty applies it anyway)");
        return kExitDmc;
    }
    Message(ForTheCommandLine(DescribeLists(summary)));
    return 0;
}

// The message database, the --decode lines, and the pcap and GSMTAP socket
// (with the debug messages between the signalling), before the port. Both
// take each received chunk once the capture has it.
int COrvaneLog::StartDecoding()
{
    std::shared_ptr<const decode::CMessageDatabase> database;
    std::string error;
    if (!m_options.qdbPath.empty() && !(database = LoadMessageDatabase(m_options.qdbPath, &error))) {
        Message("cannot load the message database " + error);
        return kExitFile;
    }
    if (m_options.decode) {
        m_decode = std::make_unique<CDecodeOutput>(m_out, database);
        AddChunkTap([this](std::span<const std::uint8_t> chunk) { m_decode->Feed(chunk); });
    }
    m_gsmtap.SetMessageFormatter(decode::DebugMessageFormatter(database));
    // On a thread of its own: the capture never waits for the pcap or the network.
    if (!m_gsmtap.Start(m_options, &error, CGsmtapOutput::Feeding::OwnThread)) {
        Message(error);
        return kExitCapture;
    }
    if (m_gsmtap.Active())
        AddChunkTap([this](std::span<const std::uint8_t> chunk) { m_gsmtap.OnChunk(chunk); });
    return 0;
}

// Everything up to the first step: the file is read, the port opened, the
// capture made. 0, or the exit status of what failed.
int COrvaneLog::Start()
{
    if (const int status = StartDecoding(); status != 0)
        return status;
    // A file that cannot be read ends the run before the port is touched.
    if (!m_options.dmcPath.empty())
        if (const int status = LoadDocument(); status != 0)
            return status;
    // A refused port leaves nothing behind: no capture is made before it opened.
    if (!OpenPort(false))
        return kExitPort;
    if (!StartCapture())
        return kExitCapture;
    m_configureAt = Clock::now() + kAfterOpen;
    return 0;
}

// One turn of the loop: waits for a descriptor or the next timed step. false
// when the run is to stop (signalsTaken tells whether a signal stopped it).
bool COrvaneLog::PollOnce(int& signalsTaken)
{
    const Clock::time_point now = Clock::now();
    if (m_deadline && now >= *m_deadline)
        return false;
    std::array<pollfd, 4> fds{{{m_signalFd, POLLIN, 0},
                               {m_pump.WakeFd(), POLLIN, 0},
                               {m_pump.PortFd(), POLLIN, 0},
                               {m_resizeFd, POLLIN, 0}}};
    const int ready = sysio::Poll(fds.data(), m_resizeFd >= 0 ? 4 : 3, Timeout(now));
    if (ready < 0) {
        Message(sysio::ErrnoText("poll", errno));
        return false;
    }
    if (ready > 0 && (fds[0].revents & POLLIN) && (signalsTaken = sysio::TakeStopSignals(m_signalFd)) > 0)
        return false;
    if (ready > 0 && ((fds[1].revents | fds[2].revents) & POLLIN))
        m_pump.Dispatch([this] { OnGone(); });
    if (ready > 0 && m_resizeFd >= 0 && (fds[3].revents & POLLIN) && terminal::TakeResize(m_resizeFd)) {
        m_columns = terminal::Columns(::fileno(m_statusOut));
        ShowStatus(Clock::now(), true);
    }
    TakeNewCaptures();
    CheckCapture();
    if (m_failure.load() != 0)
        return false;
    RunDue(Clock::now());
    KeepDisk(Clock::now());
    ShowStatus(Clock::now(), false);
    Notify(Clock::now());
    return m_failure.load() == 0;
}

int COrvaneLog::Run()
{
    m_start = Clock::now();
    const sysio::UniqueFd signals = sysio::OpenStopSignalFd();
    if (!signals.Valid()) {
        Message(sysio::ErrnoText("signalfd", errno));
        return kExitUsage;
    }
    m_signalFd = signals.Get();
    sysio::UniqueFd resize;
    if (m_terminal) {
        resize = terminal::OpenResizeFd();
        m_resizeFd = resize.Get();
        m_columns = terminal::Columns(::fileno(m_statusOut));
    }
    m_notifier = CNotifier::FromEnvironment();
    if (const int status = Start(); status != 0)
        return status;
    if (m_options.durationSeconds > 0)
        m_deadline = m_start + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(m_options.durationSeconds));
    m_nextStatus = m_start + (m_terminal ? Clock::duration(kLiveRefresh) : Clock::duration(kQuietRefresh));

    int signalsTaken = 0;
    while (PollOnce(signalsTaken)) {
    }
    if (m_failure.load() == 0)
        SwitchLoggingOff(signalsTaken);
    return Finish(m_failure.load());
}
