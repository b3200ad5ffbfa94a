// SPDX-License-Identifier: GPL-2.0-or-later
// The Log client's capture on a pseudo-terminal, through the real dialog: the
// far end writes 64 MiB into the port as fast as it can while a capture is
// open, against `cat` reading a pty pair of the same kind into a file in the
// same run (ratio = capture speed / cat speed). Every capture is compared with
// what was sent, byte for byte.
#include "BenchRig.h"
#include "SignallingFlood.h"
#include "WindowBenchMain.h"
#include "ui/OrvaneDlg.h"
#include "ui/Prompts.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kCaptureSize = std::size_t{64} << 20;

class SilentPrompts final : public IPrompts {
public:
    void MessageBox(const QString& text, Icon, const QString& detail) override
    {
        boxes.push_back(text + QStringLiteral(" ") + detail);
    }
    std::optional<QString> GetOpenFileName(const QString&) override { return std::nullopt; }
    std::vector<QString> boxes;
};

// A raw pty pair with a blocking master; the benchmark writes it.
class Pty : public benchrig::Pty {
public:
    Pty() : benchrig::Pty(false) {}

    // Throws away what the tool wrote (the default packets).
    void DrainMaster() const
    {
        std::array<std::uint8_t, 4096> buf{};
        pollfd p{Master(), POLLIN, 0};
        while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN) && read(Master(), buf.data(), buf.size()) > 0) {
        }
    }
};

class Scratch {
public:
    Scratch()
    {
        std::string templ = (std::filesystem::temp_directory_path() / "orvane-bench-capture-XXXXXX").string();
        if (mkdtemp(templ.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = templ;
    }
    ~Scratch()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// The far end: writes all of data into the master as fast as the tty takes it.
void WriteAll(int fd, const Bytes& data, std::atomic<bool>& failed)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = sysio::RetryEintr([&] { return write(fd, data.data() + done, data.size() - done); });
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            failed = true;
            return;
        }
    }
}

bool FileEquals(const std::string& path, const Bytes& data)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buf(1 << 20);
    std::size_t at = 0;
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        const auto n = static_cast<std::size_t>(in.gcount());
        if (at + n > data.size() || std::memcmp(buf.data(), data.data() + at, n) != 0)
            return false;
        at += n;
    }
    return at == data.size();
}

std::uintmax_t FileSize(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uintmax_t>(st.st_size) : 0;
}

struct Rig {
    Rig()
    {
        std::filesystem::create_directory(scratch.Path() / "ports");
        std::filesystem::create_directory(scratch.Path() / "captures");
        std::filesystem::create_symlink(toolPty.SlavePath(), scratch.Path() / "ports" / "COM1");
        setenv("ORVANE_PORT_DIR", (scratch.Path() / "ports").c_str(), 1);
        data.resize(kCaptureSize);
        std::mt19937 rng(11);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(rng());
        dlg = std::make_unique<COrvaneDlg>(prompts);
        dlg->m_szStartDir = (scratch.Path() / "captures").string();
        dlg->OnModeLogClient();
    }

    // Connects and applies the defaults, which opens a new capture.
    void ConnectWithCapture()
    {
        if (dlg->m_SerialPort.IsOpen())
            dlg->OnDisconnect();
        dlg->OnConnect();
        if (!dlg->m_SerialPort.IsOpen())
            throw std::runtime_error("connect failed: " + dlg->m_SerialPort.GetLastErrorText());
        if (dlg->m_nStep == 0)
            dlg->LoadDefaultConfig();
        QEventLoop loop;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (dlg->m_nStep < 11 && Clock::now() < deadline)
            loop.processEvents(QEventLoop::AllEvents, 20);
        toolPty.DrainMaster();
        if (!dlg->m_hCaptureFile.IsOpen())
            throw std::runtime_error("no capture file");
    }

    Scratch scratch;
    Pty toolPty;
    Pty catPty;
    SilentPrompts prompts;
    Bytes data;
    std::unique_ptr<COrvaneDlg> dlg;
};

Rig* g_pRig = nullptr;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double CpuSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// CPU spent during the capture runs, by the window's thread and by the whole
// process (writer, reader and window), against the wall time they took.
struct CpuUse {
    double window = 0;
    double process = 0;
};
CpuUse g_cpu;

// The far end writes all of the data into master while the clock runs until
// the file at path holds it (or two minutes pass).
struct FileFill {
    double seconds = 0;
    bool failed = false;   // the far end's write failed
};

FileFill TimeFileFill(int master, const Bytes& data, const std::string& path)
{
    std::atomic<bool> failed{false};
    const auto start = Clock::now();
    std::thread writer([&] { WriteAll(master, data, failed); });
    const auto deadline = start + std::chrono::seconds(120);
    while (FileSize(path) < kCaptureSize && Clock::now() < deadline && !failed)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto end = Clock::now();
    writer.join();
    return {Seconds(end - start), failed.load()};
}

