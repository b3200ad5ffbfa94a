// SPDX-License-Identifier: GPL-2.0-or-later
// GSMTAP conversion speed: a capture of framed LTE RRC and NAS log records
// (64 MiB, the mix of channels and sizes a cell search and attach give) to a
// pcap file, and the converter alone on the same bytes in memory. The
// figure to hold: at least 100 MB/s in Release on one core.
//
// ORVANE_BENCH_GSMTAP_KEEP=FILE keeps a copy of the capture, to time another
// tool on the same bytes.
#include "decode/GsmtapConverter.h"
#include "decode/PcapWriter.h"
#include "dm/HdlcFramer.h"
#include "SignallingFlood.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

constexpr std::size_t kCaptureSize = std::size_t{64} << 20;

const Bytes& Capture()
{
    static const Bytes capture = benchrig::SignallingFlood(kCaptureSize);
    return capture;
}

// The capture as a file for the file-to-file figure; removed at exit.
struct TempCapture {
    std::string path;
    ~TempCapture()
    {
        if (!path.empty())
            std::filesystem::remove(path);
    }
};

std::string CapturePath()
{
    static const TempCapture file{[] {
        const std::string p = (std::filesystem::temp_directory_path() / "orvane-bench-gsmtap.bin").string();
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(Capture().data()), static_cast<std::streamsize>(Capture().size()));
        if (const char* keep = std::getenv("ORVANE_BENCH_GSMTAP_KEEP"))
            std::filesystem::copy_file(p, keep, std::filesystem::copy_options::overwrite_existing);
        return p;
    }()};
    return file.path;
}

void BM_ConvertCaptureToPcap(benchmark::State& state)
{
    const std::string in = CapturePath();
    const std::string out = (std::filesystem::temp_directory_path() / "orvane-bench-gsmtap.pcap").string();
    std::uint64_t sent = 0;
    for (auto _ : state) {
        const decode::PcapConversion result = decode::ConvertCaptureToPcap(in, out);
        if (!result.ok || result.counts.skippedRecords != 0)
            state.SkipWithError(result.error.empty() ? "records skipped" : result.error.c_str());
        sent = result.counts.sent;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Capture().size()));
    state.counters["messages"] = static_cast<double>(sent);
    std::filesystem::remove(out);
}
BENCHMARK(BM_ConvertCaptureToPcap)->Unit(benchmark::kMillisecond)->UseRealTime();

// The converter and the pcap records in memory, 8192-byte chunks as a port gives them.
void BM_ConverterFeed(benchmark::State& state)
{
    const Bytes& capture = Capture();
    Bytes records;
    records.reserve(capture.size() * 2);
    for (auto _ : state) {
        records.clear();
        decode::CGsmtapConverter converter([&](std::span<const std::uint8_t> message, std::uint64_t timestamp) {
            decode::CPcapWriter::AppendRecord(records, message, timestamp);
        });
        for (std::size_t at = 0; at < capture.size(); at += 8192)
            converter.Feed(std::span(capture).subspan(at, std::min<std::size_t>(8192, capture.size() - at)));
        benchmark::DoNotOptimize(records.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * capture.size()));
}
BENCHMARK(BM_ConverterFeed)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
