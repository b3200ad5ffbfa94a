// SPDX-License-Identifier: GPL-2.0-or-later
// The GSMTAP converter on arbitrary bytes. Byte 0 picks the mode:
//  - even: the rest is a modem's byte stream, fed whole and again in chunks
//    of (byte 1) bytes: the same messages and counts come out, and every log
//    record is sent, held or counted as skipped;
//  - odd: byte 1 picks a signalling log code and the rest is a record's
//    payload: reading it never leaves the payload, a message it gives has a
//    whole GSMTAP header, and its summary is made.
// Bit 1 of byte 0 has NR RRC go out as GSMTAP version 3.
#include "FuzzCheck.h"
#include "decode/Gsmtap.h"
#include "decode/GsmtapConverter.h"
#include "decode/Signalling.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace {

constexpr std::array<std::uint16_t, 14> kCodes = {0xB0C0, 0xB0E0, 0xB0E1, 0xB0E2, 0xB0E3, 0xB0EA, 0xB0EB,
                                                  0xB0EC, 0xB0ED, 0xB821, 0x412F, 0x512F, 0x713A, 0x1234};

struct Output {
    std::vector<std::vector<std::uint8_t>> messages;
    decode::CGsmtapConverter converter{[this](std::span<const std::uint8_t> m, std::uint64_t) {
        if (m.size() >= 1 && m[0] == 3)
            FUZZ_CHECK(m.size() >= decode::gsmtap::kV3NrRrcHeaderLength && m[3] * 4u == decode::gsmtap::kV3NrRrcHeaderLength);
        else
            FUZZ_CHECK(m.size() >= decode::gsmtap::kHeaderLength && m[0] == 2 && m[1] == 4);
        messages.emplace_back(m.begin(), m.end());
    }};
    explicit Output(bool nrRrcV3)
    {
        converter.SetNrRrcAsGsmtapV3(nrRrcV3);
        converter.SetMessageFormatter([](std::span<const std::uint8_t> packet) {
            return std::optional<decode::FormattedMessage>(
                decode::FormattedMessage{"text", "file.c", 1, 2, packet.size()});
        });
    }
};

void CheckNoneLost(const decode::GsmtapCounts& c)
{
    FUZZ_CHECK(c.logRecords == c.sent - c.debugMessages + c.held + c.skippedRecords);
    std::uint64_t byCode = 0;
    for (const auto& [code, n] : c.skippedByCode)
        byCode += n;
    FUZZ_CHECK(byCode == c.skippedRecords);
}

void Stream(std::span<const std::uint8_t> bytes, std::size_t chunk, bool nrRrcV3)
{
    Output whole(nrRrcV3), parts(nrRrcV3);
    whole.converter.Feed(bytes);
    whole.converter.Finish();
    for (std::size_t at = 0; at < bytes.size(); at += chunk)
        parts.converter.Feed(bytes.subspan(at, std::min(chunk, bytes.size() - at)));
    parts.converter.Finish();
    FUZZ_CHECK(whole.messages == parts.messages);
    FUZZ_CHECK(whole.converter.Counts().skippedByCode == parts.converter.Counts().skippedByCode);
    CheckNoneLost(whole.converter.Counts());
}

void Record(std::uint16_t code, std::span<const std::uint8_t> payload, bool nrRrcV3)
{
    const decode::LogRecordView view{code, 0, payload};
    decode::SignallingMessage message;
    if (decode::ReadSignalling(view, message) == decode::SignallingResult::Ok) {
        FUZZ_CHECK(message.pdu.empty()
                   || (message.pdu.data() >= payload.data()
                       && message.pdu.data() + message.pdu.size() <= payload.data() + payload.size()));
        std::vector<std::uint8_t> out;
        if (decode::gsmtap::AppendSignalling(message, out))
            FUZZ_CHECK(out.size() >= decode::gsmtap::kHeaderLength + message.pdu.size());
        else
            FUZZ_CHECK(out.empty());
        out.clear();
        if (decode::gsmtap::AppendNrRrcV3(message, 0, out))
            FUZZ_CHECK(out.size() == decode::gsmtap::kV3NrRrcHeaderLength + message.pdu.size());
        else
            FUZZ_CHECK(out.empty() && message.rat != decode::SignallingRat::NrRrc);
    }
    (void)decode::SummarizeSignalling(view);

    // The same payload as a framed log record through the converter.
    std::vector<std::uint8_t> packet{0x10, 0x00, 0, 0, 0, 0, static_cast<std::uint8_t>(code),
                                     static_cast<std::uint8_t>(code >> 8), 0, 0, 0, 0, 0, 0, 0, 0};
    const std::size_t length = std::min<std::size_t>(payload.size(), 0xFFFF - 12);
    packet[4] = static_cast<std::uint8_t>((length + 12) & 0xFF);
    packet[5] = static_cast<std::uint8_t>((length + 12) >> 8);
    packet.insert(packet.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(length));
    Output out(nrRrcV3);
    out.converter.OnPacket(packet);
    out.converter.Finish();
    FUZZ_CHECK(out.converter.Counts().logRecords == 1);
    CheckNoneLost(out.converter.Counts());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::span<const std::uint8_t> rest(data + 2, size - 2);
    const bool nrRrcV3 = (data[0] & 2) != 0;
    if (data[0] % 2 == 0)
        Stream(rest, std::size_t{data[1]} + 1, nrRrcV3);
    else
        Record(kCodes[data[1] % kCodes.size()], rest, nrRrcV3);
    return 0;
}
