// SPDX-License-Identifier: GPL-2.0-or-later
// Throughput of the DM framer and the text codecs on the sizes the tool uses:
// the largest packet that still frames whole, one 8192-byte received chunk,
// and a HEX command line that fills the 2048-byte outgoing buffer.
#include "dm/HdlcFramer.h"
#include "dm/TextCodec.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kPacket = 1021;   // frames to exactly 1024 bytes when nothing is escaped

void FramePackets(benchmark::State& state, const std::vector<unsigned char>& packet)
{
    std::array<unsigned char, 2048> buf{};
    CHdlcFramer framer;
    for (auto _ : state) {
        std::memcpy(buf.data(), packet.data(), packet.size());
        benchmark::DoNotOptimize(framer.Frame(buf.data(), static_cast<int>(packet.size())));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(packet.size()));
}

void BM_FrameRandom(benchmark::State& state)
{
    std::mt19937 rng(1);
    std::vector<unsigned char> packet(kPacket);
    for (auto& b : packet)
        b = static_cast<unsigned char>(rng());
    FramePackets(state, packet);
}
BENCHMARK(BM_FrameRandom);

// Every byte escaped: the frame is cut at the room's end after 512 data bytes.
void BM_FrameAllFlags(benchmark::State& state)
{
    FramePackets(state, std::vector<unsigned char>(kPacket, 0x7E));
}
BENCHMARK(BM_FrameAllFlags);

void BM_BytesToHexText(benchmark::State& state)
{
    constexpr int kChunk = 8192;
    std::mt19937 rng(2);
    std::vector<unsigned char> chunk(kChunk);
    for (auto& b : chunk)
        b = static_cast<unsigned char>(rng());
    std::vector<char> text(3 * kChunk + 1);
    for (auto _ : state) {
        BytesToHexText(chunk.data(), text.data(), kChunk);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kChunk);
}
BENCHMARK(BM_BytesToHexText);

void BM_HexTokensToBytes(benchmark::State& state)
{
    constexpr int kTokens = 2048;
    std::mt19937 rng(3);
    std::string line;
    for (int i = 0; i < kTokens; ++i) {
        char token[4];
        std::snprintf(token, sizeof token, "%02X ", static_cast<unsigned>(rng() & 0xFF));
        line += token;
    }
    std::vector<char> text(line.size() + 1);
    std::array<unsigned char, 2048> out{};
    for (auto _ : state) {
        std::memcpy(text.data(), line.c_str(), line.size() + 1);   // tokenizing writes into the text
        benchmark::DoNotOptimize(HexTokensToBytes(text.data(), out.data(), out.size(), " \r\n\t"));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
}
BENCHMARK(BM_HexTokensToBytes);

void BM_ParseNumberToken(benchmark::State& state)
{
    const char* const tokens[] = {"0x157F", "03246", "10374", "0x1FFF", "65535", "0xB0C0"};
    std::int64_t bytes = 0;
    for (const char* t : tokens)
        bytes += static_cast<std::int64_t>(std::strlen(t));
    unsigned short value = 0;
    for (auto _ : state) {
        for (const char* t : tokens)
            benchmark::DoNotOptimize(ParseNumberToken(t, &value));
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_ParseNumberToken);

} // namespace

BENCHMARK_MAIN();
