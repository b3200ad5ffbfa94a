#include "tools/orvanelog/LogRun.h"

#include "dm/FramedWriter.h"
#include "sys/StopSignals.h"
#include "tools/orvanelog/Status.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
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
// The live status line is redrawn at most this often; otherwise one line per period.
constexpr auto kLiveRefresh = 500ms;
constexpr auto kQuietRefresh = 10s;
// After a stop, what the driver holds is captured too, for at most kDrainLimit.
constexpr auto kDrainPoll = 5ms;
constexpr auto kDrainLimit = 1s;
constexpr std::size_t kTopCodes = 10;
// The loop looks at its clocks at least this often.
constexpr auto kLongestWait = 200ms;

using Lock = std::lock_guard<std::mutex>;

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

}  // namespace

COrvaneLog::COrvaneLog(LogOptions options, std::FILE* out, std::FILE* err, bool terminal)
    : m_options(std::move(options)),
      m_out(out),
      m_err(err),
      m_terminal(terminal && !m_options.quiet),
      m_pump(m_options.port)
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

void COrvaneLog::ClearStatus()
{
    if (!m_statusShown)
        return;
    std::fputs("\r\033[K", m_out);
    std::fflush(m_out);
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
    const std::string line = FormatStatus(figures);
    if (m_terminal) {
        std::fprintf(m_out, "\r%s\033[K", line.c_str());
        m_statusShown = true;
    } else {
        std::fprintf(m_out, "%s\n", line.c_str());
    }
    std::fflush(m_out);
    m_nextStatus = now + (m_terminal ? Clock::duration(kLiveRefresh) : Clock::duration(kQuietRefresh));
}

bool COrvaneLog::OpenPort(bool quiet)
{
    if (m_pump.Open(m_options.dcb))
        return true;
    if (!quiet) {
        Message("Connection failed, please close another connection first!");
        Message(m_pump.LastError());
    }
    return false;
}

// A new capture named after the local time in the capture directory (an
// open one stays open).
bool COrvaneLog::StartCapture()
{
    std::string created;
    {
        Lock lock(m_captureLock);
        const bool wasOpen = m_session.Capture().IsOpen();
        if (!m_session.CreateCaptureFile())
            return false;   // the session told why
        if (!wasOpen)
            created = m_session.Capture().Path();
    }
    if (!created.empty()) {
        m_captures.push_back(created);
        Message("capturing into " + created);
    }
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
        m_session.CloseCaptureFile();
    }
    // The reader has ended: every byte of this capture is in the counts now.
    m_done = RunTotals();   // a frame torn by the close is not joined to the next capture's
    {
        std::lock_guard lock(m_statsLock);
        m_stats.Reset();
    }
    Message(why + "; capture closed: " + path + " (" + std::to_string(written) + " bytes)");
}

// Reader thread, before its next read, so chunks land in arrival order. A
// capture that cannot take the chunk has closed itself with everything it
// held; the loop is woken to tell why and end the run.
void COrvaneLog::OnChunk(std::span<const std::uint8_t> chunk)
{
    {
        std::lock_guard lock(m_statsLock);
        m_stats.Feed(chunk, Clock::now());
    }
    m_received.fetch_add(chunk.size());
    Lock lock(m_captureLock);
    if (m_failure.load() != 0 || m_session.OnReceived(chunk))
        return;
    m_captureFailure = m_session.Capture().TakeFailure();
    if (!m_captureFailure)
        m_captureFailure = CaptureFailure{m_session.Capture().Path(), m_session.Capture().LastError()};
    m_failure = kExitCapture;
    m_pump.Wake();
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

// Reads the user's file and tells what it holds under the chosen view; false and why.
bool COrvaneLog::LoadLists(std::string* error)
{
    CDmcReader reader;
    DmcDocument doc;
    if (!reader.LoadDocument(m_options.dmcPath, doc, error))
        return false;
    Message(ForTheCommandLine(DescribeLists(SummarizeLists(reader, doc, m_options.view))));
    return true;
}

void COrvaneLog::OnGone()
{
    const std::string device = m_pump.DevicePath();
    m_pump.Close();
    m_configureAt.reset();
    m_nextStep.reset();
    m_afterStep.reset();
    m_outbox.clear();
    StopCapture("device gone: " + device);
    Message("waiting for " + m_options.port + " to come back");
    m_nextReconnect = Clock::now() + kReconnectTick;
}

// As the window's reconnect: the capture first (so the first byte is in
// it), the port, and after the pause the configuration applied last, again.
void COrvaneLog::TryReconnect(Clock::time_point now)
{
    m_nextReconnect = now + kReconnectTick;
    // Only a device node that is there again is worth an attempt; one that is
    // not ready yet is tried again on the next tick (the capture stays open
    // for it, as the window's does).
    const std::string path = m_pump.DevicePath();
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec))
        return;
    if (!StartCapture()) {
        m_failure = kExitCapture;
        return;
    }
    if (!OpenPort(true))
        return;
    m_nextReconnect.reset();
    Message(m_options.port + " is back (" + path + ")");
    m_configureAt = Clock::now() + kAfterOpen;
}

