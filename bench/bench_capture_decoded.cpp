// SPDX-License-Identifier: GPL-2.0-or-later
// The Log client's capture with the decoded view shown: the far end floods
// the port with DIAG frames as the virtual modem sends them (debug messages
// with arguments and LTE RRC log records, framed), as fast as the pty takes
// them, while every frame is deframed, decoded and queued for the view. The
// same bytes through `cat` on a pty pair of the same kind set the pace
// (ratio = capture speed / cat speed; target >= 0.8), and a 10 ms precise
// timer on the window's thread says how late the event loop gets to it
// (target: never more than 50 ms late).
//
// BM_FloodResident (run when ORVANE_BENCH_FLOOD_SECONDS is set, 600 for the
// ten-minute figure) floods the window with the view shown for that long and
// samples the process's resident memory once a second: it must stay flat
// once the view holds its 100,000 rows. The capture file is truncated every
// few seconds meanwhile (the window writes on at its offset, into a sparse
// file), so the run needs no disk for the tens of gigabytes that pass.
//
//   bench_capture_decoded
//   ORVANE_BENCH_FLOOD_SECONDS=600 bench_capture_decoded --benchmark_filter=FloodResident
#include "BenchRig.h"
#include "WindowBenchMain.h"
#include "dm/HdlcFramer.h"
#include "ui/OrvaneDlg.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <span>

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using namespace benchrig;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFloodSize = std::size_t{32} << 20;
constexpr auto kTick = std::chrono::milliseconds(10);

