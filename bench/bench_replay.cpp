// SPDX-License-Identifier: GPL-2.0-or-later
// The Log server on a pseudo-terminal, through the real dialog:
// - a 16 MiB log replay into a far end that reads as fast as it can, against
//   `cat file > pty` into the same far end (ratio = replay speed / cat speed,
//   the median over rounds);
// - reply latency, from the last byte of a request written at the far end to
//   the last byte of its reply read there, median and 99th percentile over
//   1000 version requests, with the window's thread sleeping in its event loop.
#include "dm/HdlcFramer.h"
#include "logserver/CannedReplies.h"
#include "BenchRig.h"
#include "WindowBenchMain.h"
#include "ui/OrvaneDlg.h"
#include "ui/Prompts.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kReplaySize = std::size_t{16} << 20;
constexpr int kRequests = 1000;

// Answers the file dialog with the next scripted path; no boxes are expected.
class ScriptedPrompts final : public IPrompts {
public:
    void MessageBox(const QString& text, Icon, const QString&) override { boxes.push_back(text); }
    std::optional<QString> GetOpenFileName(const QString&) override
    {
        if (answers.empty())
            return std::nullopt;
        QString a = answers.front();
        answers.pop_front();
        return a;
    }
    std::deque<QString> answers;
    std::vector<QString> boxes;
};

using benchrig::Fd;

// A raw pty pair with a blocking master; the benchmark reads and writes it.
class Pty : public benchrig::Pty {
public:
    Pty() : benchrig::Pty(false) {}
};

// A scratch folder holding the port directory and the log file, removed at the end.
class Scratch {
public:
    Scratch()
    {
        std::string templ = (std::filesystem::temp_directory_path() / "orvane-bench-XXXXXX").string();
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

// Reads the master end until `expected` bytes have come; returns when the last one arrived.
Clock::time_point DrainFarEnd(int fd, std::size_t expected)
{
    std::vector<std::uint8_t> buf(1 << 16);
    std::size_t got = 0;
    Clock::time_point last = Clock::now();
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (got < expected && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            last = Clock::now();
        }
    }
    if (got < expected)
        throw std::runtime_error("far end did not receive everything");
    return last;
}

struct Rig {
    Rig()
    {
        std::filesystem::create_directory(scratch.Path() / "ports");
        std::filesystem::create_symlink(pty.SlavePath(), scratch.Path() / "ports" / "COM1");
        setenv("ORVANE_PORT_DIR", (scratch.Path() / "ports").c_str(), 1);
        logFile = (scratch.Path() / "replay.bin").string();
        Bytes data(kReplaySize);
        std::mt19937 rng(7);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(rng());
        std::ofstream(logFile, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                        static_cast<std::streamsize>(data.size()));
        dlg = std::make_unique<COrvaneDlg>(prompts);
        dlg->OnModeLogServer();
    }
    void Connect()
    {
        if (!dlg->m_SerialPort.IsOpen())
            dlg->OnConnect();
        if (!dlg->m_SerialPort.IsOpen())
            throw std::runtime_error("connect failed: " + dlg->m_SerialPort.GetLastErrorText());
    }
    void Disconnect()
    {
        if (dlg->m_SerialPort.IsOpen())
            dlg->OnDisconnect();
    }

