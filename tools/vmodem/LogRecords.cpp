// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/vmodem/LogRecords.h"

#include "dm/DmCommand.h"
#include "dm/LittleEndian.h"

#include <algorithm>
#include <array>
#include <string>

namespace vmlog {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& out, std::span<const std::uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

// The cell every message speaks of: PLMN 001-01, tracking and location area 1,
// LTE band 3 (EARFCN 1300), physical cell id 257; the subscriber's IMSI is
// 001010123456789.

// LTE RRC (36.331), unaligned PER.
// BCCH-BCH MasterInformationBlock: 10 MHz (n50), PHICH normal/one, SFN 0x12.
constexpr std::array<std::uint8_t, 3> kLteMib = {0x68, 0x48, 0x00};
// BCCH-DL-SCH SystemInformationBlockType1: PLMN 001-01, TAC 1, cell id
// 0x0001A2D, not barred, q-RxLevMin -65, band 3, one SI every 16 frames,
// SI window 20 ms, value tag 1.
constexpr std::array<std::uint8_t, 15> kLteSib1 = {0x40, 0x40, 0x04, 0x03, 0x00, 0x01, 0x00, 0x01,
                                                   0xA2, 0xD8, 0x14, 0x20, 0x10, 0x50, 0x80};
// UL-CCCH RRCConnectionRequest: random UE identity 0x123456789A, mo-Signalling.
constexpr std::array<std::uint8_t, 6> kLteRrcRequest = {0x51, 0x23, 0x45, 0x67, 0x89, 0xA6};

// LTE NAS (24.301), plain.
// EMM Attach request: no key, EPS attach, IMSI, UE network capability
// EEA0-2/EIA0-2, ESM container with a PDN connectivity request (IPv4, initial).
constexpr std::array<std::uint8_t, 21> kNasAttachRequest = {0x07, 0x41, 0x71, 0x08, 0x09, 0x10, 0x10,
                                                            0x10, 0x32, 0x54, 0x76, 0x98, 0x02, 0xE0,
                                                            0xE0, 0x00, 0x04, 0x02, 0x01, 0xD0, 0x11};
// EMM Identity request for the IMSI.
constexpr std::array<std::uint8_t, 3> kNasIdentityRequest = {0x07, 0x55, 0x01};
// ESM PDN connectivity request: PTI 1, IPv4, initial request.
constexpr std::array<std::uint8_t, 4> kNasPdnRequest = {0x02, 0x01, 0xD0, 0x11};
// ESM information request: PTI 1.
constexpr std::array<std::uint8_t, 3> kNasEsmInfoRequest = {0x02, 0x01, 0xD9};

// UMTS RRC (25.331), unaligned PER: UL-CCCH RRCConnectionRequest with the
// IMSI, establishment cause registration, no protocol error.
constexpr std::array<std::uint8_t, 10> kUmtsRrcRequest = {0x20, 0x90, 0x01, 0x01, 0x01,
                                                          0x23, 0x45, 0x67, 0x89, 0x60};

// GSM RR (44.018) on BCCH: System Information Type 3 as the 23-byte block,
// L2 pseudo length first: cell 1, LAI 001-01 LAC 1, one CCCH combined with
// SDCCH, attach/detach on, T3212 30 min, RXLEV-ACCESS-MIN 0, rest octets empty.
constexpr std::array<std::uint8_t, 23> kGsmSi3 = {0x49, 0x06, 0x1B, 0x00, 0x01, 0x00, 0xF1, 0x10,
                                                  0x00, 0x01, 0x49, 0x03, 0x05, 0x27, 0x47, 0x40,
                                                  0xE5, 0x04, 0x00, 0x2B, 0x2B, 0x2B, 0x2B};

// UMTS NAS (24.008) MM Location updating request: no key, normal updating,
// LAI 001-01 LAC 1, classmark 1, the IMSI.
constexpr std::array<std::uint8_t, 18> kMmLuRequest = {0x05, 0x08, 0x70, 0x00, 0xF1, 0x10, 0x00, 0x01, 0x57,
                                                       0x08, 0x09, 0x10, 0x10, 0x10, 0x32, 0x54, 0x76, 0x98};

// 0xB0C0 LTE RRC OTA, version 8: version, RRC release major and minor, radio
// bearer, PCI u16, EARFCN u32, SFN/subframe u16, PDU type, SIB mask u32,
// message length u16, message. PDU types of this version: 1 BCCH-BCH,
// 2 BCCH-DL-SCH, 7 UL-CCCH.
constexpr std::uint8_t kLteRrcVersion = 8;
constexpr std::uint16_t kLtePci = 257;
constexpr std::uint32_t kLteEarfcn = 1300;

Bytes LteRrcOta(std::uint8_t pduType, std::uint8_t bearer, std::uint16_t sfn, std::span<const std::uint8_t> msg)
{
    Bytes p{kLteRrcVersion, 9, 0xB0, bearer};
    dm::AppendU16(p, kLtePci);
    dm::AppendU32(p, kLteEarfcn);
    dm::AppendU16(p, static_cast<std::uint32_t>(sfn << 4));
    p.push_back(pduType);
    dm::AppendU32(p, 0);
    dm::AppendU16(p, static_cast<std::uint32_t>(msg.size()));
    Append(p, msg);
    return p;
}

// 0xB0E2/E3/EC/ED LTE NAS plain OTA: version 1, release 9.5.0, the message.
Bytes LteNasPlain(std::span<const std::uint8_t> msg)
{
    Bytes p{1, 9, 5, 0};
    Append(p, msg);
    return p;
}

// 0x412F WCDMA signalling message: channel type (0 UL-CCCH), radio bearer,
// length u16, message.
Bytes WcdmaSignalling(std::uint8_t channel, std::uint8_t bearer, std::span<const std::uint8_t> msg)
{
    Bytes p{channel, bearer};
    dm::AppendU16(p, static_cast<std::uint32_t>(msg.size()));
    Append(p, msg);
    return p;
}

// 0x512F GSM RR signalling message: channel type with 0x80 for downlink
// (1 BCCH), message type, length u8, message.
Bytes GsmRrSignalling(std::uint8_t channel, std::uint8_t type, std::span<const std::uint8_t> msg)
{
    Bytes p{channel, type, static_cast<std::uint8_t>(msg.size())};
    Append(p, msg);
    return p;
}

// 0x713A UMTS NAS OTA: direction (1 uplink), length u32, message.
Bytes UmtsNasOta(std::uint8_t uplink, std::span<const std::uint8_t> msg)
{
    Bytes p{uplink};
    dm::AppendU32(p, static_cast<std::uint32_t>(msg.size()));
    Append(p, msg);
    return p;
}

constexpr std::array<LogKind, 8> kKinds = {{
    {0x412F, "WCDMA RRC signalling", 1},
    {0x512F, "GSM RR signalling", 1},
    {0x713A, "UMTS NAS OTA", 1},
    {0xB0C0, "LTE RRC OTA", 3},
    {0xB0E2, "LTE NAS ESM plain incoming", 1},
    {0xB0E3, "LTE NAS ESM plain outgoing", 1},
    {0xB0EC, "LTE NAS EMM plain incoming", 1},
    {0xB0ED, "LTE NAS EMM plain outgoing", 1},
}};

const LogKind* FindKind(std::uint16_t code)
{
    const auto it = std::find_if(kKinds.begin(), kKinds.end(), [code](const LogKind& k) { return k.code == code; });
    return it != kKinds.end() ? &*it : nullptr;
}

}  // namespace