void Le(Bytes& out, std::uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A 0x79 message with two arguments, then an LTE RRC OTA record (version 20).
Bytes Packets(std::uint32_t n)
{
    Bytes message{0x79, 0, 2, 0};
    Le(message, std::uint64_t{n} << 16, 8);
    Le(message, 100 + n % 50, 2);
    Le(message, 5000 + n % 7, 2);
    Le(message, 4, 4);
    Le(message, n, 4);
    Le(message, n * 3, 4);
    for (const char* s : {"RRC: tx power %d dBm, sfn %u", "lte_rrc_main.c"})
        message.insert(message.end(), s, s + std::strlen(s) + 1);
    Bytes payload{20, 0x0E, 0x30, 0};
    Le(payload, 214, 2);
    Le(payload, 6300, 4);
    Le(payload, n % 10240, 2);
    payload.push_back(7);
    Le(payload, 0, 4);
    Le(payload, 2, 2);
    payload.insert(payload.end(), {0x28, 0x02});
    Bytes log{0x10, 0};
    Le(log, 12 + payload.size(), 2);
    Le(log, 12 + payload.size(), 2);
    Le(log, 0xB0C0, 2);
    Le(log, std::uint64_t{n} << 16, 8);
    log.insert(log.end(), payload.begin(), payload.end());
    Bytes out = HdlcFramePacket(message);
    const Bytes framed = HdlcFramePacket(log);
    out.insert(out.end(), framed.begin(), framed.end());
    return out;
}

Bytes Flood()
{
    Bytes out;
    out.reserve(kFloodSize + 512);
    for (std::uint32_t n = 0; out.size() < kFloodSize; ++n) {
        const Bytes p = Packets(n);
        out.insert(out.end(), p.begin(), p.end());
    }
    out.resize(kFloodSize);   // the last frame cut short: counted as bad, as on a real line
    return out;
}

std::uintmax_t FileSize(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uintmax_t>(st.st_size) : 0;
}

void WriteAll(int fd, const Bytes& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = sysio::RetryEintr([&] { return write(fd, data.data() + done, data.size() - done); });
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// cat < slave > file, timed from the first byte written to the last in the file.
double RunCat(const Bytes& data, const std::filesystem::path& dir)
{
    Pty pty(false);
    const std::string out = (dir / "cat.bin").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, pty.SlavePath().c_str(), O_RDONLY | O_NOCTTY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::array<char*, 2> argv{const_cast<char*>("cat"), nullptr};
    pid_t pid = -1;
    if (posix_spawnp(&pid, "cat", &actions, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start cat");
    posix_spawn_file_actions_destroy(&actions);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    std::thread writer([&] { WriteAll(pty.Master(), data); });
    while (FileSize(out) < data.size() && Clock::now() < start + std::chrono::seconds(60))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double seconds = Seconds(Clock::now() - start);
    writer.join();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::filesystem::remove(out);
    return seconds;
}

struct ToolRun {
    double seconds = 0;
    std::vector<double> lateness;   // ms beyond each 10 ms tick
    std::size_t rows = 0;
    std::uint64_t messages = 0;
};

// The window in Log client mode with the view shown: connect, the defaults
// (which open a capture), then the flood; the loop runs until every byte was counted.
ToolRun RunTool(const Bytes& data, COrvaneDlg& dlg, Pty& pty)
{
    dlg.OnConnect();
    if (!dlg.m_SerialPort.IsOpen())
        throw std::runtime_error("connect failed: " + dlg.m_SerialPort.GetLastErrorText());
    dlg.LoadDefaultConfig();
    PumpUntil([&] { return dlg.m_nStep >= 11; }, 10000);
    // The default packets the tool wrote are not the far end's business here.
    const int flags = fcntl(pty.Master(), F_GETFL);
    fcntl(pty.Master(), F_SETFL, flags | O_NONBLOCK);
    std::array<std::uint8_t, 4096> sink{};
    while (read(pty.Master(), sink.data(), sink.size()) > 0) {
    }
    fcntl(pty.Master(), F_SETFL, flags);
    ToolRun run;
    const auto target = dlg.m_nRxTotal + static_cast<std::int64_t>(data.size());
    QEventLoop loop;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kTick);
    Clock::time_point last{};
    const auto start = Clock::now();
    QObject::connect(&probe, &QTimer::timeout, &loop, [&] {
        const auto now = Clock::now();
        if (last != Clock::time_point{})
            run.lateness.push_back(std::max(0.0, Millis(now - last - kTick)));
        last = now;
        if (dlg.m_nRxTotal >= target || now > start + std::chrono::seconds(60))
            loop.quit();
    });
    std::thread writer([&] { WriteAll(pty.Master(), data); });
    probe.start();
    loop.exec();
    run.seconds = Seconds(Clock::now() - start);
    writer.join();
    Pump(100);
    run.rows = dlg.Decoded().View().Model().HeldRows();
    run.messages = dlg.Decoded().DebugMessages();
    dlg.OnDisconnect();
    if (dlg.m_nRxTotal < target)
        throw std::runtime_error("the window did not count every byte");
    return run;
}

// The window in Log client mode on a pty, its captures in a scratch folder,
// the decoded view shown or hidden.
struct WindowRig {
    Pty pty{false};
    Scratch scratch{pty.SlavePath()};
    QuietPrompts prompts;
    COrvaneDlg dlg{prompts};

    explicit WindowRig(bool viewShown)
    {
        dlg.m_szStartDir = scratch.StartDir().string();
        dlg.show();
        dlg.OnModeLogClient();
        if (dlg.Decoded().Shown() != viewShown)
            dlg.Decoded().ShowAction().trigger();
    }
};

void BM_CaptureDecodedVsCat(benchmark::State& state)
{
    const Bytes data = Flood();
    // Argument 1: the view shown (the figure that counts); 0: hidden, the plain capture beside it.
    WindowRig rig(state.range(0) != 0);
    auto& [pty, scratch, prompts, dlg] = rig;
    std::vector<double> ratios;
    std::vector<double> lateness;
    double rows = 0;
    double messages = 0;
    for (auto _ : state) {
        const double cat = RunCat(data, scratch.StartDir().parent_path());
        const ToolRun run = RunTool(data, dlg, pty);
        state.SetIterationTime(run.seconds);
        ratios.push_back(cat / run.seconds);
        lateness.insert(lateness.end(), run.lateness.begin(), run.lateness.end());
        rows = static_cast<double>(run.rows);
        messages = static_cast<double>(run.messages);
    }
    std::sort(ratios.begin(), ratios.end());
    std::sort(lateness.begin(), lateness.end());
    state.counters["ratio_median"] = ratios[ratios.size() / 2];
    state.counters["ratio_min"] = ratios.front();
    state.counters["late_max_ms"] = lateness.empty() ? 0 : lateness.back();
    state.counters["late_p99_ms"] = lateness.empty() ? 0 : lateness[lateness.size() * 99 / 100];
    state.counters["view_rows"] = rows;
    state.counters["debug_messages"] = messages;
    std::array<double, 1> load{};
    if (getloadavg(load.data(), 1) == 1)
        state.counters["load1"] = load[0];
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFloodSize));
    if (!prompts.boxes.empty())
        state.SkipWithError(prompts.boxes.front().toStdString().c_str());
}
BENCHMARK(BM_CaptureDecodedVsCat)->Arg(1)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CaptureDecodedVsCat)->Arg(0)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// Writes data to the far end over and over until stopped, throwing away
// what the tool sends.
class RepeatingWriter {
public:
    RepeatingWriter(int master, const Bytes& data) : m_thread([this, master, &data](std::stop_token stop) {
        Run(master, data, stop);
    })
    {
    }
    std::uint64_t Written() const { return m_written; }

private:
    void Run(int master, const Bytes& data, std::stop_token stop)
    {
        // Non-blocking: a stop must never wait for a window that no longer reads.
        const int flags = fcntl(master, F_GETFL);
        fcntl(master, F_SETFL, flags | O_NONBLOCK);
        std::array<std::uint8_t, 4096> sink{};
        std::size_t offset = 0;
        while (!stop.stop_requested()) {
            pollfd p{master, POLLOUT | POLLIN, 0};
            if (sysio::Poll(&p, 1, 50) <= 0)
                continue;
            if (p.revents & POLLIN)
                (void)read(master, sink.data(), sink.size());
            if (!(p.revents & POLLOUT))
                continue;
            const ssize_t n = sysio::RetryEintr([&] { return write(master, data.data() + offset, data.size() - offset); });
            if (n > 0) {
                m_written += static_cast<std::uint64_t>(n);
                offset = (offset + static_cast<std::size_t>(n)) % data.size();
            }
        }
        fcntl(master, F_SETFL, flags);
    }
    std::atomic<std::uint64_t> m_written{0};
    std::jthread m_thread;
};

