// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/DiagDecoder.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "decode/ByteReader.h"
#include "decode/LogCodeNames.h"
#include "decode/MessageFormat.h"
#include "decode/Signalling.h"
#include "dm/DmCommand.h"
#include "sys/RegularFile.h"
#include "sys/SysIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace decode {
namespace {

// Commands outside dm/DmCommand.h's request table that the modem sends on its own.
constexpr std::uint8_t kExtMessageTerse = 0x7E;    // legacy terse: a reference instead of the strings
constexpr std::uint8_t kQShrinkMessage = 0x92;     // hashed, the 0x79 header kept
constexpr std::uint8_t kMultiSim = 0x98;           // multi-SIM wrapper around another packet
constexpr std::uint8_t kQShrink4Message = 0x99;    // hashed, short header, packed arguments

// Names of the replies, keyed by the request codes of dm/DmCommand.h.
const char* ReplyName(std::uint8_t code)
{
    switch (code) {
    case dm::kVersionInfo: return "Version info";
    case dm::kBadCommand: return "Bad command";
    case dm::kBadLength: return "Bad length";
    case dm::kDiagVersion: return "Diag version";
    case dm::kTimestamp: return "Timestamp";
    case dm::kNvRead: return "NV read";
    case dm::kSubsystem: return "Subsystem dispatch";
    case dm::kFeatureQuery: return "Feature query";
    case dm::kDmAt: return "DM AT command";
    case dm::kEventReport: return "Event report";
    case dm::kLogConfig: return "Log config";
    case dm::kExtBuildId: return "Extended build id";
    case dm::kExtMsgConfig: return "Extended message config";
    case dm::kEventMask: return "Event mask";
    default: return nullptr;
    }
}

void AddMalformed(std::span<const std::uint8_t> packet, const char* what, CRecordWriter& out)
{
    DecodedRecord& r = out.Next();
    r.kind = RecordKind::Malformed;
    r.code = packet.empty() ? 0 : packet[0];
    r.name = what;
    r.text = HexBytes(packet);
}

std::string_view AsText(std::span<const std::uint8_t> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// "file:line"; the file name comes from the record, so a control byte in it
// prints as a space and the record stays on one line.
std::string FileAndLine(std::string_view file, std::uint32_t line)
{
    std::string name(file);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    name += ':';
    name += std::to_string(line);
    return name;
}

// The header 0x79, 0x7E and 0x92 share: cmd, timestamp type, argument
// count, drop count, timestamp(8), line(2), ssid(2), level mask(4).
struct MessageHeader {
    std::uint8_t count = 0;
    std::uint64_t stamp = 0;
    std::uint16_t line = 0;
    std::uint16_t ssid = 0;
    std::uint32_t level = 0;
};

MessageHeader ReadMessageHeader(ByteReader& in)
{
    MessageHeader header;
    in.Skip(2);
    header.count = in.U8();
    in.U8();
    header.stamp = in.U64();
    header.line = in.U16();
    header.ssid = in.U16();
    header.level = in.U32();
    return header;
}

// count 32-bit arguments into room (255 fits any count byte); the reader
// fails when the record holds fewer.
std::span<const std::uint32_t> ReadArguments(ByteReader& in, std::uint8_t count, std::array<std::uint32_t, 255>& room)
{
    for (std::size_t i = 0; i < count; ++i)
        room[i] = in.U32();
    return std::span<const std::uint32_t>(room).first(count);
}

// "hash 0x1234ABCD" and the arguments in hex, for a terse message without a database entry.
void AddTerse(std::uint32_t hash, std::span<const std::uint32_t> args, DecodedRecord& r)
{
    std::array<char, 24> text{};
    std::snprintf(text.data(), text.size(), "hash 0x%08X", static_cast<unsigned>(hash));
    r.kind = RecordKind::Terse;
    r.name = text.data();
    r.text = args.empty() ? "no arguments" : "args";
    for (const std::uint32_t a : args) {
        std::snprintf(text.data(), text.size(), " 0x%X", static_cast<unsigned>(a));
        r.text += text.data();
    }
}

// A signed measurement field in 1/16 dB steps from `base`, as "-101.25".
std::string Sixteenths(int base, std::uint32_t raw)
{
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%.2f", base + static_cast<double>(raw) / 16.0);
    return text.data();
}

}  // namespace

std::string HexBytes(std::span<const std::uint8_t> bytes, std::size_t limit)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const std::size_t shown = std::min(bytes.size(), limit);
    std::string text;
    text.reserve(shown * 3 + 24);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0)
            text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    if (shown < bytes.size())
        text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

