// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// GSMTAP version 2: the 16-byte header that Wireshark's GSMTAP dissector
// reads before a radio message (libosmocore's gsmtap.h defines the same
// numbers), sent over UDP to port 4729. Multi-byte fields are big-endian.
//
//   version(1)=2, header length in 32-bit words(1)=4, type(1), timeslot(1),
//   ARFCN(2, bit 14 uplink, bit 15 PCS), signal dBm(1), SNR dB(1),
//   frame number(4), sub-type(1), antenna(1), sub-slot(1), reserved(1)
//
// Debug messages go out as the osmocore log type: after the header, the
// logging header Wireshark's GSMTAP-LOG dissector reads (seconds(4),
// microseconds(4), process name(16), pid(4), level(1), 3 spare, subsystem(16),
// source file(32), line(4)), then the text.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "decode/Signalling.h"

namespace decode::gsmtap {

inline constexpr std::uint16_t kUdpPort = 4729;
inline constexpr std::size_t kHeaderLength = 16;
inline constexpr std::size_t kLogHeaderLength = 84;

// Payload types.
inline constexpr std::uint8_t kTypeUm = 0x01;           // GSM Um (RR on its logical channel)
inline constexpr std::uint8_t kTypeAbis = 0x02;         // read as GSM A-interface DTAP (2G/3G NAS)
inline constexpr std::uint8_t kTypeUmtsRrc = 0x0C;
inline constexpr std::uint8_t kTypeLteRrc = 0x0D;
inline constexpr std::uint8_t kTypeOsmocoreLog = 0x10;
inline constexpr std::uint8_t kTypeLteNas = 0x12;

inline constexpr std::uint16_t kArfcnUplink = 0x4000;
inline constexpr std::uint32_t kArfcnMax = 0x3FFF;   // 14 bits; a larger channel number goes as 0

// LTE NAS sub-types: which NAS-EPS reading Wireshark applies.
inline constexpr std::uint8_t kLteNasPlain = 0;
inline constexpr std::uint8_t kLteNasSecurityHeader = 1;

// LTE RRC sub-types (the message's ASN.1 type).
enum LteRrcSub : std::uint8_t {
    kDlCcch = 0, kDlDcch, kUlCcch, kUlDcch, kBcchBch, kBcchDlSch, kPcch, kMcch,
    kBcchBchMbms, kBcchDlSchBr, kBcchDlSchMbms, kScMcch, kSbcchSlBch, kSbcchSlBchV2x,
    kDlCcchNb, kDlDcchNb, kUlCcchNb, kUlDcchNb, kBcchBchNb, kBcchBchTddNb, kBcchDlSchNb,
    kPcchNb, kScMcchNb,
};

// UMTS RRC sub-types used here.
enum UmtsRrcSub : std::uint8_t {
    kUmtsDlDcch = 0, kUmtsUlDcch = 1, kUmtsDlCcch = 2, kUmtsUlCcch = 3, kUmtsPcch = 4,
    kUmtsBcchFach = 7, kUmtsBcchBch = 8, kUmtsMcch = 9, kUmtsMsch = 10,
    kUmtsSystemInformationContainer = 14, kUmtsMasterInformationBlock = 16,
};

// GSM Um channels (ACCH flag 0x80 for the SACCH of a channel).
inline constexpr std::uint8_t kChannelBcch = 0x01;
inline constexpr std::uint8_t kChannelCcch = 0x02;
inline constexpr std::uint8_t kChannelRach = 0x03;
inline constexpr std::uint8_t kChannelSdcch8 = 0x08;
inline constexpr std::uint8_t kChannelAcch = 0x80;

// NR RRC sub-types: GSMTAP version 3's NR RRC numbers, the channels as they
// are and the containers (0x0201 on) kept in a byte as 0x10 on.
enum NrRrcSub : std::uint8_t {
    kNrBcchBch = 1, kNrBcchDlSch, kNrDlCcch, kNrDlDcch, kNrMcch, kNrPcch, kNrUlCcch, kNrUlCcch1, kNrUlDcch,
    kNrRrcReconfiguration = 0x10, kNrRrcReconfigurationComplete, kNrUeMrdcCapability, kNrUeNrCapability,
};
std::uint16_t NrRrcV3SubType(std::uint8_t sub);

// GSMTAP version 3, the draft the open DIAG clients write NR signalling in
// (Wireshark's own GSMTAP dissector reads version 2 only; their Lua plugin
// reads this one):
//
//   version(1)=3, reserved(1), header length in 32-bit words(2), type(2),
//   sub-type(2), then metadata as tag(2) length(2) value, ended by the tag
//   0xFFFE and zeros to a whole word.
inline constexpr std::uint16_t kV3TypeNrRrc = 0x0503;
inline constexpr std::uint16_t kV3TagTimestamp = 0x0000;      // seconds(8), nanoseconds(4)
inline constexpr std::uint16_t kV3TagChannelNumber = 0x0002;  // NR-ARFCN(4)
inline constexpr std::uint16_t kV3TagCellId = 0x0005;         // BSIC/PSC/PCI(2)
inline constexpr std::uint16_t kV3TagEnd = 0xFFFE;
inline constexpr std::size_t kV3NrRrcHeaderLength = 40;       // with the metadata above

// Appends an NR RRC message as GSMTAP version 3 (the record's time, NR-ARFCN
// and PCI as metadata); false, and out as it was, for any other kind.
bool AppendNrRrcV3(const SignallingMessage& message, std::uint64_t unixMicros, std::vector<std::uint8_t>& out);

// Appends the GSMTAP message for one signalling message (header, the LAPDm
// framing a GSM dedicated channel needs, the PDU) to out. false, and out as
// it was, when the message has no GSMTAP version 2 form (NR RRC) or does not
// fit one (a GSM message longer than a LAPDm length field holds).
bool AppendSignalling(const SignallingMessage& message, std::vector<std::uint8_t>& out);

// A debug message that is already text, as a GSMTAP osmocore log record.
struct LogLine {
    std::uint64_t unixMicros = 0;   // when the modem logged it
    std::uint16_t ssid = 0;         // subsystem id, written as its number
    std::uint8_t level = 0;         // osmocore level; 0 when the modem's is not known
    std::string_view file;          // source file (cut to 31 bytes)
    std::uint32_t line = 0;
    std::string_view text;
};
void AppendLogLine(const LogLine& line, std::vector<std::uint8_t>& out);

// A DIAG timestamp (1/800 s ticks since the GPS epoch in the upper 48 bits,
// a fraction of a tick in the lower 16) as microseconds since the Unix epoch.
std::uint64_t DiagTimeToUnixMicros(std::uint64_t diagTimestamp);

}  // namespace decode::gsmtap
