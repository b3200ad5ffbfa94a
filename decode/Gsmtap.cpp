// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/Gsmtap.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "decode/DiagRecord.h"

namespace decode::gsmtap {

namespace {

void PutBe16(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void PutBe32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    PutBe16(out, value >> 16);
    PutBe16(out, value & 0xFFFF);
}

// A fixed-size text field: the bytes that fit, NUL-padded, the last byte always NUL.
void PutText(std::vector<std::uint8_t>& out, std::string_view text, std::size_t size)
{
    const std::size_t n = std::min(text.size(), size - 1);
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
    out.insert(out.end(), size - n, 0);
}

void PutHeader(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint16_t arfcn, std::uint32_t frame,
               std::uint8_t subType)
{
    const std::array<std::uint8_t, 4> start{2, kHeaderLength / 4, type, 0};
    out.insert(out.end(), start.begin(), start.end());
    PutBe16(out, arfcn);
    out.push_back(0);   // signal dBm
    out.push_back(0);   // SNR dB
    PutBe32(out, frame);
    const std::array<std::uint8_t, 4> end{subType, 0, 0, 0};
    out.insert(out.end(), end.begin(), end.end());
}

// A GSM dedicated channel's message as Wireshark reads it there: LAPDm
// address (SAPI 0), UI control and the length octet; a SACCH one after its
// two octets of layer 1 header.
constexpr std::size_t kLapdmLengthMax = 63;

}  // namespace

bool AppendSignalling(const SignallingMessage& message, std::vector<std::uint8_t>& out)
{
    if (message.gsmtapType == 0)
        return false;
    const bool lapdm = message.rat == SignallingRat::GsmRr
                       && (message.gsmtapSubType & ~kChannelAcch) == kChannelSdcch8;
    if (lapdm && message.pdu.size() > kLapdmLengthMax)
        return false;
    std::uint16_t arfcn = message.arfcn <= kArfcnMax ? static_cast<std::uint16_t>(message.arfcn) : 0;
    if (message.uplink)
        arfcn |= kArfcnUplink;
    PutHeader(out, message.gsmtapType, arfcn, message.frameNumber, message.gsmtapSubType);
    if (lapdm) {
        if (message.gsmtapSubType & kChannelAcch)
            out.insert(out.end(), {0x00, 0x00});
        out.insert(out.end(), {0x01, 0x03, static_cast<std::uint8_t>((message.pdu.size() << 2) | 0x01)});
    }
    out.insert(out.end(), message.pdu.begin(), message.pdu.end());
    return true;
}

std::uint16_t NrRrcV3SubType(std::uint8_t sub)
{
    return sub >= kNrRrcReconfiguration ? static_cast<std::uint16_t>(0x0201 + (sub - kNrRrcReconfiguration)) : sub;
}

bool AppendNrRrcV3(const SignallingMessage& message, std::uint64_t unixMicros, std::vector<std::uint8_t>& out)
{
    if (message.rat != SignallingRat::NrRrc)
        return false;
    out.insert(out.end(), {3, 0});
    PutBe16(out, kV3NrRrcHeaderLength / 4);
    PutBe16(out, kV3TypeNrRrc);
    PutBe16(out, NrRrcV3SubType(message.gsmtapSubType));
    PutBe16(out, kV3TagTimestamp);
    PutBe16(out, 12);
    const std::uint64_t seconds = unixMicros / 1000000;
    PutBe32(out, static_cast<std::uint32_t>(seconds >> 32));
    PutBe32(out, static_cast<std::uint32_t>(seconds));
    PutBe32(out, static_cast<std::uint32_t>(unixMicros % 1000000 * 1000));
    PutBe16(out, kV3TagChannelNumber);
    PutBe16(out, 4);
    PutBe32(out, message.arfcn);
    PutBe16(out, kV3TagCellId);
    PutBe16(out, 2);
    PutBe16(out, message.pci);
    PutBe16(out, kV3TagEnd);   // 40 bytes: a whole number of words, no padding
    out.insert(out.end(), message.pdu.begin(), message.pdu.end());
    return true;
}

void AppendLogLine(const LogLine& line, std::vector<std::uint8_t>& out)
{
    PutHeader(out, kTypeOsmocoreLog, 0, 0, 0);
    PutBe32(out, static_cast<std::uint32_t>(line.unixMicros / 1000000));
    PutBe32(out, static_cast<std::uint32_t>(line.unixMicros % 1000000));
    PutText(out, "modem", 16);
    PutBe32(out, 0);   // pid
    out.insert(out.end(), {line.level, 0, 0, 0});
    std::array<char, 16> subsystem{};
    const int n = std::snprintf(subsystem.data(), subsystem.size(), "ssid %u", static_cast<unsigned>(line.ssid));
    PutText(out, std::string_view(subsystem.data(), static_cast<std::size_t>(std::max(n, 0))), 16);
    PutText(out, line.file, 32);
    PutBe32(out, line.line);
    out.insert(out.end(), line.text.begin(), line.text.end());
}

std::uint64_t DiagTimeToUnixMicros(std::uint64_t diagTimestamp)
{
    // 1250 µs a tick; the fraction in 1/65536 of a tick.
    const std::uint64_t ticks = diagTimestamp >> 16;
    const std::uint64_t fraction = diagTimestamp & 0xFFFF;
    return kGpsEpochUnixSeconds * 1000000 + ticks * 1250 + fraction * 1250 / 65536;
}

}  // namespace decode::gsmtap