// 0xB17F LTE ML1 Serving Cell Meas and Eval, as SCAT's diagltelogparser.py
// reads it (and its tests show real records of): version(1), RRC release(1),
// reserved(2), then
//   version 4: EARFCN u16, PCI u16 (low 9 bits), RSRP u32 (low 12 bits),
//              average RSRP u32, RSRQ u32 (low 10 bits)
//   version 5: EARFCN u32, PCI u16, 2 spare, then the same three words.
// RSRP is -180 dBm + raw/16, RSRQ -30 dB + raw/16.
std::string SummarizeMeasurement(const LogRecordView& record)
{
    if (record.code != 0xB17F)
        return {};
    ByteReader in(record.payload);
    const std::uint8_t version = in.U8();
    in.Skip(3);
    std::uint32_t earfcn = 0;
    if (version == 4) {
        earfcn = in.U16();
    } else if (version == 5) {
        earfcn = in.U32();
    } else {
        return in.Ok() ? "version " + std::to_string(version) + " not known" : std::string();
    }
    const std::uint16_t pci = in.U16() & 0x1FF;
    if (version == 5)
        in.Skip(2);
    const std::uint32_t rsrp = in.U32() & 0xFFF;
    in.U32();   // average RSRP
    const std::uint32_t rsrq = in.U32() & 0x3FF;
    if (!in.Ok())
        return "version " + std::to_string(version) + " cut short";
    return "EARFCN " + std::to_string(earfcn) + " PCI " + std::to_string(pci) + " RSRP " + Sixteenths(-180, rsrp)
           + " dBm RSRQ " + Sixteenths(-30, rsrq) + " dB";
}

CDiagDecoder::CDiagDecoder(std::shared_ptr<const CMessageDatabase> database) : m_database(std::move(database)) {}

DecodedRecord& CRecordWriter::Next()
{
    if (m_used == m_records.size())
        return m_records.emplace_back(), m_records[m_used++];
    DecodedRecord& r = m_records[m_used++];
    r.kind = RecordKind::Malformed;
    r.timestamp.reset();
    r.code = 0;
    r.radioId = 0;
    r.level = 0;
    r.name.clear();
    r.text.clear();
    return r;
}

std::size_t CDiagDecoder::Decode(std::span<const std::uint8_t> packet, std::vector<DecodedRecord>& out) const
{
    const std::size_t before = out.size();
    CRecordWriter writer(out, before);
    DecodeInto(packet, 0, false, writer);
    out.resize(writer.Used());
    return writer.Used() - before;
}

std::size_t CDiagDecoder::Decode(std::span<const std::uint8_t> packet, std::vector<DecodedRecord>& records,
                                 std::size_t used) const
{
    CRecordWriter writer(records, std::min(used, records.size()));
    DecodeInto(packet, 0, false, writer);
    return writer.Used();
}

bool IsDebugMessage(std::span<const std::uint8_t> packet)
{
    constexpr std::size_t kWrapperHeader = 8;   // command code, 3 bytes, radio id
    if (packet.size() > kWrapperHeader && packet[0] == kMultiSim)
        packet = packet.subspan(kWrapperHeader);
    if (packet.empty())
        return false;
    switch (packet[0]) {
    case dm::kExtMessage:
    case kExtMessageTerse:
    case kQShrinkMessage:
    case kQShrink4Message: return true;
    default: return false;
    }
}

