// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CDiagDecoder: one DIAG packet (a good HDLC frame's payload, without its
// FCS) in, its records out. CRecordStream: HDLC bytes in any chunking in,
// records out. DecodeCaptureFile: a capture on disk (an Orvane capture or a
// .qmdl: the same HDLC stream) through a record stream.
//
// What each packet becomes (DiagRecord.h):
//   10 log record      one Log record: code, name (LogCodeNames.h), time,
//                      "N bytes" and the signalling or measurement summary
//   60 event report    one Event record per event: id, name, time, payload
//                      in hex; a report without events is the Reply to 60
//   79 extended msg    one Message record: ssid, level bits, file:line, the
//                      text formatted from its format string (MessageFormat.h)
//   7E, 92, 99 terse   a Message record when the message database knows the
//                      hash, else a Terse record with the hash and arguments
//   98 multi-SIM       the inner packet's records, with the radio id
//   a request code     a Reply record named after the command (dm/DmCommand.h)
// A packet too short for its kind, or with a count that runs past its end,
// is one Malformed record with the packet's bytes in hex. Nothing is read
// past a packet's end (every field through ByteReader).
//
// Not thread-safe; one decoder per thread. A database given is shared and
// read-only.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "decode/DiagRecord.h"
#include "decode/MessageDatabase.h"
#include "dm/HdlcDeframer.h"

namespace decode {

// Where the decoder puts a packet's records: after the first `used` records
// of a vector. Records the vector already holds past `used` are reused, with
// their strings' storage, so a caller that decodes batch after batch into
// the same vector allocates nothing for names and short texts once it has
// grown.
class CRecordWriter {
public:
    CRecordWriter(std::vector<DecodedRecord>& records, std::size_t used) : m_records(records), m_used(used) {}

    // The next record, emptied.
    DecodedRecord& Next();
    std::size_t Used() const { return m_used; }
    // Drops the records from `used` on (they stay for reuse).
    void Truncate(std::size_t used) { m_used = used; }
    DecodedRecord& operator[](std::size_t i) { return m_records[i]; }

private:
    std::vector<DecodedRecord>& m_records;
    std::size_t m_used;
};

class CDiagDecoder {
public:
    // At most this many packet bytes are written out in hex in one record
    // (a reply's text: kMaxReplyHexBytes after its command code).
    static constexpr std::size_t kMaxHexBytes = 256;
    static constexpr std::size_t kMaxReplyHexBytes = 32;

    explicit CDiagDecoder(std::shared_ptr<const CMessageDatabase> database = {});

    void SetDatabase(std::shared_ptr<const CMessageDatabase> database) { m_database = std::move(database); }
    const std::shared_ptr<const CMessageDatabase>& Database() const { return m_database; }

    // Without names, log records and events carry no name (for a reader
    // that names codes itself, and for the benchmark's comparison).
    void SetNames(bool names) { m_names = names; }

    // Appends the packet's records to out; returns how many.
    std::size_t Decode(std::span<const std::uint8_t> packet, std::vector<DecodedRecord>& out) const;
    // Writes the packet's records after the first `used` of records, reusing
    // what is there past them (CRecordWriter); returns the new count of used
    // records. Records past it are spare storage, not records.
    std::size_t Decode(std::span<const std::uint8_t> packet, std::vector<DecodedRecord>& records,
                       std::size_t used) const;

private:
    void DecodeInto(std::span<const std::uint8_t> packet, std::uint32_t radioId, bool inWrapper,
                    CRecordWriter& out) const;
    void DecodeLog(std::span<const std::uint8_t> packet, CRecordWriter& out) const;
    void DecodeEvents(std::span<const std::uint8_t> packet, CRecordWriter& out) const;
    void DecodeExtMessage(std::span<const std::uint8_t> packet, CRecordWriter& out) const;
    void DecodeHashedMessage(std::span<const std::uint8_t> packet, CRecordWriter& out) const;
    void DecodeQShrink4(std::span<const std::uint8_t> packet, CRecordWriter& out) const;

    // The name of a log code, through a small cache: a modem repeats its
    // codes, and this saves the table's search and the name's length per record.
    void AssignLogCodeName(std::uint16_t code, std::string& name) const;

    struct NameSlot {
        std::uint16_t code = 0;
        const char* name = nullptr;   // nullptr: the slot is empty
        std::size_t length = 0;
    };
    std::shared_ptr<const CMessageDatabase> m_database;
    bool m_names = true;
    mutable std::array<NameSlot, 64> m_nameCache{};
};

// True for a debug message's packet, extended or terse (inside a multi-SIM
// wrapper too), by its command code alone: what the modem sent, counted
// without decoding it.
bool IsDebugMessage(std::span<const std::uint8_t> packet);

// "hh hh hh": the bytes in hex, at most `limit` of them, then " ... (N bytes)".
std::string HexBytes(std::span<const std::uint8_t> bytes, std::size_t limit = CDiagDecoder::kMaxHexBytes);

// The serving-cell measurement summary of a log record ("EARFCN 6300 PCI 214
// RSRP -101.25 dBm RSRQ -14.06 dB") for the codes and versions whose layout
// is known; "version N not known" for another version; empty for other codes.
std::string SummarizeMeasurement(const LogRecordView& record);

class CRecordStream {
public:
    // Called for each good frame: its packet and the records decoded from it.
    using PacketHandler =
        std::function<void(std::span<const std::uint8_t> packet, std::span<const DecodedRecord> records)>;

    explicit CRecordStream(std::shared_ptr<const CMessageDatabase> database = {});

    CDiagDecoder& Decoder() { return m_decoder; }

    // Reads bytes; appends the records of every frame they complete to out.
    void Push(std::span<const std::uint8_t> bytes, std::vector<DecodedRecord>& out);
    // The same, handing each good frame and its records to onPacket (the
    // records live until onPacket returns; their storage is reused).
    void Push(std::span<const std::uint8_t> bytes, const PacketHandler& onPacket);

    // Drops a partly received frame (a new capture starts).
    void Reset();

    std::uint64_t GoodFrames() const { return m_deframer.GoodFrames(); }
    std::uint64_t BadFrames() const { return m_deframer.BadFrames(); }
    std::uint64_t Records() const { return m_records; }

private:
    CHdlcDeframer m_deframer;
    CDiagDecoder m_decoder;
    std::vector<HdlcItem> m_items;
    std::vector<DecodedRecord> m_scratch;
    std::uint64_t m_records = 0;
};

// What a capture file is read for: every chunk as read (for counts), and each
// good frame with its records. Either may be empty.
struct CaptureSinks {
    std::function<void(std::span<const std::uint8_t> bytes)> onBytes;
    CRecordStream::PacketHandler onPacket;
};

// Reads a capture through stream; false and why when the file cannot be read
// or holds bytes but not one good DIAG frame.
bool DecodeCaptureFile(const std::string& path, CRecordStream& stream, const CaptureSinks& sinks,
                       std::string* error);

}  // namespace decode