// cat < pty slave > file, until the file holds everything the far end wrote.
double RunCat(Rig& rig, bool& equal)
{
    const std::string out = (rig.scratch.Path() / "cat.bin").string();
    std::filesystem::remove(out);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, rig.catPty.SlavePath().c_str(), O_RDONLY | O_NOCTTY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::array<char*, 2> argv{const_cast<char*>("cat"), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "cat", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start cat");
    // Let cat reach its first read before the clock starts.
    while (!std::filesystem::exists(out))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    const FileFill fill = TimeFileFill(rig.catPty.Master(), rig.data, out);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    equal = FileEquals(out, rig.data);
    std::filesystem::remove(out);
    if (fill.failed || FileSize(out) != 0)
        throw std::runtime_error("cat run failed");
    return fill.seconds;
}

// The far end writes into the tool's port; the window's thread sleeps in its
// event loop between hand-overs and stops the clock on the last byte counted.
double RunCapture(Rig& rig, bool capture, bool& equal)
{
    rig.ConnectWithCapture();
    const std::string path = rig.dlg->m_hCaptureFile.Path();
    if (!capture)
        rig.dlg->CloseCaptureFile();   // the hand-over alone: counted, written nowhere
    const std::int64_t before = rig.dlg->m_nRxTotal;
    const auto target = before + static_cast<std::int64_t>(kCaptureSize);

    std::atomic<bool> failed{false};
    QEventLoop loop;
    const double windowCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const double processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const auto start = Clock::now();
    std::thread writer([&] { WriteAll(rig.toolPty.Master(), rig.data, failed); });
    const auto deadline = start + std::chrono::seconds(120);
    while (rig.dlg->m_nRxTotal < target && Clock::now() < deadline && !failed)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    const auto end = Clock::now();
    writer.join();
    g_cpu.window += CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - windowCpu;
    g_cpu.process += CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processCpu;
    rig.dlg->OnDisconnect();
    equal = rig.dlg->m_nRxTotal == target && (!capture || FileEquals(path, rig.data));
    std::filesystem::remove(path);
    return Seconds(end - start);
}

// One competing process that does nothing but burn CPU while it lives, as a
// build beside the capture does.
class BusyProcess {
public:
    BusyProcess() : m_pid(fork())
    {
        if (m_pid == 0) {
            volatile std::uint64_t n = 0;
            for (;;)
                n = n + 1;
        }
        if (m_pid < 0)
            throw std::runtime_error("fork failed");
    }
    ~BusyProcess()
    {
        kill(m_pid, SIGKILL);
        int status = 0;
        sysio::RetryEintr([&] { return waitpid(m_pid, &status, 0); });
    }
    BusyProcess(const BusyProcess&) = delete;
    BusyProcess& operator=(const BusyProcess&) = delete;

private:
    pid_t m_pid;
};

// Back-to-back pairs of a cat run and a run of the tool under test; each
// iteration is timed by the tool's run.
struct PairedRuns {
    double toolTotal = 0;
    double catTotal = 0;
    std::vector<double> ratios;   // one per back-to-back pair: the load of the machine changes by the second
    bool allEqual = true;
};

template <typename RunTool>
PairedRuns RunPairs(benchmark::State& state, Rig& rig, RunTool runTool)
{
    PairedRuns runs;
    for (auto _ : state) {
        bool equal = false;
        const double cat = RunCat(rig, equal);
        runs.allEqual = runs.allEqual && equal;
        const double seconds = runTool(equal);
        runs.allEqual = runs.allEqual && equal;
        runs.catTotal += cat;
        runs.toolTotal += seconds;
        runs.ratios.push_back(cat / seconds);
        state.SetIterationTime(seconds);
    }
    std::sort(runs.ratios.begin(), runs.ratios.end());
    return runs;
}

// The tool's rate (under toolRate) against cat's, their ratios, whether every
// capture held what was sent, and the machine's load.
void ReportPairs(benchmark::State& state, const PairedRuns& runs, const char* toolRate)
{
    const double n = static_cast<double>(state.iterations());
    const double mib = static_cast<double>(kCaptureSize) / (1 << 20);
    state.counters[toolRate] = mib * n / runs.toolTotal;
    state.counters["cat_MiBps"] = mib * n / runs.catTotal;
    state.counters["ratio"] = runs.catTotal / runs.toolTotal;
    state.counters["ratio_median"] = runs.ratios[runs.ratios.size() / 2];
    state.counters["ratio_min"] = runs.ratios.front();
    state.counters["ratio_max"] = runs.ratios.back();
    state.counters["bytes_equal"] = runs.allEqual ? 1 : 0;
    std::array<double, 1> load{};
    if (getloadavg(load.data(), 1) == 1)
        state.counters["load1"] = load[0];   // 2 cores shared: the ratio means little above ~2
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kCaptureSize));
}

