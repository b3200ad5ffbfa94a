// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CGsmtapConverter: the modem's bytes (a capture, or chunks as they arrive)
// to GSMTAP messages. HDLC frames are taken apart, log records read, and each
// signalling record (see Signalling.h) becomes one GSMTAP message handed to
// the sink. Every log record is either sent or counted as skipped under its
// log code; a record whose version or length is not known is skipped whole,
// never sent in part. Parts of a message the modem logs in segments are held
// until its last part and sent as one.
//
// Debug messages (0x79, and the terse and hashed ones a message database
// names) need the decoder's formatter; SetMessageFormatter connects it, and
// then each one it formats is sent as an osmocore log line.
//
// Not thread-safe: one thread feeds a converter.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decode/Gsmtap.h"
#include "decode/Signalling.h"
#include "dm/HdlcDeframer.h"

namespace decode {

struct GsmtapCounts {
    std::uint64_t sent = 0;            // GSMTAP messages handed to the sink
    std::uint64_t logRecords = 0;      // log records read
    std::uint64_t held = 0;            // leading parts of segmented messages, sent with their last part
    // Every log record is one of: a message of its own (sent - debugMessages
    // counts those and the last parts), a held part, or a skipped record.
    std::uint64_t skippedRecords = 0;  // log records not sent (the sum of skippedByCode)
    std::map<std::uint16_t, std::uint64_t> skippedByCode;
    // Why signalling records were skipped (they are in skippedByCode too).
    std::uint64_t unknownVersion = 0;  // a packet version not in the tables
    std::uint64_t unknownChannel = 0;  // a known version with a channel number not in its table
    std::uint64_t malformed = 0;       // shorter than its version's layout or its own length
    std::uint64_t noGsmtapForm = 0;    // no GSMTAP form asked for (NR RRC) or too long for one
    std::uint64_t nrRrcWithoutV3 = 0;  // NR RRC messages among them: version 3 was not asked for
    std::uint64_t otherPackets = 0;    // good frames that are not log records (events, replies, messages)
    std::uint64_t debugMessages = 0;   // debug messages sent as log lines
    std::uint64_t badFrames = 0;       // frames with a bad FCS or too long
};

// What SetMessageFormatter's function gives for a debug message packet.
struct FormattedMessage {
    std::string text;
    std::string file;
    std::uint16_t ssid = 0;
    std::uint32_t line = 0;
    std::uint64_t timestamp = 0;   // the packet's DIAG timestamp
};

class CGsmtapConverter {
public:
    // Called once per GSMTAP message with the DIAG timestamp of its record;
    // the bytes are valid for the call only.
    using Sink = std::function<void(std::span<const std::uint8_t> message, std::uint64_t diagTimestamp)>;
    using MessageFormatter = std::function<std::optional<FormattedMessage>(std::span<const std::uint8_t> packet)>;

    explicit CGsmtapConverter(Sink sink);

    // Raw bytes from the modem, HDLC-framed, in any chunking.
    void Feed(std::span<const std::uint8_t> bytes);
    // One DIAG packet (a good frame without its FCS).
    void OnPacket(std::span<const std::uint8_t> packet);

    // Drops a partly received frame and any held parts (counted as skipped):
    // the bytes that follow do not continue them.
    void Reset();

    // The end of the bytes: parts of a segmented message still held will not
    // be completed; they are counted as skipped.
    void Finish();

    // Connects the decoder's message formatter (integration hook: the
    // decoder's 0x79/0x7E/0x92/0x99 formatting, the text with its ssid,
    // file and line). Without one, or where it gives nothing, debug messages
    // are counted among otherPackets.
    void SetMessageFormatter(MessageFormatter formatter) { m_formatter = std::move(formatter); }

    // NR RRC as GSMTAP version 3 (Gsmtap.h). Off (the default), NR RRC
    // records are counted as skipped: version 2 has no NR RRC type, and a
    // stock Wireshark reads version 3 only with a plugin.
    void SetNrRrcAsGsmtapV3(bool on) { m_nrRrcV3 = on; }

    const GsmtapCounts& Counts() const { return m_counts; }

private:
    void OnLogRecord(const LogRecordView& record);
    void Skip(std::uint16_t code);
    void SendSegment(const SignallingMessage& message, std::uint64_t timestamp);
    void Send(const SignallingMessage& message, std::uint64_t timestamp);

    Sink m_sink;
    MessageFormatter m_formatter;
    CHdlcDeframer m_deframer;
    std::vector<HdlcItem> m_items;
    std::vector<std::uint8_t> m_message;    // the GSMTAP message being built
    std::vector<std::uint8_t> m_segments;   // leading parts of a segmented message
    std::uint16_t m_segmentCode = 0;        // the log code of the held parts
    std::uint64_t m_segmentsHeld = 0;       // how many records they came from
    GsmtapCounts m_counts;
    bool m_nrRrcV3 = false;
};

// Converts a whole capture file (the raw bytes the modem sent) into a pcap.
struct PcapConversion {
    bool ok = false;
    std::string error;           // why not, with the file it concerns
    std::uint64_t bytesRead = 0;
    GsmtapCounts counts;
};
PcapConversion ConvertCaptureToPcap(const std::string& capturePath, const std::string& pcapPath,
                                    bool nrRrcAsGsmtapV3 = false);

// "1234 messages sent as GSMTAP, 56 records skipped (0xB0C1 40, 0x1234 16)",
// the largest skipped codes first, at most `codes` of them.
std::string DescribeGsmtapCounts(const GsmtapCounts& counts, std::size_t codes = 8);

}  // namespace decode
