// SPDX-License-Identifier: GPL-2.0-or-later
// Received data in HEX mode through the whole path: the port's reader thread,
// the synchronous hand-over to the window's thread, the "%02X " conversion and
// the results box of a shown window. A writer thread at the far end of a pty
// writes random bytes as fast as the line takes them for a few seconds.
//
// Meanwhile a 10 ms precise timer on the window's thread measures how late the
// event loop gets to it: the worst and the 99th-percentile lateness between
// two ticks beyond the 10 ms asked for. A user feels that lateness as a
// window that does not answer while data pours in.
#include "BenchRig.h"
#include "WindowBenchMain.h"
#include "logclient/CaptureStats.h"
#include "ui/OrvaneDlg.h"

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <mutex>
#include <optional>
#include <random>

#include <algorithm>

namespace {

using namespace benchrig;

constexpr auto kWriteFor = std::chrono::seconds(3);
constexpr auto kTick = std::chrono::milliseconds(10);
// A bound on the run whatever the speed, well inside any width of the status line's count.
constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 30;

// The same probe on the idle window, as a yardstick: on a busy machine the
// scheduler alone makes a timer late.
double WorstLatenessIdle(std::chrono::milliseconds length)
{
    double worst = 0;
    Clock::time_point lastTick{};
    QEventLoop loop;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kTick);
    const auto stopAt = Clock::now() + length;
    QObject::connect(&probe, &QTimer::timeout, &loop, [&] {
        const auto now = Clock::now();
        if (lastTick != Clock::time_point{})
            worst = std::max(worst, Millis(now - lastTick - kTick));
        lastTick = now;
        if (now >= stopAt)
            loop.quit();
    });
    probe.start();
    loop.exec();
    return worst;
}

// CPU time the calling thread has used.
double ThreadCpuMillis()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// One other process that keeps a core busy for as long as the object lives,
// as another program (or another engineer's build) does on a shared machine.
class BusyProcess {
public:
    BusyProcess() : m_pid(::fork())
    {
        if (m_pid == 0) {
            for (unsigned long n = 0;; ++n)
                benchmark::DoNotOptimize(n);
        }
    }
    ~BusyProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    BusyProcess(const BusyProcess&) = delete;
    BusyProcess& operator=(const BusyProcess&) = delete;
    bool Running() const { return m_pid > 0; }

private:
    pid_t m_pid;
};

// Three floods of 3 s, each with a new window and connection: how late the
// timer gets changes from flood to flood, so the worst of the three counts.
// With busy set, one other process keeps a core busy all the while.
void ReceiveHexFlood(benchmark::State& state, bool busy)
{
    double windowCpuMs = 0;
    std::vector<double> lateness;
    double totalSeconds = 0;
    double totalBytes = 0;
    double idleWorst = 0;
    long loopIterations = 0;
    for (auto _ : state) {
        Pty pty;
        Scratch scratch(pty.SlavePath());
        QuietPrompts prompts;
        COrvaneDlg dlg(prompts);
        dlg.m_szStartDir = scratch.StartDir().string();
        dlg.show();
        dlg.OnModeHex();
        dlg.OnConnect();
        if (!dlg.m_SerialPort.IsOpen()) {
            state.SkipWithError(("connect failed: " + dlg.m_SerialPort.GetLastErrorText()).c_str());
            return;
        }
        Pump(200);   // the window is painted and idle before the flood starts
        idleWorst = std::max(idleWorst, WorstLatenessIdle(std::chrono::seconds(1)));

        Clock::time_point lastTick{};
        Clock::time_point end{};
        bool timedOut = false;
        FarEndWriter writer(pty.Master());
        QEventLoop loop;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(kTick);
        // Each pass of the event loop starts with awake(): how many passes the
        // window's thread makes while the chunks pour in.
        long passes = 0;
        const auto counting = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                                               &loop, [&passes] { ++passes; });
        const auto deadline = Clock::now() + kWriteFor + std::chrono::seconds(60);
        QObject::connect(&probe, &QTimer::timeout, &loop, [&] {
            const auto now = Clock::now();
            if (lastTick != Clock::time_point{})
                lateness.push_back(std::max(0.0, Millis(now - lastTick - kTick)));
            lastTick = now;
            if (writer.Done() && static_cast<std::uint64_t>(dlg.m_nRxTotal) >= writer.Written()) {
                end = now;
                loop.quit();
            } else if (now > deadline) {
                timedOut = true;
                loop.quit();
            }
        });

        std::optional<BusyProcess> competitor;
        if (busy)
            competitor.emplace();
        const auto start = Clock::now();
        const double cpuBefore = ThreadCpuMillis();
        probe.start();
        writer.Start(kWriteFor, kMaxBytes);
        loop.exec();
        probe.stop();
        windowCpuMs += ThreadCpuMillis() - cpuBefore;
        competitor.reset();
        QObject::disconnect(counting);
        writer.Stop();
        dlg.OnDisconnect();

        if (writer.Failed() || timedOut) {
            state.SkipWithError(timedOut ? "the window did not count every byte in time" : "the far end failed");
            return;
        }
        const double seconds = Seconds(end - start);
        state.SetIterationTime(seconds);
        totalSeconds += seconds;
        totalBytes += static_cast<double>(writer.Written());
        loopIterations += passes;
        if (!prompts.boxes.empty())
            state.SetLabel(("message box: " + prompts.boxes.front().toStdString()).c_str());
    }
    if (lateness.empty() || totalSeconds <= 0)
        return;
    std::sort(lateness.begin(), lateness.end());
    state.counters["rx_bytes_per_second"] = totalBytes / totalSeconds;
    state.counters["rx_MiBps"] = totalBytes / totalSeconds / (1 << 20);
    state.counters["worst_late_ms"] = lateness.back();
    state.counters["p99_late_ms"] = lateness[lateness.size() * 99 / 100];
    state.counters["median_late_ms"] = lateness[lateness.size() / 2];
    state.counters["idle_worst_late_ms"] = idleWorst;
    state.counters["ticks_per_s"] = static_cast<double>(lateness.size()) / totalSeconds;   // 100 when never late
    state.counters["loop_passes_per_s"] = static_cast<double>(loopIterations) / totalSeconds;
    state.counters["rx_MiB"] = totalBytes / (1 << 20);
    // The window thread's CPU per 4095 received bytes (the reader's usual chunk).
    state.counters["window_cpu_ms_per_4095B"] = windowCpuMs / (totalBytes / 4095);
    state.SetBytesProcessed(static_cast<std::int64_t>(totalBytes));
}