std::span<const LogKind> BuildableLogKinds() { return kKinds; }

bool CanBuildLog(std::uint16_t code) { return FindKind(code) != nullptr; }

std::vector<std::uint8_t> LogPayload(std::uint16_t code, std::uint32_t seq)
{
    const LogKind* kind = FindKind(code);
    if (!kind)
        return {};
    const std::uint32_t n = seq % static_cast<std::uint32_t>(kind->messages);
    // The system frame number moves on with every record, as it would.
    const std::uint16_t sfn = static_cast<std::uint16_t>((seq * 4) & 0x3FF);
    switch (code) {
    case 0x412F:
        return WcdmaSignalling(0, 0, kUmtsRrcRequest);
    case 0x512F:
        return GsmRrSignalling(0x81, 0x1B, kGsmSi3);
    case 0x713A:
        return UmtsNasOta(1, kMmLuRequest);
    case 0xB0C0:
        if (n == 0)
            return LteRrcOta(1, 0, sfn, kLteMib);
        if (n == 1)
            return LteRrcOta(2, 0, sfn, kLteSib1);
        return LteRrcOta(7, 0, sfn, kLteRrcRequest);
    case 0xB0E2:
        return LteNasPlain(kNasEsmInfoRequest);
    case 0xB0E3:
        return LteNasPlain(kNasPdnRequest);
    case 0xB0EC:
        return LteNasPlain(kNasIdentityRequest);
    case 0xB0ED:
        return LteNasPlain(kNasAttachRequest);
    default:
        return {};
    }
}

