// SPDX-License-Identifier: GPL-2.0-or-later
// Throughput of the capture figures (CCaptureStats::Feed), which run on the
// capture's path once per received chunk: 64 MiB in 8192-byte chunks of
// random bytes and of framed log packets. The reading the figures used to
// take (a deframer that keeps every frame, then the log codes from its
// items) is kept here as the reference they are measured against. (With the
// deframer as it was, byte by byte, that reference read 188-194 MiB/s.)
#include "dm/HdlcDeframer.h"
#include "dm/HdlcFramer.h"
#include "logclient/CaptureStats.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <span>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kStreamSize = std::size_t{64} << 20;
constexpr std::size_t kChunk = 8192;

// The figures as they were counted before: every frame copied out of the
// stream into an item by a deframer, the log code read from the items.
class CDeframedStats {
public:
    void Feed(std::span<const std::uint8_t> bytes)
    {
        m_items.clear();
        m_deframer.Push(bytes, m_items);
        for (const HdlcItem& item : m_items) {
            if (item.kind != HdlcItem::Kind::Frame || item.data.size() < CCaptureStats::kLogCodeOffset + 2
                || item.data[0] != CCaptureStats::kLogPacket)
                continue;
            const auto code = static_cast<std::uint16_t>(item.data[CCaptureStats::kLogCodeOffset]
                                                         | (item.data[CCaptureStats::kLogCodeOffset + 1] << 8));
            ++m_codes[code];
        }
    }
    std::uint64_t Frames() const { return m_deframer.GoodFrames() + m_deframer.BadFrames(); }

private:
    CHdlcDeframer m_deframer;
    std::vector<HdlcItem> m_items;
    std::map<std::uint16_t, std::uint64_t> m_codes;
};

const Bytes& RandomStream()
{
    static const Bytes stream = [] {
        std::mt19937 rng(1);
        Bytes s(kStreamSize);
        for (auto& b : s)
            b = static_cast<std::uint8_t>(rng());
        return s;
    }();
    return stream;
}

// Log packets of 40 codes, 16 to 300 bytes long, random bodies (so 0x7E and
// 0x7D get escaped now and then), framed back to back as a modem sends them.
const Bytes& LogStream()
{
    static const Bytes stream = [] {
        std::mt19937 rng(2);
        Bytes s;
        s.reserve(kStreamSize + 1024);
        std::array<std::uint16_t, 40> codes{};
        for (auto& c : codes)
            c = static_cast<std::uint16_t>(0xB000 + rng() % 0x1000);
        Bytes packet;
        while (s.size() < kStreamSize) {
            packet.resize(16 + rng() % 285);
            for (auto& b : packet)
                b = static_cast<std::uint8_t>(rng());
            const std::uint16_t code = codes[rng() % codes.size()];
            const auto length = static_cast<std::uint16_t>(packet.size() - 4);
            const std::array<std::uint8_t, 8> header = {CCaptureStats::kLogPacket, 0x00,
                                                        static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                                                        static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                                                        static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8)};
            std::copy(header.begin(), header.end(), packet.begin());
            const Bytes frame = HdlcFramePacket(packet);
            s.insert(s.end(), frame.begin(), frame.end());
        }
        s.resize(kStreamSize);
        return s;
    }();
    return stream;
}

void DeframedFeed(benchmark::State& state, const Bytes& stream)
{
    std::uint64_t frames = 0;
    for (auto _ : state) {
        CDeframedStats stats;
        for (std::size_t at = 0; at < stream.size(); at += kChunk)
            stats.Feed(std::span(stream).subspan(at, std::min(kChunk, stream.size() - at)));
        frames = stats.Frames();
        benchmark::DoNotOptimize(frames);
    }
    state.counters["frames"] = static_cast<double>(frames);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
}

void CountedFeed(benchmark::State& state, const Bytes& stream)
{
    std::uint64_t frames = 0;
    const CCaptureStats::Clock::time_point now{};
    for (auto _ : state) {
        CCaptureStats stats;
        for (std::size_t at = 0; at < stream.size(); at += kChunk)
            stats.Feed(std::span(stream).subspan(at, std::min(kChunk, stream.size() - at)), now);
        frames = stats.Frames();
        benchmark::DoNotOptimize(frames);
    }
    state.counters["frames"] = static_cast<double>(frames);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
}

// Before: the deframer's items, read as the figures used to be; then the
// counter the figures use now.
void BM_StatsRandomDeframer(benchmark::State& state) { DeframedFeed(state, RandomStream()); }
void BM_StatsRandom(benchmark::State& state) { CountedFeed(state, RandomStream()); }
void BM_StatsLogPacketsDeframer(benchmark::State& state) { DeframedFeed(state, LogStream()); }
void BM_StatsLogPackets(benchmark::State& state) { CountedFeed(state, LogStream()); }

BENCHMARK(BM_StatsRandomDeframer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatsRandom)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatsLogPacketsDeframer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatsLogPackets)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