    Scratch scratch;
    Pty pty;
    ScriptedPrompts prompts;
    std::string logFile;
    std::unique_ptr<COrvaneDlg> dlg;
};

// Built in main after the application object and destroyed before it.
Rig* g_pRig = nullptr;

Rig& TheRig()
{
    return *g_pRig;
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

void BM_ReplayVsCat(benchmark::State& state)
{
    Rig& rig = TheRig();
    double replayTotal = 0;
    double catTotal = 0;
    double rawTotal = 0;
    // Each round runs cat, plain writes and the replay back to back; on a busy
    // machine the median of the per-round ratios is steadier than the totals'.
    std::vector<double> ratios;
    for (auto _ : state) {
        double catSeconds = 0;
        // The tool holds the port exclusively while connected: cat runs between connections.
        rig.Disconnect();
        {
            const std::string command = "cat '" + rig.logFile + "' > '" + rig.pty.SlavePath() + "'";
            Clock::time_point end;
            std::thread reader([&] { end = DrainFarEnd(rig.pty.Master(), kReplaySize); });
            const auto start = Clock::now();
            const int rc = std::system(command.c_str());
            reader.join();
            if (rc != 0)
                state.SkipWithError("cat failed");
            catSeconds = Seconds(end - start);
            catTotal += catSeconds;
        }
        {
            // The floor that 1024-byte writes alone set: plain blocking writes, no tool.
            const std::string& path = rig.pty.SlavePath();
            const Fd fd(open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
            Bytes data(kReplaySize);
            std::ifstream(rig.logFile, std::ios::binary)
                .read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
            Clock::time_point end;
            std::thread reader([&] { end = DrainFarEnd(rig.pty.Master(), kReplaySize); });
            const auto start = Clock::now();
            for (std::size_t off = 0; off < data.size(); off += 1024) {
                std::size_t done = 0;
                while (done < 1024) {
                    const ssize_t n =
                        sysio::RetryEintr([&] { return write(fd.Get(), data.data() + off + done, 1024 - done); });
                    if (n <= 0)
                        break;
                    done += static_cast<std::size_t>(n);
                }
            }
            reader.join();
            rawTotal += Seconds(end - start);
        }
        rig.Connect();
        {
            Clock::time_point end;
            std::thread reader([&] { end = DrainFarEnd(rig.pty.Master(), kReplaySize); });
            rig.prompts.answers.push_back(QString::fromStdString(rig.logFile));
            const auto start = Clock::now();
            rig.dlg->OnSend();
            reader.join();
            const double seconds = Seconds(end - start);
            replayTotal += seconds;
            ratios.push_back(catSeconds / seconds);
            state.SetIterationTime(seconds);
        }
    }
    const double n = static_cast<double>(state.iterations());
    const double mib = static_cast<double>(kReplaySize) / (1 << 20);
    state.counters["replay_MiBps"] = mib * n / replayTotal;
    state.counters["cat_MiBps"] = mib * n / catTotal;
    std::sort(ratios.begin(), ratios.end());
    state.counters["ratio"] = ratios[ratios.size() / 2];
    state.counters["ratio_min"] = ratios.front();
    state.counters["ratio_max"] = ratios.back();
    state.counters["raw1k_ratio"] = catTotal / rawTotal;
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kReplaySize));
}
BENCHMARK(BM_ReplayVsCat)->Iterations(9)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ReplyLatency(benchmark::State& state)
{
    Rig& rig = TheRig();
    rig.Connect();

    Bytes request(kHdlcScratchSize);
    request[0] = 0x00;   // version request
    CHdlcFramer framer;
    request.resize(static_cast<std::size_t>(framer.Frame(request.data(), 1)));
    Bytes reply(kHdlcScratchSize);
    const auto r00 = CannedReplyBytes(0x00);
    std::copy(r00.begin(), r00.end(), reply.begin());
    const auto replyLength = static_cast<std::size_t>(framer.Frame(reply.data(), static_cast<int>(r00.size())));

    for (auto _ : state) {
        std::vector<double> latencies;
        latencies.reserve(kRequests);
        QEventLoop loop;
        std::atomic<bool> failed{false};
        std::thread farEnd([&] {
            const int fd = rig.pty.Master();
            for (int i = 0; i < kRequests && !failed; ++i) {
                std::size_t done = 0;
                while (done < request.size()) {
                    const ssize_t n =
                        sysio::RetryEintr([&] { return write(fd, request.data() + done, request.size() - done); });
                    if (n > 0)
                        done += static_cast<std::size_t>(n);
                    else if (errno != EAGAIN)
                        failed = true;
                }
                const auto sent = Clock::now();
                try {
                    const auto last = DrainFarEnd(fd, replyLength);
                    latencies.push_back(std::chrono::duration<double, std::micro>(last - sent).count());
                } catch (const std::exception&) {
                    failed = true;
                }
            }
            QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        loop.exec();
        farEnd.join();
        if (failed || latencies.size() != kRequests) {
            state.SkipWithError("a reply did not arrive");
            break;
        }
        std::sort(latencies.begin(), latencies.end());
        state.counters["median_us"] = latencies[latencies.size() / 2];
        state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
        state.counters["max_us"] = latencies.back();
        double total = 0;
        for (double l : latencies)
            total += l;
        state.SetIterationTime(total / 1e6);
    }
}
BENCHMARK(BM_ReplyLatency)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

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
