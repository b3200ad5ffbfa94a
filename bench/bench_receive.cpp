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
#include "ui/OrvaneDlg.h"

#include <benchmark/benchmark.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <mutex>
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

// Three floods of 3 s, each with a new window and connection: how late the
// timer gets changes from flood to flood, so the worst of the three counts.
// One flood into a connected window: the timer's lateness on each tick, the
// event-loop passes, and when the window had counted every byte written.
struct FloodRun {
    Clock::time_point end{};
    bool timedOut = false;
    long passes = 0;
};

FloodRun RunFlood(COrvaneDlg& dlg, FarEndWriter& writer, std::vector<double>& lateness)
{
    FloodRun run;
    Clock::time_point lastTick{};
    QEventLoop loop;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kTick);
    // Each pass of the event loop starts with awake(): how many passes the
    // window's thread makes while the chunks pour in.
    const auto counting = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                                           &loop, [&run] { ++run.passes; });
    const auto deadline = Clock::now() + kWriteFor + std::chrono::seconds(60);
    QObject::connect(&probe, &QTimer::timeout, &loop, [&] {
        const auto now = Clock::now();
        if (lastTick != Clock::time_point{})
            lateness.push_back(std::max(0.0, Millis(now - lastTick - kTick)));
        lastTick = now;
        if (writer.Done() && static_cast<std::uint64_t>(dlg.m_nRxTotal) >= writer.Written()) {
            run.end = now;
            loop.quit();
        } else if (now > deadline) {
            run.timedOut = true;
            loop.quit();
        }
    });
    probe.start();
    writer.Start(kWriteFor, kMaxBytes);
    loop.exec();
    probe.stop();
    QObject::disconnect(counting);
    writer.Stop();
    return run;
}

void ReportFlood(benchmark::State& state, std::vector<double>& lateness, double totalSeconds, double totalBytes,
                 double idleWorst, long loopIterations)
{
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
    state.SetBytesProcessed(static_cast<std::int64_t>(totalBytes));
}

void BM_ReceiveHex(benchmark::State& state)
{
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
        dlg.m_radioHex.click();
        dlg.OnConnect();
        if (!dlg.m_SerialPort.IsOpen()) {
            state.SkipWithError(("connect failed: " + dlg.m_SerialPort.GetLastErrorText()).c_str());
            return;
        }
        Pump(200);   // the window is painted and idle before the flood starts
        idleWorst = std::max(idleWorst, WorstLatenessIdle(std::chrono::seconds(1)));

        FarEndWriter writer(pty.Master());
        const auto start = Clock::now();
        const FloodRun run = RunFlood(dlg, writer, lateness);
        dlg.OnDisconnect();

        if (writer.Failed() || run.timedOut) {
            state.SkipWithError(run.timedOut ? "the window did not count every byte in time" : "the far end failed");
            return;
        }
        const double seconds = Seconds(run.end - start);
        state.SetIterationTime(seconds);
        totalSeconds += seconds;
        totalBytes += static_cast<double>(writer.Written());
        loopIterations += run.passes;
        if (!prompts.boxes.empty())
            state.SetLabel(("message box: " + prompts.boxes.front().toStdString()).c_str());
    }
    ReportFlood(state, lateness, totalSeconds, totalBytes, idleWorst, loopIterations);
}
BENCHMARK(BM_ReceiveHex)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The window's thread's share alone, per chunk of the largest size the reader
// hands over (8192 bytes, 24576 characters of hex text): the receive handler
// fed as the reader feeds it, then the repaint of the shown window. This is
// the longest the event loop waits for one chunk.
void BM_OnCommRxCharHexChunk(benchmark::State& state)
{
    const auto size = static_cast<std::uint32_t>(state.range(0));
    QuietPrompts prompts;
    COrvaneDlg dlg(prompts);
    dlg.show();
    dlg.m_radioHex.click();
    Pump(100);
    std::vector<std::uint8_t> chunk(size);
    std::mt19937 rng(5);
    for (auto& b : chunk)
        b = static_cast<std::uint8_t>(rng());
    for (auto _ : state) {
        dlg.OnCommRxChar(chunk);
        dlg.repaint();
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_OnCommRxCharHexChunk)->Arg(4095)->Arg(8192)->Unit(benchmark::kMillisecond)->MinTime(0.5);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