void CDiagDecoder::DecodeInto(std::span<const std::uint8_t> packet, std::uint32_t radioId, bool inWrapper,
                              CRecordWriter& out) const
{
    const std::size_t first = out.Used();
    if (packet.empty()) {
        AddMalformed(packet, "empty packet", out);
        return;
    }
    switch (packet[0]) {
    case dm::kLog: DecodeLog(packet, out); break;
    case dm::kEventReport: DecodeEvents(packet, out); break;
    case dm::kExtMessage: DecodeExtMessage(packet, out); break;
    case kExtMessageTerse:
    case kQShrinkMessage: DecodeHashedMessage(packet, out); break;
    case kQShrink4Message: DecodeQShrink4(packet, out); break;
    case kMultiSim: {
        ByteReader in(packet);
        in.Skip(4);
        const std::uint32_t radio = in.U32();
        if (!in.Ok() || in.Remaining() == 0 || inWrapper)
            AddMalformed(packet, inWrapper ? "multi-SIM wrapper inside another" : "multi-SIM wrapper cut short", out);
        else
            DecodeInto(in.Rest(), radio, true, out);
        break;
    }
    default: {
        DecodedRecord& r = out.Next();
        r.kind = RecordKind::Reply;
        r.code = packet[0];
        const char* name = ReplyName(packet[0]);
        r.name = name ? name : "Unknown command";
        r.text = HexBytes(packet.subspan(1), kMaxReplyHexBytes);
        break;
    }
    }
    for (std::size_t i = first; inWrapper && i < out.Used(); ++i)
        out[i].radioId = radioId;
}

void CDiagDecoder::DecodeLog(std::span<const std::uint8_t> packet, CRecordWriter& out) const
{
    const std::optional<LogRecordView> view = ReadLogRecord(packet);
    if (!view) {
        AddMalformed(packet, "log record cut short", out);
        return;
    }
    DecodedRecord& r = out.Next();
    r.kind = RecordKind::Log;
    r.timestamp = view->timestamp;
    r.code = view->code;
    if (m_names)
        AssignLogCodeName(view->code, r.name);
    r.text = std::to_string(view->payload.size());
    r.text += " bytes";
    std::string summary = SummarizeSignalling(*view);
    if (summary.empty())
        summary = SummarizeMeasurement(*view);
    if (!summary.empty()) {
        r.text += "  ";
        r.text += summary;
    }
}

void CDiagDecoder::AssignLogCodeName(std::uint16_t code, std::string& name) const
{
    NameSlot& slot = m_nameCache[(code ^ (code >> 6)) % m_nameCache.size()];
    if (slot.name == nullptr || slot.code != code) {
        const char* found = LogCodeName(code);
        slot = {code, found ? found : "unknown log code", 0};
        slot.length = std::char_traits<char>::length(slot.name);
    }
    name.assign(slot.name, slot.length);
}

