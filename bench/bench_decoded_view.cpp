// SPDX-License-Identifier: GPL-2.0-or-later
// The decoded view under a flood: the cost of one batch (the model's insertion
// and the table's layout, at most 30 a second), the view's resident memory at
// its cap of 100,000 rows, a new filter over 100,000 rows, and saving them.
//
//   bench_decoded_view --benchmark_min_time=0.5s
#include "BenchRig.h"
#include "WindowBenchMain.h"
#include "ui/DecodedView.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <memory>

namespace {

using decode::DecodedRecord;
using decode::RecordKind;

constexpr int kRows = 100000;
constexpr int kBatchesPerSecond = 30;
constexpr int kBatch = kRows / kBatchesPerSecond + 1;   // 100,000 records a second

// Records shaped like a busy modem's: mostly debug messages with a source
// position and a formatted text, log records with a summary, some events.
DecodedRecord Sample(int n)
{
    DecodedRecord record;
    record.timestamp = (static_cast<std::uint64_t>(n) * 8) << 16;
    switch (n % 4) {
    case 0:
    case 1:
        record.kind = RecordKind::Message;
        record.code = 5000 + n % 30;
        record.name = "lte_rrc_csp.c:" + std::to_string(1000 + n % 500);
        record.text = "RRC state change from CONNECTING to CONNECTED, cell id " + std::to_string(n % 504) +
                      ", earfcn 1300, rsrp -" + std::to_string(80 + n % 40) + " dBm";
        break;
    case 2:
        record.kind = RecordKind::Log;
        record.code = 0xB0C0;
        record.name = "LTE RRC OTA Packet";
        record.text = "DL-DCCH RRCConnectionReconfiguration, pci " + std::to_string(n % 504);
        break;
    default:
        record.kind = RecordKind::Event;
        record.code = 1605;
        record.name = "EVENT_LTE_RRC_STATE_CHANGE";
        record.text = "02 01";
        break;
    }
    return record;
}

std::vector<DecodedRecord> Batch(int first, int count)
{
    std::vector<DecodedRecord> records;
    records.reserve(static_cast<std::size_t>(count));
    for (int n = first; n < first + count; ++n)
        records.push_back(Sample(n));
    return records;
}

struct ShownView {
    benchrig::QuietPrompts prompts;
    CDecodedView view{prompts};
    ShownView()
    {
        view.resize(1000, 500);
        view.show();
        QCoreApplication::processEvents();
    }
    // Feeds count records in batches, each flushed and laid out.
    void Fill(int count)
    {
        for (int first = 0; first < count; first += kBatch) {
            view.Append(Batch(first, std::min(kBatch, count - first)));
            view.Model().Flush();
            QCoreApplication::processEvents();
        }
    }
};

// Resident memory of 100,000 rows in a shown view, beside an empty window of
// the same size. Runs first, before other benchmarks leave freed heap behind.
void BM_ResidentAtCap(benchmark::State& state)
{
    for (auto _ : state) {
        QWidget window;
        window.resize(1000, 500);
        window.show();
        QCoreApplication::processEvents();
        const double before = benchrig::ResidentMiB();
        auto shown = std::make_unique<ShownView>();
        shown->Fill(kRows);
        const double after = benchrig::ResidentMiB();
        state.counters["rows"] = static_cast<double>(shown->view.Model().rowCount());
        state.counters["rss_delta_MiB"] = after - before;
        state.counters["bytes_per_row"] = (after - before) * 1024 * 1024 / kRows;
    }
}
BENCHMARK(BM_ResidentAtCap)->Iterations(1)->Unit(benchmark::kMillisecond);

// One batch (a thirtieth of 100,000 records a second): queued, flushed and
// laid out, on a view already at its cap, so each batch also drops the
// oldest rows and follows the newest.
void BM_BatchAtCap(benchmark::State& state)
{
    ShownView shown;
    shown.Fill(kRows);
    int next = kRows;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<DecodedRecord> batch = Batch(next, kBatch);
        next += kBatch;
        state.ResumeTiming();
        shown.view.Append(std::move(batch));
        shown.view.Model().Flush();
        QCoreApplication::processEvents();
    }
    state.counters["records_per_batch"] = kBatch;
    state.counters["rows"] = static_cast<double>(shown.view.Model().rowCount());
}
BENCHMARK(BM_BatchAtCap)->Unit(benchmark::kMillisecond)->MinTime(0.5);

// 100,000 records from empty in 30 batches: the mean (CPU) time of one batch.
void BM_FillInBatches(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto shown = std::make_unique<ShownView>();
        state.ResumeTiming();
        shown->Fill(kRows);
        state.PauseTiming();
        shown.reset();
        state.ResumeTiming();
    }
    constexpr int kBatches = (kRows + kBatch - 1) / kBatch;
    state.counters["batch_ms"] = benchmark::Counter(kBatches,
                                                    benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FillInBatches)->Unit(benchmark::kMillisecond)->MinTime(0.5);

// A new filter over 100,000 rows: the index rebuilt and the table reset.
void BM_Filter(benchmark::State& state)
{
    ShownView shown;
    shown.Fill(kRows);
    const unsigned all = CDecodedRecordModel::kAllKinds;
    const unsigned messages = CDecodedRecordModel::KindBit(RecordKind::Message);
    const bool byText = state.range(0) == 1;
    bool flip = false;
    for (auto _ : state) {
        if (byText)
            shown.view.Model().SetFilter(flip ? QStringLiteral("RSRP -9") : QStringLiteral("pci 42"), all);
        else
            shown.view.Model().SetFilter(QString(), flip ? all : messages);
        QCoreApplication::processEvents();
        flip = !flip;
    }
    state.counters["rows_held"] = static_cast<double>(shown.view.Model().HeldRows());
    state.SetLabel(byText ? "text" : "kinds");
}
BENCHMARK(BM_Filter)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(0.5);

// "Save Decoded Text..." of 100,000 shown rows.
void BM_SaveShownRows(benchmark::State& state)
{
    ShownView shown;
    shown.Fill(kRows);
    const auto path = std::filesystem::temp_directory_path() / ("orvane-bench-decoded-" + std::to_string(::getpid()) + ".txt");
    const QString file = QString::fromStdString(path.string());
    for (auto _ : state) {
        QString error;
        if (!shown.view.SaveShownRows(file, &error))
            state.SkipWithError(error.toStdString().c_str());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(std::filesystem::file_size(path)));
    std::filesystem::remove(path);
}
BENCHMARK(BM_SaveShownRows)->Unit(benchmark::kMillisecond)->MinTime(0.5);

}  // namespace

int main(int argc, char** argv)
{
    return RunWindowBenchmarks(argc, argv);
}
