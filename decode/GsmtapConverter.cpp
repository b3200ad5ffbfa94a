// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/GsmtapConverter.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fcntl.h>

#include "decode/ByteReader.h"
#include "decode/DiagDecoder.h"
#include "decode/PcapWriter.h"
#include "dm/DmCommand.h"
#include "sys/RegularFile.h"

namespace decode {

namespace {

constexpr std::uint8_t kMultiSim = 0x98;
constexpr std::size_t kMultiSimHeader = 8;   // cmd, reserved(1), reserved(2), radio id(4)
constexpr std::uint8_t kLastSegment = 7;

}  // namespace

CGsmtapConverter::CGsmtapConverter(Sink sink) : m_sink(std::move(sink)) {}

void CGsmtapConverter::Feed(std::span<const std::uint8_t> bytes)
{
    m_items.clear();
    m_deframer.Push(bytes, m_items);
    for (const HdlcItem& item : m_items) {
        if (item.kind == HdlcItem::Kind::Frame)
            OnPacket(item.data);
        else
            ++m_counts.badFrames;
    }
    m_items.clear();
}

void CGsmtapConverter::OnPacket(std::span<const std::uint8_t> packet)
{
    // A multi-SIM wrapper holds one inner packet.
    if (packet.size() > kMultiSimHeader && packet[0] == kMultiSim)
        packet = packet.subspan(kMultiSimHeader);
    if (const std::optional<LogRecordView> record = ReadLogRecord(packet)) {
        ++m_counts.logRecords;
        OnLogRecord(*record);
        return;
    }
    if (m_formatter && IsDebugMessage(packet)) {
        if (const std::optional<FormattedMessage> message = m_formatter(packet)) {
            m_message.clear();
            gsmtap::AppendLogLine({gsmtap::DiagTimeToUnixMicros(message->timestamp), message->ssid, 0,
                                   message->file, message->line, message->text},
                                  m_message);
            ++m_counts.sent;
            ++m_counts.debugMessages;
            m_sink(m_message, message->timestamp);
            return;
        }
    }
    ++m_counts.otherPackets;
}

void CGsmtapConverter::Skip(std::uint16_t code)
{
    ++m_counts.skippedRecords;
    ++m_counts.skippedByCode[code];
}

void CGsmtapConverter::OnLogRecord(const LogRecordView& record)
{
    SignallingMessage message;
    switch (ReadSignalling(record, message)) {
    case SignallingResult::Ok:
        break;
    case SignallingResult::NotSignalling: Skip(record.code); return;
    case SignallingResult::UnknownVersion: ++m_counts.unknownVersion; Skip(record.code); return;
    case SignallingResult::UnknownChannel: ++m_counts.unknownChannel; Skip(record.code); return;
    case SignallingResult::Malformed: ++m_counts.malformed; Skip(record.code); return;
    }
    const bool nrRrc = message.rat == SignallingRat::NrRrc;
    if (message.gsmtapType == 0 && !(nrRrc && m_nrRrcV3)) {
        ++m_counts.noGsmtapForm;
        m_counts.nrRrcWithoutV3 += nrRrc;
        Skip(record.code);
        return;
    }
    if (message.segment != 0)
        SendSegment(message, record.timestamp);
    else
        Send(message, record.timestamp);
}

// Parts 1-6 are held in order; part 7 completes them. A first part while
// others are held, or a last part with none held, means parts went missing:
// what is held is skipped.
void CGsmtapConverter::SendSegment(const SignallingMessage& message, std::uint64_t timestamp)
{
    const bool last = message.segment == kLastSegment;
    const bool restart = message.segment == 1 || message.logCode != m_segmentCode;
    if ((restart || message.segment > kLastSegment) && m_segmentsHeld != 0) {
        m_counts.held -= m_segmentsHeld;
        for (; m_segmentsHeld != 0; --m_segmentsHeld)
            Skip(m_segmentCode);
        m_segments.clear();
    }
    if (message.segment > kLastSegment || (message.segment != 1 && m_segmentsHeld == 0)) {
        ++m_counts.malformed;
        Skip(message.logCode);
        return;
    }
    m_segments.insert(m_segments.end(), message.pdu.begin(), message.pdu.end());
    m_segmentCode = message.logCode;
    if (!last) {
        ++m_segmentsHeld;
        ++m_counts.held;
        return;
    }
    SignallingMessage whole = message;
    whole.segment = 0;
    whole.pdu = m_segments;
    m_segmentsHeld = 0;
    Send(whole, timestamp);
    m_segments.clear();
}

void CGsmtapConverter::Send(const SignallingMessage& message, std::uint64_t timestamp)
{
    m_message.clear();
    const bool v3 = message.rat == SignallingRat::NrRrc;
    // The largest header: version 3's, or version 2's with LAPDm framing.
    const std::size_t header = v3 ? gsmtap::kV3NrRrcHeaderLength : gsmtap::kHeaderLength + 5;
    if (message.pdu.size() + header > CPcapWriter::kMaxMessage
        || !(v3 ? gsmtap::AppendNrRrcV3(message, gsmtap::DiagTimeToUnixMicros(timestamp), m_message)
                : gsmtap::AppendSignalling(message, m_message))) {
        ++m_counts.noGsmtapForm;
        Skip(message.logCode);
        return;
    }
    ++m_counts.sent;
    m_sink(m_message, timestamp);
}

void CGsmtapConverter::Finish()
{
    if (m_segmentsHeld == 0)
        return;
    m_counts.held -= m_segmentsHeld;
    for (; m_segmentsHeld != 0; --m_segmentsHeld)
        Skip(m_segmentCode);
    m_segments.clear();
}

void CGsmtapConverter::Reset()
{
    m_deframer.Reset();
    Finish();
}

PcapConversion ConvertCaptureToPcap(const std::string& capturePath, const std::string& pcapPath, bool nrRrcAsGsmtapV3)
{
    PcapConversion result;
    // A FIFO or a device would hold the caller in open() or read(): refused at once.
    sysio::RegularFile file = sysio::OpenRegularFile(capturePath);
    if (!file.fd.Valid()) {
        result.error = capturePath + ": " + file.error;
        return result;
    }
    const sysio::UniqueFd in = std::move(file.fd);
    CPcapWriter out;
    std::string error;
    if (!out.Open(pcapPath, &error)) {
        result.error = pcapPath + ": " + error;
        return result;
    }
    CGsmtapConverter converter([&](std::span<const std::uint8_t> message, std::uint64_t timestamp) {
        out.Add(message, gsmtap::DiagTimeToUnixMicros(timestamp));
    });
    converter.SetNrRrcAsGsmtapV3(nrRrcAsGsmtapV3);
    std::vector<std::uint8_t> buffer(1 << 20);
    for (;;) {
        const ssize_t n = sysio::RetryEintr([&] { return ::read(in.Get(), buffer.data(), buffer.size()); });
        if (n < 0) {
            result.error = capturePath + ": " + sysio::ErrnoText("read", errno);
            return result;
        }
        if (n == 0)
            break;
        result.bytesRead += static_cast<std::uint64_t>(n);
        converter.Feed(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
    }
    converter.Finish();
    out.Close();
    result.counts = converter.Counts();
    if (!out.LastError().empty()) {
        result.error = pcapPath + ": " + out.LastError();
        return result;
    }
    result.ok = true;
    return result;
}

std::string DescribeGsmtapCounts(const GsmtapCounts& counts, std::size_t codes)
{
    std::string text = std::to_string(counts.sent) + (counts.sent == 1 ? " message" : " messages")
                       + " sent as GSMTAP, " + std::to_string(counts.skippedRecords)
                       + (counts.skippedRecords == 1 ? " record" : " records") + " skipped";
    std::vector<std::pair<std::uint16_t, std::uint64_t>> top(counts.skippedByCode.begin(), counts.skippedByCode.end());
    std::stable_sort(top.begin(), top.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    if (top.size() > codes)
        top.resize(codes);
    for (std::size_t i = 0; i < top.size(); ++i) {
        std::array<char, 32> item{};
        std::snprintf(item.data(), item.size(), "%s0x%04X %llu", i == 0 ? " (" : ", ", top[i].first,
                      static_cast<unsigned long long>(top[i].second));
        text += item.data();
    }
    if (!top.empty())
        text += counts.skippedByCode.size() > top.size() ? ", ...)" : ")";
    return text;
}

}  // namespace decode