void RunCaptureVsCat(benchmark::State& state, bool capture, bool competing)
{
    Rig& rig = *g_pRig;
    std::optional<BusyProcess> busy;
    if (competing)
        busy.emplace();
    g_cpu = {};
    const PairedRuns runs = RunPairs(state, rig, [&](bool& equal) { return RunCapture(rig, capture, equal); });
    ReportPairs(state, runs, "capture_MiBps");
    const double n = static_cast<double>(state.iterations());
    // Per 64 MiB: if these stay far below the wall time, the hand-over waits
    // for the scheduler rather than for work.
    state.counters["window_cpu_ms"] = 1000 * g_cpu.window / n;
    state.counters["process_cpu_ms"] = 1000 * g_cpu.process / n;
    state.counters["wall_ms"] = 1000 * runs.toolTotal / n;
    if (!runs.allEqual)
        state.SkipWithError("a capture differs from what was sent");
    if (!rig.prompts.boxes.empty())
        state.SkipWithError(rig.prompts.boxes.front().toStdString().c_str());
}
void BM_CaptureVsCat(benchmark::State& state)
{
    RunCaptureVsCat(state, state.range(0) != 0, false);
}
// Argument 1: into a capture file (the figure that counts); 0: the same with
// no file open, which shows what the write itself costs.
BENCHMARK(BM_CaptureVsCat)->Arg(1)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CaptureVsCat)->Arg(0)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// Into a capture file while one busy process competes for the cores, for
// cat and the capture alike.
void BM_CaptureVsCatBusy(benchmark::State& state)
{
    RunCaptureVsCat(state, true, true);
}
BENCHMARK(BM_CaptureVsCatBusy)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    return RunWindowBenchmarks(argc, argv, [] {
        Rig rig;
        g_pRig = &rig;
        benchmark::RunSpecifiedBenchmarks();
        g_pRig = nullptr;
    });
}

// orvane-log, the Log client without a window, on the same kind of pty pair:
// the same 64 MiB, back to back with cat as above. No window thread stands
// between the reader and the capture file here, only the program's poll loop.
namespace {

const char* const kOrvaneLog = ORVANE_BINARY_DIR "/tools/orvanelog/orvane-log";

// One orvane-log run: started on the pty with the defaults, clocked from the
// far end's first byte to the last byte in the capture file. With gsmtap,
// also --pcap beside the capture and --gsmtap to the loopback.
double RunOrvaneLog(Rig& rig, Pty& pty, bool& equal, bool gsmtap = false)
{
    const std::filesystem::path dir = rig.scratch.Path() / "orvane-log";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directory(dir);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string slave = pty.SlavePath();
    std::string dirArg = dir.string();
    std::string pcapArg = (rig.scratch.Path() / "orvane-log.pcap").string();
    std::array<char*, 10> argv{const_cast<char*>("orvane-log"), slave.data(), const_cast<char*>("--defaults"),
                               const_cast<char*>("--dir"), dirArg.data(), const_cast<char*>("--quiet"), nullptr};
    if (gsmtap) {
        argv[6] = const_cast<char*>("--pcap");
        argv[7] = pcapArg.data();
        argv[8] = const_cast<char*>("--gsmtap");
    }
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, kOrvaneLog, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error(std::string("cannot start ") + kOrvaneLog);
    // The capture opens with the port; the eleven default packets follow
    // within about 1.6 s. The clock starts after them.
    const auto ready = Clock::now() + std::chrono::seconds(10);
    while (std::filesystem::is_empty(dir) && Clock::now() < ready)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    pty.DrainMaster();
    if (std::filesystem::is_empty(dir)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        throw std::runtime_error("orvane-log made no capture");
    }
    const std::string path = std::filesystem::directory_iterator(dir)->path().string();

    const FileFill fill = TimeFileFill(pty.Master(), rig.data, path);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    equal = WIFEXITED(status) && WEXITSTATUS(status) == 0 && FileEquals(path, rig.data);
    std::filesystem::remove_all(dir);
    if (fill.failed)
        throw std::runtime_error("orvane-log run failed");
    return fill.seconds;
}

void BM_OrvaneLogVsCat(benchmark::State& state)
{
    Rig& rig = *g_pRig;
    Pty pty;
    const bool gsmtap = state.range(0) != 0;
    // Arg 2: the far end sends signalling, every record a GSMTAP message.
    Bytes random;
    if (state.range(0) == 2) {
        random = std::exchange(rig.data, benchrig::SignallingFlood(kCaptureSize));
        rig.data.resize(kCaptureSize);   // the last frame cut short, as on a real line
    }
    const PairedRuns runs = RunPairs(state, rig, [&](bool& equal) { return RunOrvaneLog(rig, pty, equal, gsmtap); });
    if (!random.empty())
        rig.data = std::move(random);
    ReportPairs(state, runs, "log_MiBps");
    if (!runs.allEqual)
        state.SkipWithError("an orvane-log capture differs from what was sent");
}
// Target: ratio_median >= 0.9. Arg 1: with --pcap and --gsmtap as well
// (target 0.8) on the random stream, where the converter reads every byte for
// frames and finds few; Arg 2: the same on framed LTE RRC and NAS records,
// each one written to the pcap and sent as a datagram.
BENCHMARK(BM_OrvaneLogVsCat)->Arg(0)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvaneLogVsCat)->Arg(1)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvaneLogVsCat)->Arg(2)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
