// SPDX-License-Identifier: GPL-2.0-or-later
// Start-up time and resident memory.
//
// The real program: `orvane` is spawned with the offscreen platform and the
// clock runs until its window's thread has gone idle in its event loop. The
// program shows the window before it enters that loop, and the loop paints it
// before it first sleeps, so the first lasting sleep in poll/ppoll marks "the
// window is shown". It is found from outside, without any hook in the
// program: /proc/<pid>/syscall of the main thread names the call it blocks
// in, and the thread must stay there, using no CPU, for kIdleFor. The figure
// is the moment that sleep began. Its resident memory is read at that moment.
//
// In this process: the QApplication, then the main window built, shown and
// painted for the first time (a cold start: nothing was built before it).
//
// A 64 MiB capture: a shown window in Log client mode, connected to a pty,
// "Load Default Cfg..." (which creates the capture file and sends the
// default packets), then 64 MiB from the far end; resident memory before the
// connection and after the last byte was counted.
#include "BenchRig.h"
#include "support/ChildProcess.h"
#include "ui/OrvaneDlg.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QMetaObject>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using namespace benchrig;

constexpr auto kIdleFor = std::chrono::milliseconds(100);
constexpr auto kSpawnDeadline = std::chrono::seconds(30);
constexpr std::uint64_t kCaptureBytes = std::uint64_t{64} << 20;

double g_appConstructMs = 0;   // QApplication's construction in main

// syscall numbers of x86-64 and arm64 calls an idle Qt event loop sleeps in.
bool IsEventLoopWait(long number)
{
#if defined(__x86_64__)
    return number == 7 /* poll */ || number == 271 /* ppoll */ || number == 232 /* epoll_wait */
        || number == 281 /* epoll_pwait */;
#elif defined(__aarch64__)
    return number == 73 /* ppoll */ || number == 22 /* epoll_pwait */;
#else
    return number >= 0;
#endif
}

// The call the thread is blocked in, or -1 while it runs. Throws when the
// kernel does not tell (no /proc/<pid>/syscall, or no right to read it).
long BlockedIn(const std::string& task)
{
    std::ifstream in(task + "/syscall");
    std::string first;
    if (!(in >> first))
        throw std::runtime_error("cannot read " + task + "/syscall");
    if (first == "running")
        return -1;
    try {
        return std::stol(first);
    } catch (const std::exception&) {
        return -1;
    }
}

// utime + stime of a thread, in clock ticks.
long long CpuTicks(const std::string& task)
{
    std::ifstream in(task + "/stat");
    std::string line;
    std::getline(in, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    // Fields after the name: state is 3rd of the line, utime the 14th, stime the 15th.
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoll(field);
        if (i == 15)
            stime = std::stoll(field);
    }
    return utime + stime;
}

struct Launch {
    double shownMs = -1;
    double residentMiB = -1;
};

