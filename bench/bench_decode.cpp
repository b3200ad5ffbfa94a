// SPDX-License-Identifier: GPL-2.0-or-later
// Throughput of the decoder on framed records, as orvane-log --decode and
// the window's decoded view run it: 32 MiB of HDLC frames (mostly log
// records the size of real LTE RRC and NAS ones, with extended messages and
// event reports among them) fed to CRecordStream in 8192-byte chunks, with
// the name table in use and without it. The figure is bytes of the framed
// stream per second; the target is 200 MB/s in Release on one core, and
// within 10% of that with names.
#include "decode/DiagDecoder.h"
#include "dm/HdlcFramer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <span>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kStreamSize = std::size_t{32} << 20;
constexpr std::size_t kChunk = 8192;

void Le(Bytes& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes LogRecord(std::uint16_t code, std::uint64_t stamp, std::size_t payload, std::mt19937& rng)
{
    Bytes p{0x10, 0};
    Le(p, 12 + payload, 2);
    Le(p, 12 + payload, 2);
    Le(p, code, 2);
    Le(p, stamp, 8);
    for (std::size_t i = 0; i < payload; ++i)
        p.push_back(static_cast<std::uint8_t>(rng()));
    return p;
}

Bytes Message(std::uint64_t stamp, std::uint32_t n)
{
    static constexpr std::string_view kFormat = "RRC: serving cell EARFCN %u PCI %u RSRP %d dBm";
    static constexpr std::string_view kFile = "lte_rrc_csp.c";
    Bytes p{0x79, 0, 3, 0};
    Le(p, stamp, 8);
    Le(p, 1582, 2);
    Le(p, 9501, 2);
    Le(p, 0x02, 4);
    Le(p, 1300, 4);
    Le(p, n % 504, 4);
    Le(p, static_cast<std::uint32_t>(-95), 4);
    p.insert(p.end(), kFormat.begin(), kFormat.end());
    p.push_back(0);
    p.insert(p.end(), kFile.begin(), kFile.end());
    p.push_back(0);
    return p;
}

Bytes Event(std::uint64_t stamp, std::uint32_t n)
{
    Bytes p{0x60, 11, 0};
    Le(p, 1606 | (1u << 13), 2);
    Le(p, stamp, 8);
    p.push_back(static_cast<std::uint8_t>(n & 3));
    return p;
}

// Eight records in ten are log records (RRC OTA of 60 bytes, NAS of 30,
// a WCDMA one of 120), one an extended message, one an event report.
const Bytes& FramedStream()
{
    static const Bytes stream = [] {
        std::mt19937 rng(7);
        Bytes s;
        s.reserve(kStreamSize + 4096);
        for (std::uint32_t n = 0; s.size() < kStreamSize; ++n) {
            const std::uint64_t stamp = static_cast<std::uint64_t>(n) << 16;
            Bytes packet;
            switch (n % 10) {
            case 8: packet = Message(stamp, n); break;
            case 9: packet = Event(stamp, n); break;
            case 3: case 6: packet = LogRecord(0xB0ED, stamp, 30, rng); break;
            case 4: packet = LogRecord(0x412F, stamp, 120, rng); break;
            default: packet = LogRecord(0xB0C0, stamp, 60, rng); break;
            }
            const Bytes frame = HdlcFramePacket(packet);
            s.insert(s.end(), frame.begin(), frame.end());
        }
        return s;
    }();
    return stream;
}

// As orvane-log --decode and --read take the records: each frame's records
// handed over and dropped, their storage reused for the next frame.
void Decode(benchmark::State& state, bool names)
{
    const Bytes& stream = FramedStream();
    std::uint64_t records = 0;
    for (auto _ : state) {
        decode::CRecordStream decoder;
        decoder.Decoder().SetNames(names);
        std::size_t chars = 0;
        const auto take = [&chars](std::span<const std::uint8_t>, std::span<const decode::DecodedRecord> got) {
            for (const decode::DecodedRecord& r : got)
                chars += r.name.size() + r.text.size();
        };
        for (std::size_t at = 0; at < stream.size(); at += kChunk)
            decoder.Push(std::span(stream).subspan(at, std::min(kChunk, stream.size() - at)), take);
        benchmark::DoNotOptimize(chars);
        records = decoder.Records();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.counters["records"] = static_cast<double>(records);
}

void BM_DecodeFramedRecords(benchmark::State& state) { Decode(state, false); }
void BM_DecodeFramedRecordsWithNames(benchmark::State& state) { Decode(state, true); }

// As the window's view takes them: every record kept (a vector per chunk,
// moved on), so each record's strings are its own.
void BM_DecodeFramedRecordsKept(benchmark::State& state)
{
    const Bytes& stream = FramedStream();
    for (auto _ : state) {
        decode::CRecordStream decoder;
        for (std::size_t at = 0; at < stream.size(); at += kChunk) {
            std::vector<decode::DecodedRecord> batch;
            decoder.Push(std::span(stream).subspan(at, std::min(kChunk, stream.size() - at)), batch);
            benchmark::DoNotOptimize(batch.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}

// The decoder alone on the packets, without the deframer.
void BM_DecodePackets(benchmark::State& state)
{
    std::mt19937 rng(7);
    std::vector<Bytes> packets;
    std::size_t bytes = 0;
    for (std::uint32_t n = 0; n < 10000; ++n) {
        packets.push_back(n % 10 == 8 ? Message(n, n) : n % 10 == 9 ? Event(n, n) : LogRecord(0xB0C0, n, 60, rng));
        bytes += packets.back().size();
    }
    decode::CDiagDecoder decoder;
    std::vector<decode::DecodedRecord> out;
    for (auto _ : state) {
        for (const Bytes& p : packets) {
            out.clear();
            decoder.Decode(p, out);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

BENCHMARK(BM_DecodeFramedRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeFramedRecordsWithNames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeFramedRecordsKept)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePackets)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