std::vector<std::uint8_t> WrapLogRecord(std::uint16_t code, std::uint64_t timestamp, std::span<const std::uint8_t> payload)
{
    const std::uint32_t length = static_cast<std::uint32_t>(kLogHeader - 4 + payload.size());
    Bytes p{dm::kLog, 0};
    p.reserve(kLogHeader + payload.size());
    dm::AppendU16(p, length);
    dm::AppendU16(p, length);
    dm::AppendU16(p, code);
    dm::AppendU64(p, timestamp);
    Append(p, payload);
    return p;
}

std::vector<std::uint8_t> BuildLogRecord(std::uint16_t code, std::uint32_t seq, std::uint64_t timestamp)
{
    const Bytes payload = LogPayload(code, seq);
    if (payload.empty())
        return {};
    return WrapLogRecord(code, timestamp, payload);
}

std::uint64_t DmTimestamp(std::chrono::nanoseconds sinceGpsEpoch)
{
    if (sinceGpsEpoch.count() < 0)
        return 0;
    // 1.25 ms ticks; the remainder in 1/32 chips (1.2288 Mchip/s x 32 = 40960 per ms).
    constexpr std::int64_t kTickNs = 1250000;
    const std::int64_t ns = sinceGpsEpoch.count();
    const std::uint64_t ticks = static_cast<std::uint64_t>(ns / kTickNs);
    const std::uint64_t sub = static_cast<std::uint64_t>(ns % kTickNs) * 40960 / 1000000;
    return (ticks << 16) | (sub & 0xFFFF);
}

std::uint64_t DmTimestamp(std::chrono::system_clock::time_point wall)
{
    // 1980-01-06 00:00:00 UTC, the GPS epoch, in Unix seconds.
    constexpr std::chrono::seconds kGpsEpoch{315964800};
    const auto since = wall.time_since_epoch() - kGpsEpoch;
    return DmTimestamp(std::chrono::duration_cast<std::chrono::nanoseconds>(since));
}

std::vector<std::uint8_t> BuildEventReport(std::uint32_t seq, std::uint64_t timestamp)
{
    // The RRC state walks camped idle -> connecting -> connected -> closing.
    constexpr std::array<std::uint8_t, 4> kStates = {2, 3, 4, 7};
    Bytes events;
    dm::AppendU16(events, kStreamEventId | (1u << 13));
    dm::AppendU64(events, timestamp);
    events.push_back(kStates[seq % kStates.size()]);
    Bytes p{dm::kEventReport};
    dm::AppendU16(p, static_cast<std::uint32_t>(events.size()));
    Append(p, events);
    return p;
}