void BM_ReceiveHex(benchmark::State& state)
{
    ReceiveHexFlood(state, false);
}
BENCHMARK(BM_ReceiveHex)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same floods while one other process keeps a core of this machine busy.
void BM_ReceiveHexBusyMachine(benchmark::State& state)
{
    ReceiveHexFlood(state, true);
}
BENCHMARK(BM_ReceiveHexBusyMachine)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The window's thread's share alone, per chunk of the largest size the reader
// hands over (8192 bytes, 24576 characters of hex text): the receive handler
// fed as the reader feeds it, then one pass of the event loop as the window
// makes one per chunk: it paints what changed, and the results box draws the
// text that came when its next drawing is due (at most 30 a second).
void BM_OnCommRxCharHexChunk(benchmark::State& state)
{
    const auto size = static_cast<std::uint32_t>(state.range(0));
    QuietPrompts prompts;
    COrvaneDlg dlg(prompts);
    dlg.show();
    dlg.OnModeHex();
    Pump(100);
    std::vector<std::uint8_t> chunk(size);
    std::mt19937 rng(5);
    for (auto& b : chunk)
        b = static_cast<std::uint8_t>(rng());
    for (auto _ : state) {
        dlg.OnCommRxChar(chunk);
        QCoreApplication::processEvents();
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_OnCommRxCharHexChunk)->Arg(4095)->Arg(8192)->Unit(benchmark::kMillisecond)->MinTime(0.5);

// The capture line's counting per 4095-byte chunk of DM log frames: the
// frame counter and the log-code count the Log client runs beside every capture write.
void BM_CaptureStatsChunk(benchmark::State& state)
{
    std::vector<std::uint8_t> stream;
    std::mt19937 rng(7);
    while (stream.size() < (1u << 20)) {
        std::vector<std::uint8_t> packet = {0x10, 0x00, 0x40, 0x00, 0x40, 0x00, static_cast<std::uint8_t>(rng()), 0xB0};
        for (int i = 0; i < 56; ++i)
            packet.push_back(static_cast<std::uint8_t>(rng()));
        CHdlcFramer framer;
        std::vector<std::uint8_t> frame(packet.size() * 2 + 8);
        std::copy(packet.begin(), packet.end(), frame.begin());
        frame.resize(static_cast<std::size_t>(framer.Frame(std::span(frame), static_cast<int>(packet.size()))));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    CCaptureStats stats;
    std::size_t at = 0;
    for (auto _ : state) {
        if (at + 4095 > stream.size())
            at = 0;
        stats.Feed(std::span(stream).subspan(at, 4095), CCaptureStats::Clock::now());
        at += 4095;
    }
    benchmark::DoNotOptimize(stats.Frames());
    state.SetBytesProcessed(state.iterations() * 4095);
}
BENCHMARK(BM_CaptureStatsChunk)->Unit(benchmark::kMicrosecond)->MinTime(0.5);

}  // namespace

int main(int argc, char** argv)
{
    return RunWindowBenchmarks(argc, argv);
}