// 60, length(2), then events, each: a 16-bit word (id in bits 0-11, payload
// length code in bits 13-14: 0, 1 or 2 bytes, 3 = a length byte and that
// many; bit 15: a 2-byte truncated timestamp instead of the full 8 bytes),
// the timestamp, the payload. A truncated timestamp has no time of day.
void CDiagDecoder::DecodeEvents(std::span<const std::uint8_t> packet, CRecordWriter& out) const
{
    ByteReader head(packet);
    head.U8();
    const std::uint16_t length = head.U16();
    if (!head.Ok() || length > head.Remaining()) {
        AddMalformed(packet, "event report cut short", out);
        return;
    }
    if (length == 0) {   // the modem's answer to 60 on/off
        DecodedRecord& r = out.Next();
        r.kind = RecordKind::Reply;
        r.code = dm::kEventReport;
        r.name = ReplyName(dm::kEventReport);
        r.text = HexBytes(packet.subspan(1), kMaxReplyHexBytes);
        return;
    }
    ByteReader in(head.Bytes(length));
    const std::size_t first = out.Used();
    while (in.Remaining() > 0) {
        const std::uint16_t word = in.U16();
        const bool truncated = (word & 0x8000) != 0;
        const std::uint64_t stamp = truncated ? in.U16() : in.U64();
        const unsigned lengthCode = (word >> 13) & 0x3;
        const std::size_t size = lengthCode == 3 ? in.U8() : lengthCode;
        const std::span<const std::uint8_t> payload = in.Bytes(size);
        if (!in.Ok()) {
            out.Truncate(first);   // one record for the whole report: where it broke is not a record
            AddMalformed(packet, "event report cut short", out);
            return;
        }
        DecodedRecord& r = out.Next();
        r.kind = RecordKind::Event;
        r.code = word & 0x0FFF;
        if (!truncated)
            r.timestamp = stamp;
        if (m_names) {
            const char* name = EventName(static_cast<std::uint16_t>(r.code));
            r.name = name ? name : "event";
        }
        r.text = payload.empty() ? std::string("no payload") : HexBytes(payload);
    }
}

// 79, timestamp type, argument count, drop count, timestamp(8), line(2),
// ssid(2), level mask(4), the 32-bit arguments, the format and the file name
// (each NUL-terminated; a missing NUL ends the string at the packet's end).
void CDiagDecoder::DecodeExtMessage(std::span<const std::uint8_t> packet, CRecordWriter& out) const
{
    ByteReader in(packet);
    const MessageHeader header = ReadMessageHeader(in);
    std::array<std::uint32_t, 255> args{};
    const std::span<const std::uint32_t> given = ReadArguments(in, header.count, args);
    if (!in.Ok()) {
        AddMalformed(packet, "debug message cut short", out);
        return;
    }
    const std::string_view format = AsText(in.CString());
    const std::string_view file = AsText(in.CString());
    DecodedRecord& r = out.Next();
    r.kind = RecordKind::Message;
    r.timestamp = header.stamp;
    r.code = header.ssid;
    r.level = header.level;
    r.name = FileAndLine(file, header.line);
    AppendFormattedMessage(r.text, format, given);
}

// 7E and 92: the 0x79 header, a 32-bit hash (7E: a reference the older
// databases key the same way), the 32-bit arguments.
void CDiagDecoder::DecodeHashedMessage(std::span<const std::uint8_t> packet, CRecordWriter& out) const
{
    ByteReader in(packet);
    const MessageHeader header = ReadMessageHeader(in);
    const std::uint32_t hash = in.U32();
    std::array<std::uint32_t, 255> args{};
    const std::span<const std::uint32_t> given = ReadArguments(in, header.count, args);
    if (!in.Ok()) {
        AddMalformed(packet, "terse message cut short", out);
        return;
    }
    DecodedRecord& r = out.Next();
    r.timestamp = header.stamp;
    r.code = header.ssid;
    r.level = header.level;
    if (const MessageEntry* entry = m_database ? m_database->Find(hash) : nullptr) {
        r.kind = RecordKind::Message;
        r.name = FileAndLine(entry->file, header.line);
        AppendFormattedMessage(r.text, entry->format, given);
    } else {
        AddTerse(hash, given, r);
    }
}