namespace {

// The RRC message events carry the channel and the message type; the paging
// cycle its length byte and the cycle in radio frames (u16).
struct StreamEventForm {
    std::uint16_t id;
    std::array<std::uint8_t, 3> payload;
    std::uint8_t size;        // payload bytes
    bool lengthByte;          // sent as length code 3: a length byte, then the bytes
};
constexpr std::array<StreamEventForm, 4> kStreamEvents = {{
    {kStreamEventId, {}, 0, false},       // built by BuildEventReport
    {1610, {0x02, 0x01}, 2, false},       // LTE_RRC_UL_MSG: UL-CCCH, connection request
    {1609, {0x04, 0x03}, 2, false},       // LTE_RRC_DL_MSG: DL-CCCH, connection setup
    {1614, {0x80, 0x00}, 2, true},        // LTE_RRC_PAGING_DRX_CYCLE: 128 frames
}};
constexpr std::array<std::uint16_t, kStreamEvents.size()> kStreamEventIds = {
    kStreamEvents[0].id, kStreamEvents[1].id, kStreamEvents[2].id, kStreamEvents[3].id};

// All at the level of the first, so that a client's level bits switch the
// whole stream on or off as before.
constexpr StreamMessage kStreamMessages[] = {
    {kStreamMessageSsid, kStreamMessageLevel, 100, "vmodem_rrc.c", "vmodem: camped on PCI %d"},
    {5, kStreamMessageLevel, 2117, "cmcall.c", "CM: call %d state %s -> %u, end cause 0x%04X"},
    {21, kStreamMessageLevel, 931, "uimutil.c", "UIM_%d: Path length is %u, Current Path 0x%x 0x%x"},
    {0, kStreamMessageLevel, 1582, "lte_rrc_csp.c", "RRC: serving cell EARFCN %u PCI %u RSRP %d dBm RSRQ %d dB"},
    {15, kStreamMessageLevel, 4410, "sd_ss.c", "SD: acq band %hu chan %-5u| mode %05x, %3d%% done"},
    {20, kStreamMessageLevel, 812, "mmoc.c", "MMOC: txn %lu at tick %llu, %c%c"},
    {0, kStreamMessageLevel, 377, "vmodem_ml1.c", "ML1: sfn %hhu load %+d, buffer %p"},
};

}  // namespace

std::span<const std::uint16_t> StreamEventIds() { return kStreamEventIds; }

std::vector<std::uint8_t> BuildStreamEvent(std::uint32_t seq, std::uint64_t timestamp)
{
    const StreamEventForm& e = kStreamEvents[seq % kStreamEvents.size()];
    if (e.id == kStreamEventId)
        return BuildEventReport(seq / static_cast<std::uint32_t>(kStreamEvents.size()), timestamp);
    Bytes events;
    dm::AppendU16(events, e.id | ((e.lengthByte ? 3u : e.size) << 13));
    dm::AppendU64(events, timestamp);
    if (e.lengthByte)
        events.push_back(e.size);
    events.insert(events.end(), e.payload.begin(), e.payload.begin() + e.size);
    Bytes p{dm::kEventReport};
    dm::AppendU16(p, static_cast<std::uint32_t>(events.size()));
    Append(p, events);
    return p;
}

std::span<const StreamMessage> StreamMessages() { return kStreamMessages; }

std::vector<std::uint32_t> StreamMessageArgs(std::uint32_t seq)
{
    const std::uint32_t round = seq / static_cast<std::uint32_t>(std::size(kStreamMessages));
    const std::uint32_t sfn = (seq * 4) & 0x3FF;
    switch (seq % std::size(kStreamMessages)) {
    case 0: return {kLtePci};
    case 1: return {1 + round % 3, 0x08A1C2F0, 2 + round % 4, 0x1F};
    case 2: return {1, 4, 0x3F00, 0x7F20};
    case 3: return {kLteEarfcn, kLtePci, static_cast<std::uint32_t>(-95 - int(round % 7)),
                    static_cast<std::uint32_t>(-10 - int(round % 4))};
    case 4: return {3, kLteEarfcn, 0x514, 25 * (round % 5)};
    case 5: return {round, 0x89ABCDEF, 0x1, 'o', 'k'};
    default: return {sfn, static_cast<std::uint32_t>(int(round % 9) - 4), 0x0800F000};
    }
}

std::vector<std::uint8_t> BuildExtMessage(std::uint32_t seq, std::uint64_t timestamp)
{
    const StreamMessage& m = kStreamMessages[seq % std::size(kStreamMessages)];
    const std::vector<std::uint32_t> args = StreamMessageArgs(seq);
    Bytes p{dm::kExtMessage, 0, static_cast<std::uint8_t>(args.size()), 0};
    dm::AppendU64(p, timestamp);
    dm::AppendU16(p, m.line);
    dm::AppendU16(p, m.ssid);
    dm::AppendU32(p, m.level);
    for (const std::uint32_t a : args)
        dm::AppendU32(p, a);
    p.insert(p.end(), m.format.begin(), m.format.end());
    p.push_back(0);
    p.insert(p.end(), m.file.begin(), m.file.end());
    p.push_back(0);
    return p;
}

}  // namespace vmlog