// Every regular file under dir cut to nothing; the writer's offset stays, so
// what follows lands in a sparse file.
void TruncateCaptures(const std::filesystem::path& dir)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, ec))
        if (entry.is_regular_file(ec))
            std::filesystem::resize_file(entry.path(), 0, ec);
}

struct ResidentSamples {
    std::vector<double> mib;   // one a second
    std::uint64_t bytes = 0;
};

ResidentSamples FloodForSeconds(COrvaneDlg& dlg, Pty& pty, const Bytes& data, int seconds,
                                const std::filesystem::path& captureDir)
{
    dlg.OnConnect();
    dlg.LoadDefaultConfig();
    PumpUntil([&] { return dlg.m_nStep >= 11; }, 10000);
    ResidentSamples samples;
    const std::int64_t before = dlg.m_nRxTotal;
    {
        RepeatingWriter writer(pty.Master(), data);
        QEventLoop loop;
        QTimer sample;
        sample.setInterval(1000);
        int tick = 0;
        QObject::connect(&sample, &QTimer::timeout, &loop, [&] {
            samples.mib.push_back(ResidentMiB());
            if (++tick % 5 == 0)
                TruncateCaptures(captureDir);
            if (tick >= seconds)
                loop.quit();
        });
        sample.start();
        loop.exec();
    }
    Pump(200);
    samples.bytes = static_cast<std::uint64_t>(dlg.m_nRxTotal - before);
    dlg.OnDisconnect();
    return samples;
}

void BM_FloodResident(benchmark::State& state)
{
    const Bytes data = Flood();
    WindowRig rig(true);
    auto& [pty, scratch, prompts, dlg] = rig;
    const int seconds = static_cast<int>(state.range(0));
    ResidentSamples samples;
    for (auto _ : state)
        samples = FloodForSeconds(dlg, pty, data, seconds, scratch.StartDir());
    // Flat means: after the first minute (the view fills its 100,000 rows
    // within seconds; allocators settle), the resident size neither climbs
    // nor wanders.
    const std::size_t settled = std::min<std::size_t>(60, samples.mib.size() / 2);
    const auto later = std::span(samples.mib).subspan(settled);
    const auto [low, high] = std::minmax_element(later.begin(), later.end());
    state.counters["rss_at_1min_mib"] = samples.mib[settled];
    state.counters["rss_end_mib"] = samples.mib.back();
    state.counters["rss_min_after_1min_mib"] = *low;
    state.counters["rss_max_after_1min_mib"] = *high;
    state.counters["flood_gib"] = static_cast<double>(samples.bytes) / (1 << 30);
    state.counters["seconds"] = seconds;
    if (!prompts.boxes.empty())
        state.SkipWithError(prompts.boxes.front().toStdString().c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    return RunWindowBenchmarks(argc, argv, [] {
        // The view's shown state is kept in the settings: never the user's.
        QStandardPaths::setTestModeEnabled(true);
        const QTemporaryDir settings;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
        if (const char* seconds = std::getenv("ORVANE_BENCH_FLOOD_SECONDS"); seconds && std::atoi(seconds) > 1)
            benchmark::RegisterBenchmark("BM_FloodResident", BM_FloodResident)
                ->Arg(std::atoi(seconds))
                ->Iterations(1)
                ->Unit(benchmark::kSecond);
        benchmark::RunSpecifiedBenchmarks();
    });
}