// 99: cmd, timestamp type, argument count (high nibble) and bytes per
// argument (low nibble: 1 to 4), drop count, timestamp(8), hash(4), a 16-bit
// field, then count x size bytes of little-endian arguments. The ssid, level,
// file and line come from the database.
void CDiagDecoder::DecodeQShrink4(std::span<const std::uint8_t> packet, CRecordWriter& out) const
{
    ByteReader in(packet);
    in.Skip(2);
    const std::uint8_t countAndSize = in.U8();
    in.U8();
    const std::uint64_t stamp = in.U64();
    const std::uint32_t hash = in.U32();
    in.U16();
    const std::size_t count = countAndSize >> 4;
    const std::size_t size = countAndSize & 0x0F;
    std::array<std::uint32_t, 15> args{};
    for (std::size_t i = 0; i < count && size >= 1 && size <= 4; ++i)
        args[i] = static_cast<std::uint32_t>(size == 1 ? in.U8() : size == 2 ? in.U16() : size == 3 ? in.U24() : in.U32());
    if (!in.Ok() || (count > 0 && (size < 1 || size > 4))) {
        AddMalformed(packet, "terse message cut short", out);
        return;
    }
    const std::span<const std::uint32_t> given = std::span(args).first(count);
    DecodedRecord& r = out.Next();
    r.timestamp = stamp;
    if (const MessageEntry* entry = m_database ? m_database->Find(hash) : nullptr) {
        r.kind = RecordKind::Message;
        r.code = entry->ssid;
        r.level = entry->subsysMask;
        r.name = FileAndLine(entry->file, entry->line);
        AppendFormattedMessage(r.text, entry->format, given);
    } else {
        AddTerse(hash, given, r);
    }
}

CRecordStream::CRecordStream(std::shared_ptr<const CMessageDatabase> database)
    : m_deframer(false), m_decoder(std::move(database))
{
}

void CRecordStream::Push(std::span<const std::uint8_t> bytes, std::vector<DecodedRecord>& out)
{
    m_items.clear();
    m_deframer.Push(bytes, m_items);
    for (const HdlcItem& item : m_items)
        if (item.kind == HdlcItem::Kind::Frame)
            m_records += m_decoder.Decode(item.data, out);
}

void CRecordStream::Push(std::span<const std::uint8_t> bytes, const PacketHandler& onPacket)
{
    m_items.clear();
    m_deframer.Push(bytes, m_items);
    for (const HdlcItem& item : m_items) {
        if (item.kind != HdlcItem::Kind::Frame)
            continue;
        const std::size_t count = m_decoder.Decode(item.data, m_scratch, 0);
        m_records += count;
        if (onPacket)
            onPacket(item.data, std::span<const DecodedRecord>(m_scratch).first(count));
    }
}

void CRecordStream::Reset()
{
    m_deframer.Reset();
}

bool DecodeCaptureFile(const std::string& path, CRecordStream& stream, const CaptureSinks& sinks, std::string* error)
{
    // Looked at before it is opened: open() of a FIFO would wait for a writer.
    sysio::RegularFile file = sysio::OpenRegularFile(path);
    const sysio::UniqueFd fd = std::move(file.fd);
    std::string why;
    if (!fd.Valid())
        why = file.errnoValue != 0 ? sysio::ErrnoText(path, file.errnoValue) : path + ": not a regular file";
    std::array<std::uint8_t, 65536> chunk{};
    std::uint64_t bytes = 0;
    const std::uint64_t framesBefore = stream.GoodFrames();
    while (why.empty()) {
        const ssize_t n = sysio::RetryEintr([&] { return ::read(fd.Get(), chunk.data(), chunk.size()); });
        if (n < 0)
            why = sysio::ErrnoText(path, errno);
        if (n <= 0)
            break;
        const std::span<const std::uint8_t> got(chunk.data(), static_cast<std::size_t>(n));
        bytes += got.size();
        if (sinks.onBytes)
            sinks.onBytes(got);
        stream.Push(got, sinks.onPacket);
    }
    if (why.empty() && bytes > 0 && stream.GoodFrames() == framesBefore)
        why = path + ": no DIAG frame in its " + std::to_string(bytes) + " bytes (not a capture or .qmdl?)";
    if (!why.empty() && error)
        *error = why;
    return why.empty();
}

}  // namespace decode