// The configuration starts: the first time as the buttons start it, after a
// reconnect as Connect repeats it.
void COrvaneLog::Configure(Clock::time_point now)
{
    m_configureAt.reset();
    bool applied = false;
    {
        Lock lock(m_captureLock);
        applied = m_session.ConfigurationApplied();
    }
    std::string error;
    std::optional<LogClientStep> step;
    if (applied && !m_options.dmcPath.empty() && !LoadLists(&error)) {
        // Connect reads the file again.
        Message(std::string(kMsgReloadDmcFailed) + ": " + error);
    } else if (!applied && !m_options.dmcPath.empty() && !LoadLists(&error)) {
        Message(std::string(kMsgLoadDmcFailed) + ": " + error);
        m_failure = kExitDmc;   // read at start-up, unreadable now
        return;
    } else {
        Lock lock(m_captureLock);
        if (applied)
            step = m_session.AfterConnect();
        else if (m_options.dmcPath.empty())
            step = m_session.LoadDefaultConfig();
        else if (!(step = m_session.LoadConfiguration(m_options.dmcPath)))
            m_failure = kExitDmc;   // the session told why
        if (!m_session.Capture().IsOpen() && m_failure.load() == 0)
            m_failure = kExitCapture;
    }
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
    class PortWriter final : public IByteWriter {
    public:
        explicit PortWriter(CPortPump& pump) : m_pump(pump) {}
        std::size_t Write(std::span<const std::uint8_t> data) override
        {
            return static_cast<std::size_t>(std::max(0, m_pump.Write(data)));
        }

    private:
        CPortPump& m_pump;
    } writer(m_pump);

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
}

int COrvaneLog::Timeout(Clock::time_point now) const
{
    Clock::time_point next = m_nextStatus;
    for (const auto& t : {m_nextStep, m_nextReconnect, m_deadline, m_configureAt})
        if (t)
            next = std::min(next, *t);
    if (!m_outbox.empty() || m_afterStep)
        next = std::min(next, m_nextPacket);
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, kLongestWait.count()));
}

// After a stop: what the driver held at that moment goes into the capture
// before it closes (the reader reads in order, so it is in once the reader
// has taken that many more bytes). A further signal ends the wait at once;
// false then.
bool COrvaneLog::DrainAfterStop(int signals)
{
    const std::uint64_t target = m_received.load() + m_pump.Queued();
    const auto limit = Clock::now() + kDrainLimit;
    while (m_pump.IsOpen() && m_failure.load() == 0 && m_received.load() < target && Clock::now() < limit) {
        std::array<pollfd, 2> fds{{{m_signalFd, POLLIN, 0}, {m_pump.PortFd(), POLLIN, 0}}};
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(kDrainPoll.count()));
        if (ready > 0 && (fds[0].revents & POLLIN) && (signals += sysio::TakeStopSignals(m_signalFd)) > 1)
            return false;
        if (ready > 0 && (fds[1].revents & POLLIN))
            m_pump.Dispatch([this] { OnGone(); });
    }
    return true;
}