Launch LaunchToShown(const std::filesystem::path& startDir)
{
    std::vector<std::string> env = childproc::EnvironmentWithout({"QT_QPA_PLATFORM="});
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    const childproc::CStrings envp(std::move(env));
    const std::string program = ORVANE_BINARY_DIR "/app/orvane";
    const childproc::CStrings argv({program});

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, startDir.c_str());
    pid_t pid = -1;
    const auto start = Clock::now();
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.Get(), envp.Get());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    childproc::Child child(pid);
    const std::string task = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid);

    Clock::time_point idleSince{};
    long long idleTicks = -1;
    Launch result;
    while (Clock::now() - start < kSpawnDeadline) {
        if (child.Wait(std::chrono::milliseconds(0)))
            throw std::runtime_error(program + " exited during start-up");
        const auto now = Clock::now();
        if (!IsEventLoopWait(BlockedIn(task))) {
            idleSince = {};
        } else {
            const long long ticks = CpuTicks(task);
            if (idleSince == Clock::time_point{} || ticks != idleTicks) {
                idleSince = now;
                idleTicks = ticks;
            } else if (now - idleSince >= kIdleFor) {
                result.shownMs = Millis(idleSince - start);
                result.residentMiB = ResidentMiB(std::to_string(pid));
                return result;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    throw std::runtime_error(program + " did not go idle in time");
}

void BM_StartupOfTheProgram(benchmark::State& state)
{
    Scratch scratch;
    std::vector<double> shown;
    std::vector<double> resident;
    for (auto _ : state) {
        try {
            const Launch launch = LaunchToShown(scratch.StartDir());
            shown.push_back(launch.shownMs);
            resident.push_back(launch.residentMiB);
            state.SetIterationTime(launch.shownMs / 1000);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        }
    }
    std::sort(shown.begin(), shown.end());
    std::sort(resident.begin(), resident.end());
    state.counters["shown_ms"] = shown[shown.size() / 2];   // median
    state.counters["shown_min_ms"] = shown.front();
    state.counters["shown_max_ms"] = shown.back();
    state.counters["rss_start_MiB"] = resident[resident.size() / 2];
}

// Remembers when the pass that delivered the window's first paint ended: the
// whole window is painted in that pass, and a queued call runs right after it.
class FirstPaint final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QMetaObject::invokeMethod(
                this, [this] { paintedAt = Clock::now(); }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }
    bool Done() const { return paintedAt != Clock::time_point{}; }
    Clock::time_point paintedAt{};

private:
    bool m_seen = false;
};

void BM_WindowShownInProcess(benchmark::State& state)
{
    for (auto _ : state) {
        QuietPrompts prompts;
        FirstPaint paint;
        const auto start = Clock::now();
        COrvaneDlg dlg(prompts);
        dlg.installEventFilter(&paint);
        dlg.show();
        if (!PumpUntil([&] { return paint.Done(); }, 10000)) {
            state.SkipWithError("the window was never painted");
            return;
        }
        const auto shown = paint.paintedAt;
        state.SetIterationTime(Seconds(shown - start));
        state.counters["window_ms"] = Millis(shown - start);
        state.counters["qapp_ms"] = g_appConstructMs;
        state.counters["shown_ms"] = g_appConstructMs + Millis(shown - start);
    }
}

void BM_ResidentMemoryCapture(benchmark::State& state)
{
    for (auto _ : state) {
        Pty pty;
        Scratch scratch(pty.SlavePath());
        QuietPrompts prompts;
        COrvaneDlg dlg(prompts);
        dlg.m_szStartDir = scratch.StartDir().string();
        dlg.show();
        Pump(300);
        const double residentStart = ResidentMiB();

        dlg.OnModeLogClient();
        dlg.OnConnect();
        if (!dlg.m_SerialPort.IsOpen()) {
            state.SkipWithError(("connect failed: " + dlg.m_SerialPort.GetLastErrorText()).c_str());
            return;
        }
        FarEndWriter farEnd(pty.Master());
        dlg.LoadDefaultConfig();
        const bool capturing = dlg.m_hCaptureFile.IsOpen();
        // Let the default packets go out (one per 100 ms tick) before the flood.
        PumpUntil([&] { return !dlg.LogClient().TimerActive(LogClientSequence::Defaults); }, 10000);

        const auto before = dlg.m_nRxTotal;
        const auto start = Clock::now();
        farEnd.Start(std::chrono::minutes(5), kCaptureBytes);
        const bool all = PumpUntil(
            [&] { return farEnd.Failed() || static_cast<std::uint64_t>(dlg.m_nRxTotal - before) >= kCaptureBytes; },
            240000);
        const auto end = Clock::now();
        Pump(50);
        const double residentAfter = ResidentMiB();
        farEnd.Stop();
        dlg.OnDisconnect();

        if (!all || farEnd.Failed()) {
            state.SkipWithError("the window did not count 64 MiB in time");
            return;
        }
        std::uintmax_t captured = 0;
        for (const auto& entry : std::filesystem::directory_iterator(scratch.StartDir()))
            captured += entry.is_regular_file() ? entry.file_size() : 0;
        state.SetIterationTime(Seconds(end - start));
        state.counters["rss_start_MiB"] = residentStart;
        state.counters["rss_capture_MiB"] = residentAfter;
        state.counters["capture_file"] = capturing ? 1 : 0;
        state.counters["captured_MiB"] = static_cast<double>(captured) / (1 << 20);
        state.counters["capture_MiBps"] = static_cast<double>(kCaptureBytes) / (1 << 20) / Seconds(end - start);
        if (!prompts.boxes.empty())
            state.SetLabel(("message box: " + prompts.boxes.front().toStdString()).c_str());
    }
}

// In-process first, while nothing has been built yet.
BENCHMARK(BM_WindowShownInProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupOfTheProgram)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResidentMemoryCapture)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const auto start = Clock::now();
    QApplication app(argc, argv);
    g_appConstructMs = Millis(Clock::now() - start);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
