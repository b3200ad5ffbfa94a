// SPDX-License-Identifier: GPL-2.0-or-later
#include "logserver/CannedReplies.h"

#include <algorithm>
#include <array>

namespace {

// Version information: compile date and time, release date and time, a model
// tag and the hardware/firmware ids of the emulated modem.
constexpr std::array<std::uint8_t, 55> kR00 = {
    dm::kVersionInfo,                                            // command
    '2', '0', '0', '8', '-', '1', '0', '-', '2', '7', 0x00,      // compile date, NUL-terminated
    '1', '2', ':', '0', '0', ':', '0', '0',                      // compile time
    'O', 'c', 't', ' ', '2', '7', ' ', '2', '0', '0', '8',       // release date
    '1', '2', ':', '0', '0', ':', '0', '0',                      // release time
    0x53, 0x4B, 0x54, 0x4D, 0x00, 0x20, 0x20, 0x20,              // model tag
    0x00, 0x00, 0xD1, 0x00, 0x00, 0x00, 0x00, 0xC0,              // ids
};

constexpr std::array<std::uint8_t, 3> kR1C = {dm::kDiagVersion, 0x08, 0x00};

constexpr std::array<std::uint8_t, 9> kR1D = {dm::kTimestamp, 0x3B, 0x8D, 0x10, 0xEE, 0x8F, 0x7B, 0x75, 0x00};

constexpr std::array<std::uint8_t, 5> kR4B = {dm::kSubsystem, dm::kSubsystemId, dm::kSubsystemCommand, 0x00, 0x01};

// Command byte, then a 16-bit little-endian count of the bytes that follow.
constexpr std::array<std::uint8_t, 78> kR51 = {
    dm::kFeatureQuery, 0x4B, 0x00,
    0x00, 0x0A, 0x00, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0x00, 0x12, 0x48, 0x00, 0x20, 0x00,
    0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x41, 0x00, 0x01, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x20, 0x00, 0x0A, 0x00, 0x31, 0x00, 0x00, 0x00, 0x80, 0x31, 0x40, 0x40,
    0x88, 0xA8, 0x39, 0xC8, 0x00, 0x00, 0x00, 0x80, 0x01, 0x84, 0x60, 0xE2, 0x00, 0x5D, 0xA4,
    0x79, 0xFF, 0x18, 0x2A, 0x03, 0xC0, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10,
};
static_assert(kR51[1] + (kR51[2] << 8) == kR51.size() - 3, "R51 carries the count of its own tail");

// Command byte, 02, 00 00, 0x200C00E1 and 0x000000D1 little-endian, then the text "0".
constexpr std::array<std::uint8_t, 13> kR7C = {
    dm::kExtBuildId, 0x02, 0x00, 0x00, 0xE1, 0x00, 0x0C, 0x20, 0xD1, 0x00, 0x00, 0x00, 0x30,
};

constexpr std::array<CannedReply, 6> kTable = {{
    {"R00", dm::kVersionInfo, kR00},
    {"R1C", dm::kDiagVersion, kR1C},
    {"R1D", dm::kTimestamp, kR1D},
    {"R4B", dm::kSubsystem, kR4B},
    {"R51", dm::kFeatureQuery, kR51},
    {"R7C", dm::kExtBuildId, kR7C},
}};

using dm::kRefusedCommands;

// The log-mask subcommand whose answer the emulator knows.
constexpr std::array<std::uint8_t, 3> kR4BRequest = {dm::kSubsystem, dm::kSubsystemId, dm::kSubsystemCommand};

constexpr std::uint8_t kEchoCommand = dm::kNvRead;
constexpr unsigned kEchoTrailer = 131;   // where the echo's 16-bit value 5 goes

// Bytes that close a raw frame: two FCS bytes and the flag.
constexpr unsigned kFrameOverhead = 3;

unsigned CopyOut(std::span<const std::uint8_t> bytes, unsigned char* reply)
{
    std::copy(bytes.begin(), bytes.end(), reply);
    return static_cast<unsigned>(bytes.size());
}

}  // namespace

std::span<const CannedReply> CannedReplyTable()
{
    return kTable;
}

std::span<const std::uint8_t> CannedReplyBytes(std::uint8_t command)
{
    for (const CannedReply& r : kTable)
        if (r.command == command)
            return r.bytes;
    return {};
}

unsigned GetCannedReply(const unsigned char* request, unsigned length, unsigned char* reply)
{
    if (request == nullptr || reply == nullptr || length < kFrameOverhead + 1)
        return 0;
    const unsigned payload = length - kFrameOverhead;
    const std::uint8_t command = request[0];

    const bool isR4B = std::equal(kR4BRequest.begin(), kR4BRequest.end(), request);
    const bool refused = std::find(kRefusedCommands.begin(), kRefusedCommands.end(), command) != kRefusedCommands.end()
        || (command == dm::kSubsystem && !isR4B);

    if (refused) {
        // 0x13 and the request as received, escapes and all, at most 16 bytes of it.
        const unsigned n = std::min(payload + 1, kMaxBadCommandReply);
        reply[0] = kBadCommandCode;
        std::copy(request, request + (n - 1), reply + 1);
        return n;
    }

    if (command == kEchoCommand) {
        // Only the received bytes are echoed; the rest of the reply is zeros,
        // never whatever the caller's buffers held before.
        const unsigned copied = std::min(length, kMaxCannedReply);
        std::copy(request, request + copied, reply);
        std::fill(reply + copied, reply + kMaxCannedReply, 0);
        reply[kEchoTrailer] = 0x05;
        reply[kEchoTrailer + 1] = 0x00;
        return kMaxCannedReply;
    }

    const std::span<const std::uint8_t> canned = CannedReplyBytes(command);
    if (!canned.empty())
        return CopyOut(canned, reply);
    return 0;   // unknown codes, "AT$QCDMG" and every other 0x41 chunk
}

std::vector<std::uint8_t> CannedReplyFor(std::span<const std::uint8_t> request)
{
    std::array<unsigned char, kMaxCannedReply> buffer{};
    // Any length past 32 bits gets the same reply as the longest 32-bit one.
    const auto length = static_cast<unsigned>(std::min<std::size_t>(request.size(), 0xFFFFFFFFu));
    const unsigned n = GetCannedReply(request.data(), length, buffer.data());
    return {buffer.begin(), buffer.begin() + n};
}