int COrvaneLog::Finish(int status)
{
    m_pump.Close();   // the reader has ended; the device's own settings are back
    if (status == kExitCapture)
        ReportCaptureFailure();
    SummaryFigures summary;
    {
        Lock lock(m_captureLock);
        m_session.CloseCaptureFile();
    }
    {
        const Totals totals = RunTotals();
        summary.bytes = totals.bytes;
        summary.frames = totals.frames;
        summary.badFrames = totals.badFrames;
        summary.logCodes = totals.codes.size();
        summary.topCodes.assign(totals.codes.begin(), totals.codes.end());
    }
    std::stable_sort(summary.topCodes.begin(), summary.topCodes.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    if (summary.topCodes.size() > kTopCodes)
        summary.topCodes.resize(kTopCodes);
    summary.elapsedSeconds = Seconds(Clock::now() - m_start);
    summary.captures = m_captures;
    ClearStatus();
    std::fputs(FormatSummary(summary).c_str(), m_out);
    std::fflush(m_out);
    return status;
}

// Everything up to the first step: the file is read, the capture made, the
// port opened. 0, or the exit status of what failed.
int COrvaneLog::Start()
{
    // A file that cannot be read ends the run before the port is touched.
    if (!m_options.dmcPath.empty()) {
        std::string error;
        DmcDocument doc;
        if (!CDmcReader().LoadDocument(m_options.dmcPath, doc, &error)) {
            Message(std::string(kMsgLoadDmcFailed) + ": " + (error.empty() ? m_options.dmcPath : error));
            return kExitDmc;
        }
    }
    // The capture comes first, so the modem's first byte is in it.
    if (!StartCapture())
        return kExitCapture;
    if (!OpenPort(false)) {
        // A refused run leaves nothing behind: the capture it made is empty.
        Lock lock(m_captureLock);
        const std::string path = m_session.Capture().Path();
        m_session.CloseCaptureFile();
        ::unlink(path.c_str());
        return kExitPort;
    }
    m_configureAt = Clock::now() + kAfterOpen;
    return 0;
}

int COrvaneLog::Run()
{
    m_start = Clock::now();
    const sysio::UniqueFd signals = sysio::OpenStopSignalFd();
    if (!signals.Valid()) {
        Message(std::string("signalfd: ") + std::strerror(errno));
        return kExitUsage;
    }
    m_signalFd = signals.Get();
    if (const int status = Start(); status != 0)
        return status;
    if (m_options.durationSeconds > 0)
        m_deadline = m_start + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(m_options.durationSeconds));
    m_nextStatus = m_start + (m_terminal ? Clock::duration(kLiveRefresh) : Clock::duration(kQuietRefresh));

    int signalsTaken = 0;
    while (m_failure.load() == 0) {
        const Clock::time_point now = Clock::now();
        if (m_deadline && now >= *m_deadline)
            break;
        std::array<pollfd, 3> fds{{{m_signalFd, POLLIN, 0}, {m_pump.WakeFd(), POLLIN, 0}, {m_pump.PortFd(), POLLIN, 0}}};
        const int ready = ::poll(fds.data(), fds.size(), Timeout(now));
        if (ready < 0 && errno != EINTR) {
            Message(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if (ready > 0 && (fds[0].revents & POLLIN) && (signalsTaken = sysio::TakeStopSignals(m_signalFd)) > 0)
            break;
        if (ready > 0 && ((fds[1].revents | fds[2].revents) & POLLIN))
            m_pump.Dispatch([this] { OnGone(); });
        {
            // A capture whose file was removed ends as a failed write does.
            Lock lock(m_captureLock);
            if (m_failure.load() == 0 && m_session.Capture().IsOpen()
                && !m_session.Capture().CheckLinked(Clock::now())) {
                m_captureFailure = m_session.Capture().TakeFailure();
                m_failure = kExitCapture;
            }
        }
        if (m_failure.load() != 0)
            break;
        RunDue(Clock::now());
        ShowStatus(Clock::now(), false);
    }
    if (m_failure.load() == 0)
        DrainAfterStop(signalsTaken);
    return Finish(m_failure.load());
}
