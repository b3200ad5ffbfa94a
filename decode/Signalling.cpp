// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/Signalling.h"

#include <algorithm>
#include <array>

#include "decode/ByteReader.h"
#include "decode/Gsmtap.h"
#include "decode/SignallingNames_p.h"

namespace decode {

namespace {

namespace gt = gsmtap;

struct ChannelCode {
    std::uint8_t code;   // as the record gives it
    std::uint8_t sub;    // GSMTAP sub-type
};

// A little-endian field at a fixed offset (0 when the record is too short for it).
std::uint32_t FieldAt(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t size)
{
    ByteReader in(bytes);
    in.Skip(offset);
    switch (size) {
    case 1: return in.U8();
    case 2: return in.U16();
    case 3: return in.U24();
    default: return in.U32();
    }
}

// ---- LTE RRC OTA (0xB0C0) ------------------------------------------------
// Packet versions as the open decoders read them (SCAT diagltelogparser.py
// parse_lte_rrc, QCSuper pcap_dump.py, MobileInsight log_packet.h). The
// channel byte's meaning moved between versions; each row names its map.
struct LteRrcLayout {
    std::uint8_t header;        // bytes before the PDU: the minimum length
    std::uint8_t pci;           // 2 bytes
    std::uint8_t earfcn;
    std::uint8_t earfcnSize;    // 2 before version 8, then 4
    std::uint8_t sfn;           // 2 bytes: SFN << 4 | subframe
    std::uint8_t channel;       // 1 byte
    std::uint8_t length;        // 2 bytes: the PDU's length
    std::uint8_t segment;       // 1 byte; 0: the version has none
};

// version, release major/minor, bearer, PCI, EARFCN, SFN, channel, [SIB mask], length
constexpr LteRrcLayout kLteRrcV2{13, 4, 6, 2, 8, 10, 11, 0};
constexpr LteRrcLayout kLteRrcV6{17, 4, 6, 2, 8, 10, 15, 0};
constexpr LteRrcLayout kLteRrcV8{19, 4, 6, 4, 10, 12, 17, 0};
// From version 25 two bytes of NR release follow the LTE release.
constexpr LteRrcLayout kLteRrcV25{21, 6, 8, 4, 12, 14, 19, 0};
// From version 30 two unknown bytes and a segment number follow the length.
constexpr LteRrcLayout kLteRrcV30{24, 6, 8, 4, 12, 14, 19, 23};

constexpr ChannelCode kLteRrcMapV2[] = {
    {1, gt::kBcchBch}, {2, gt::kBcchDlSch}, {3, gt::kMcch}, {4, gt::kPcch},
    {5, gt::kDlCcch}, {6, gt::kDlDcch}, {7, gt::kUlCcch}, {8, gt::kUlDcch}};
constexpr ChannelCode kLteRrcMapV9[] = {
    {8, gt::kBcchBch}, {9, gt::kBcchDlSch}, {10, gt::kMcch}, {11, gt::kPcch},
    {12, gt::kDlCcch}, {13, gt::kDlDcch}, {14, gt::kUlCcch}, {15, gt::kUlDcch}};
constexpr ChannelCode kLteRrcMapV14[] = {
    {1, gt::kBcchBch}, {2, gt::kBcchDlSch}, {4, gt::kMcch}, {5, gt::kPcch},
    {6, gt::kDlCcch}, {7, gt::kDlDcch}, {8, gt::kUlCcch}, {9, gt::kUlDcch}};
constexpr ChannelCode kLteRrcMapV19[] = {
    {1, gt::kBcchBch}, {3, gt::kBcchDlSch}, {6, gt::kMcch}, {7, gt::kPcch},
    {8, gt::kDlCcch}, {9, gt::kDlDcch}, {10, gt::kUlCcch}, {11, gt::kUlDcch},
    {45, gt::kBcchBchNb}, {46, gt::kBcchDlSchNb}, {47, gt::kPcchNb}, {48, gt::kDlCcchNb},
    {49, gt::kDlDcchNb}, {50, gt::kUlCcchNb}, {52, gt::kUlDcchNb}};
constexpr ChannelCode kLteRrcMapV20[] = {
    {1, gt::kBcchBch}, {2, gt::kBcchDlSch}, {4, gt::kMcch}, {5, gt::kPcch},
    {6, gt::kDlCcch}, {7, gt::kDlDcch}, {8, gt::kUlCcch}, {9, gt::kUlDcch},
    {54, gt::kBcchBchNb}, {55, gt::kBcchDlSchNb}, {56, gt::kPcchNb}, {57, gt::kDlCcchNb},
    {58, gt::kDlDcchNb}, {59, gt::kUlCcchNb}, {61, gt::kUlDcchNb}};

struct LteRrcVersion {
    std::uint8_t version;
    const LteRrcLayout* layout;
    std::span<const ChannelCode> channels;
};

constexpr LteRrcVersion kLteRrcVersions[] = {
    {2, &kLteRrcV2, kLteRrcMapV2},    {3, &kLteRrcV2, kLteRrcMapV2},    {4, &kLteRrcV2, kLteRrcMapV2},
    {6, &kLteRrcV6, kLteRrcMapV2},    {7, &kLteRrcV6, kLteRrcMapV2},    {8, &kLteRrcV8, kLteRrcMapV2},
    {9, &kLteRrcV8, kLteRrcMapV9},    {12, &kLteRrcV8, kLteRrcMapV9},   {13, &kLteRrcV8, kLteRrcMapV2},
    {14, &kLteRrcV8, kLteRrcMapV14},  {15, &kLteRrcV8, kLteRrcMapV14},  {16, &kLteRrcV8, kLteRrcMapV14},
    {19, &kLteRrcV8, kLteRrcMapV19},  {20, &kLteRrcV8, kLteRrcMapV20},  {22, &kLteRrcV8, kLteRrcMapV2},
    {24, &kLteRrcV8, kLteRrcMapV20},  {25, &kLteRrcV25, kLteRrcMapV20}, {26, &kLteRrcV25, kLteRrcMapV19},
    {27, &kLteRrcV25, kLteRrcMapV19}, {29, &kLteRrcV25, kLteRrcMapV19}, {30, &kLteRrcV30, kLteRrcMapV19},
    {31, &kLteRrcV30, kLteRrcMapV19},
};

template <class Row, class Key>
const Row* FindRow(std::span<const Row> rows, Key key)
{
    for (const Row& row : rows)
        if (row.version == key)
            return &row;
    return nullptr;
}

// The PDU after a fixed header: length bytes, or empty when they are not all there.
std::span<const std::uint8_t> PduAt(std::span<const std::uint8_t> bytes, std::size_t header, std::size_t length)
{
    ByteReader in(bytes);
    in.Skip(header);
    return in.Bytes(length);
}

const ChannelCode* FindChannel(std::span<const ChannelCode> channels, std::uint8_t code)
{
    for (const ChannelCode& c : channels)
        if (c.code == code)
            return &c;
    return nullptr;
}

bool IsUplinkLteRrc(std::uint8_t sub)
{
    return sub == gt::kUlCcch || sub == gt::kUlDcch || sub == gt::kUlCcchNb || sub == gt::kUlDcchNb;
}

SignallingResult ReadLteRrc(std::span<const std::uint8_t> payload, SignallingMessage& out)
{
    if (payload.empty())
        return SignallingResult::Malformed;
    const auto version = static_cast<std::uint8_t>(FieldAt(payload, 0, 1));
    const LteRrcVersion* row = FindRow(std::span<const LteRrcVersion>(kLteRrcVersions), version);
    if (!row)
        return SignallingResult::UnknownVersion;
    const LteRrcLayout& l = *row->layout;
    if (payload.size() < l.header)
        return SignallingResult::Malformed;
    const std::size_t length = FieldAt(payload, l.length, 2);
    if (length > payload.size() - l.header)
        return SignallingResult::Malformed;
    out.rat = SignallingRat::LteRrc;
    out.version = version;
    out.recordChannel = static_cast<std::uint8_t>(FieldAt(payload, l.channel, 1));
    out.hasCell = true;
    out.pci = static_cast<std::uint16_t>(FieldAt(payload, l.pci, 2));
    out.arfcn = FieldAt(payload, l.earfcn, l.earfcnSize);
    out.frameNumber = FieldAt(payload, l.sfn, 2) >> 4;
    out.segment = l.segment ? static_cast<std::uint8_t>(FieldAt(payload, l.segment, 1)) : 0;
    out.pdu = PduAt(payload, l.header, length);
    const ChannelCode* channel = FindChannel(row->channels, out.recordChannel);
    if (!channel)
        return SignallingResult::UnknownChannel;
    out.gsmtapType = gt::kTypeLteRrc;
    out.gsmtapSubType = channel->sub;
    out.uplink = IsUplinkLteRrc(channel->sub);
    out.channelName = LteRrcChannelName(channel->sub);
    return SignallingResult::Ok;
}

// ---- LTE NAS OTA (0xB0E0-0xB0ED) -----------------------------------------
// version(1), release major, middle, minor(3), then the NAS PDU (SCAT
// parse_lte_nas, MobileInsight). Only version 1 is known.
struct LteNasVersion {
    std::uint8_t version;
    std::uint8_t header;
};
constexpr LteNasVersion kLteNasVersions[] = {{1, 4}};

struct LteNasCode {
    std::uint16_t logCode;
    bool protectedForm;   // the message as sent, security header and all
    bool uplink;
    const char* name;
};
constexpr LteNasCode kLteNasCodes[] = {
    {0xB0E0, true, false, "ESM in (protected)"},  {0xB0E1, true, true, "ESM out (protected)"},
    {0xB0E2, false, false, "ESM in"},             {0xB0E3, false, true, "ESM out"},
    {0xB0EA, true, false, "EMM in (protected)"},  {0xB0EB, true, true, "EMM out (protected)"},
    {0xB0EC, false, false, "EMM in"},             {0xB0ED, false, true, "EMM out"},
};

SignallingResult ReadLteNas(const LteNasCode& code, std::span<const std::uint8_t> payload, SignallingMessage& out)
{
    if (payload.empty())
        return SignallingResult::Malformed;
    const auto version = static_cast<std::uint8_t>(FieldAt(payload, 0, 1));
    const LteNasVersion* row = FindRow(std::span<const LteNasVersion>(kLteNasVersions), version);
    if (!row)
        return SignallingResult::UnknownVersion;
    if (payload.size() < row->header)
        return SignallingResult::Malformed;
    out.rat = SignallingRat::LteNas;
    out.version = version;
    out.uplink = code.uplink;
    out.gsmtapType = gt::kTypeLteNas;
    out.gsmtapSubType = code.protectedForm ? gt::kLteNasSecurityHeader : gt::kLteNasPlain;
    out.channelName = code.name;
    out.pdu = PduAt(payload, row->header, payload.size() - row->header);
    return SignallingResult::Ok;
}

// ---- NR RRC OTA (0xB821) -------------------------------------------------
// A 32-bit version, then release, bearer, PCI, [NR CGI(8)], NR-ARFCN(4),
// SFN(3 or 4), PDU number, SIB mask(4), length (SCAT diagnrlogparser.py).
// GSMTAP version 2 has no NR RRC type: these are read for the decoded view.
struct NrRrcLayout {
    std::uint8_t header, pci, arfcn, sfn, sfnSize, channel, length, segment;
};
constexpr NrRrcLayout kNrRrcV9{24, 7, 9, 13, 4, 17, 22, 0};
constexpr NrRrcLayout kNrRrcV12{23, 7, 9, 13, 3, 16, 21, 0};
constexpr NrRrcLayout kNrRrcV17{31, 7, 17, 21, 3, 24, 29, 0};
constexpr NrRrcLayout kNrRrcV19{32, 7, 17, 21, 3, 24, 29, 0};
constexpr NrRrcLayout kNrRrcV23{35, 7, 17, 21, 3, 24, 29, 34};

using enum gt::NrRrcSub;   // GSMTAP version 3's NR RRC numbers
constexpr ChannelCode kNrRrcMapV9[] = {
    {1, kNrBcchBch}, {2, kNrBcchDlSch}, {3, kNrDlCcch}, {4, kNrDlDcch}, {5, kNrPcch}, {6, kNrUlCcch},
    {7, kNrUlCcch1}, {8, kNrUlDcch}, {9, kNrRrcReconfiguration}, {10, kNrRrcReconfigurationComplete},
    {28, kNrUeMrdcCapability}, {29, kNrUeNrCapability}};
constexpr ChannelCode kNrRrcMapV14[] = {
    {1, kNrBcchBch}, {2, kNrBcchDlSch}, {3, kNrDlCcch}, {4, kNrDlDcch}, {5, kNrPcch}, {6, kNrUlCcch},
    {7, kNrUlCcch1}, {8, kNrUlDcch}, {9, kNrRrcReconfiguration}, {10, kNrRrcReconfigurationComplete},
    {31, kNrUeMrdcCapability}, {32, kNrUeNrCapability}, {33, kNrUeNrCapability}};
constexpr ChannelCode kNrRrcMapV17[] = {
    {1, kNrBcchBch}, {2, kNrBcchDlSch}, {3, kNrDlCcch}, {4, kNrDlDcch}, {5, kNrPcch}, {6, kNrUlCcch},
    {7, kNrUlCcch1}, {8, kNrUlDcch}, {9, kNrRrcReconfiguration}, {10, kNrRrcReconfigurationComplete}};
constexpr ChannelCode kNrRrcMapV20[] = {
    {1, kNrBcchBch}, {2, kNrBcchDlSch}, {3, kNrDlCcch}, {4, kNrDlDcch}, {5, kNrMcch}, {6, kNrPcch},
    {7, kNrUlCcch}, {8, kNrUlCcch1}, {9, kNrUlDcch}, {10, kNrRrcReconfiguration},
    {11, kNrRrcReconfigurationComplete}};
constexpr ChannelCode kNrRrcMapV26[] = {
    {1, kNrBcchBch}, {2, kNrBcchDlSch}, {3, kNrDlCcch}, {4, kNrDlDcch}, {5, kNrMcch}, {6, kNrPcch},
    {7, kNrUlCcch}, {8, kNrUlCcch1}, {9, kNrUlDcch}, {11, kNrRrcReconfiguration},
    {12, kNrRrcReconfigurationComplete}};
constexpr ChannelCode kNrRrcMapV28[] = {
    {1, kNrBcchBch}, {2, kNrBcchDlSch}, {3, kNrDlCcch}, {4, kNrDlDcch}, {5, kNrMcch}, {6, kNrPcch},
    {7, kNrUlCcch}, {8, kNrUlCcch1}, {9, kNrUlDcch}, {10, kNrUlDcch}, {11, kNrRrcReconfiguration},
    {12, kNrRrcReconfigurationComplete}};

struct NrRrcVersion {
    std::uint32_t version;
    const NrRrcLayout* layout;
    std::span<const ChannelCode> channels;
};
constexpr NrRrcVersion kNrRrcVersions[] = {
    {9, &kNrRrcV9, kNrRrcMapV9},     {12, &kNrRrcV12, kNrRrcMapV9},   {14, &kNrRrcV12, kNrRrcMapV14},
    {17, &kNrRrcV17, kNrRrcMapV17},  {19, &kNrRrcV19, kNrRrcMapV17},  {20, &kNrRrcV19, kNrRrcMapV20},
    {25, &kNrRrcV19, kNrRrcMapV17},  {23, &kNrRrcV23, kNrRrcMapV20},  {24, &kNrRrcV23, kNrRrcMapV20},
    {26, &kNrRrcV23, kNrRrcMapV26},  {28, &kNrRrcV23, kNrRrcMapV28},
};

bool IsUplinkNr(std::uint8_t sub)
{
    return sub == kNrUlCcch || sub == kNrUlCcch1 || sub == kNrUlDcch || sub == kNrRrcReconfigurationComplete;
}

SignallingResult ReadNrRrc(std::span<const std::uint8_t> payload, SignallingMessage& out)
{
    if (payload.size() < 4)
        return SignallingResult::Malformed;
    const std::uint32_t version = FieldAt(payload, 0, 4);
    const NrRrcVersion* row = FindRow(std::span<const NrRrcVersion>(kNrRrcVersions), version);
    if (!row)
        return SignallingResult::UnknownVersion;
    const NrRrcLayout& l = *row->layout;
    if (payload.size() < l.header)
        return SignallingResult::Malformed;
    const std::size_t length = FieldAt(payload, l.length, 2);
    if (length > payload.size() - l.header)
        return SignallingResult::Malformed;
    out.rat = SignallingRat::NrRrc;
    out.version = static_cast<std::uint8_t>(version);
    out.recordChannel = static_cast<std::uint8_t>(FieldAt(payload, l.channel, 1));
    out.hasCell = true;
    out.pci = static_cast<std::uint16_t>(FieldAt(payload, l.pci, 2));
    out.arfcn = FieldAt(payload, l.arfcn, 4);
    out.frameNumber = FieldAt(payload, l.sfn, l.sfnSize);
    out.segment = l.segment ? static_cast<std::uint8_t>(FieldAt(payload, l.segment, 1)) : 0;
    out.pdu = PduAt(payload, l.header, length);
    const ChannelCode* channel = FindChannel(row->channels, out.recordChannel);
    if (!channel)
        return SignallingResult::UnknownChannel;
    out.gsmtapType = 0;
    out.gsmtapSubType = channel->sub;
    out.uplink = IsUplinkNr(channel->sub);
    out.channelName = NrRrcChannelName(channel->sub);
    return SignallingResult::Ok;
}

// ---- WCDMA RRC signalling (0x412F) ---------------------------------------
// channel(1), bearer(1), length(2), then by channel form (SCAT
// diagwcdmalogparser.py parse_wcdma_rrc): the PDU; a SIB type and the PDU;
// UARFCN(2), PSC(2) and the PDU; UARFCN, PSC, a SIB type and the PDU. The
// "version" of this record is its channel form.
enum class WcdmaForm : std::uint8_t { Plain, Sib, Cell, CellSib };
struct WcdmaChannel {
    std::uint8_t code;
    WcdmaForm form;
    std::uint8_t sub;   // GSMTAP UMTS RRC sub-type; for a SIB form, that of a SIB the table below lacks
    bool uplink;
};
constexpr WcdmaChannel kWcdmaChannels[] = {
    {0, WcdmaForm::Plain, gt::kUmtsUlCcch, true},     {1, WcdmaForm::Plain, gt::kUmtsUlDcch, true},
    {2, WcdmaForm::Plain, gt::kUmtsDlCcch, false},    {3, WcdmaForm::Plain, gt::kUmtsDlDcch, false},
    {4, WcdmaForm::Plain, gt::kUmtsBcchBch, false},   {5, WcdmaForm::Plain, gt::kUmtsBcchFach, false},
    {6, WcdmaForm::Plain, gt::kUmtsPcch, false},      {7, WcdmaForm::Plain, gt::kUmtsMcch, false},
    {8, WcdmaForm::Plain, gt::kUmtsMsch, false},      {9, WcdmaForm::Sib, gt::kUmtsBcchBch, false},
    {10, WcdmaForm::Plain, gt::kUmtsSystemInformationContainer, false},
    {0xFE, WcdmaForm::Sib, gt::kUmtsBcchBch, false},  {0xFF, WcdmaForm::Sib, gt::kUmtsBcchFach, false},
    {0x80, WcdmaForm::Cell, gt::kUmtsUlCcch, true},   {0x81, WcdmaForm::Cell, gt::kUmtsUlDcch, true},
    {0x82, WcdmaForm::Cell, gt::kUmtsDlCcch, false},  {0x83, WcdmaForm::Cell, gt::kUmtsDlDcch, false},
    {0x84, WcdmaForm::Cell, gt::kUmtsBcchBch, false}, {0x85, WcdmaForm::Cell, gt::kUmtsBcchFach, false},
    {0x86, WcdmaForm::Cell, gt::kUmtsPcch, false},    {0x87, WcdmaForm::Cell, gt::kUmtsMcch, false},
    {0x88, WcdmaForm::Cell, gt::kUmtsMsch, false},    {0x89, WcdmaForm::CellSib, gt::kUmtsBcchBch, false},
    {0xF0, WcdmaForm::CellSib, gt::kUmtsBcchBch, false},
};

SignallingResult ReadWcdmaRrc(std::span<const std::uint8_t> payload, SignallingMessage& out)
{
    ByteReader in(payload);
    const std::uint8_t code = in.U8();
    in.U8();    // radio bearer
    in.U16();   // length: the open decoders take the rest as the PDU
    if (!in.Ok())
        return SignallingResult::Malformed;
    const auto* channel = std::find_if(std::begin(kWcdmaChannels), std::end(kWcdmaChannels),
                                       [&](const WcdmaChannel& c) { return c.code == code; });
    if (channel == std::end(kWcdmaChannels))
        return SignallingResult::UnknownChannel;
    out.rat = SignallingRat::WcdmaRrc;
    out.recordChannel = code;
    out.uplink = channel->uplink;
    if (channel->form == WcdmaForm::Cell || channel->form == WcdmaForm::CellSib) {
        out.arfcn = in.U16();
        out.pci = in.U16();
        out.hasCell = true;
    }
    std::uint8_t sub = channel->sub;
    if (channel->form == WcdmaForm::Sib || channel->form == WcdmaForm::CellSib) {
        const std::uint8_t sib = in.U8();
        if (!in.Ok())
            return SignallingResult::Malformed;
        const int mapped = WcdmaSibSubType(sib, channel->form == WcdmaForm::CellSib);
        if (mapped < 0)
            return SignallingResult::UnknownChannel;
        sub = static_cast<std::uint8_t>(mapped);
    }
    if (!in.Ok())
        return SignallingResult::Malformed;
    out.pdu = in.Rest();
    out.gsmtapType = gt::kTypeUmtsRrc;
    out.gsmtapSubType = sub;
    out.channelName = UmtsRrcChannelName(sub);
    return SignallingResult::Ok;
}

// ---- GSM RR signalling (0x512F) ------------------------------------------
// channel and direction(1: bit 7 set downlink), message type(1), length(1),
// then the layer 3 message (SCAT diaggsmlogparser.py parse_gsm_rr).
struct GsmChannel {
    std::uint8_t code;
    std::uint8_t gsmtapChannel;
    const char* name;
};
constexpr GsmChannel kGsmChannels[] = {
    {0, gt::kChannelSdcch8, "DCCH"},
    {1, gt::kChannelBcch, "BCCH"},
    {2, gt::kChannelRach, "RACH"},
    {3, gt::kChannelCcch, "CCCH"},
    {4, gt::kChannelSdcch8 | gt::kChannelAcch, "SACCH"},
};

SignallingResult ReadGsmRr(std::span<const std::uint8_t> payload, SignallingMessage& out)
{
    ByteReader in(payload);
    const std::uint8_t channelAndDirection = in.U8();
    const std::uint8_t messageType = in.U8();
    const std::uint8_t length = in.U8();
    if (!in.Ok() || in.Remaining() < length)
        return SignallingResult::Malformed;
    out.rat = SignallingRat::GsmRr;
    out.recordChannel = channelAndDirection & 0x7F;
    out.messageType = messageType;
    out.uplink = (channelAndDirection & 0x80) == 0;
    out.pdu = in.Bytes(length);
    const auto* channel = std::find_if(std::begin(kGsmChannels), std::end(kGsmChannels),
                                       [&](const GsmChannel& c) { return c.code == out.recordChannel; });
    if (channel == std::end(kGsmChannels))
        return SignallingResult::UnknownChannel;
    out.gsmtapType = gt::kTypeUm;
    out.gsmtapSubType = channel->gsmtapChannel;
    out.channelName = channel->name;
    return SignallingResult::Ok;
}

// ---- UMTS NAS OTA (0x713A) -----------------------------------------------
// direction(1: 1 uplink), length(4), then the layer 3 message (SCAT
// diagumtslogparser.py parse_umts_ue_ota); GSMTAP carries it as A-interface DTAP.
SignallingResult ReadUmtsNas(std::span<const std::uint8_t> payload, SignallingMessage& out)
{
    ByteReader in(payload);
    const std::uint8_t direction = in.U8();
    const std::uint32_t length = in.U32();
    if (!in.Ok() || in.Remaining() < length)
        return SignallingResult::Malformed;
    out.rat = SignallingRat::UmtsNas;
    out.uplink = direction == 1;
    out.pdu = in.Bytes(length);
    out.gsmtapType = gt::kTypeAbis;
    out.gsmtapSubType = 0;
    out.channelName = out.uplink ? "UL" : "DL";
    return SignallingResult::Ok;
}

const LteNasCode* FindLteNas(std::uint16_t logCode)
{
    for (const LteNasCode& code : kLteNasCodes)
        if (code.logCode == logCode)
            return &code;
    return nullptr;
}

}  // namespace

SignallingResult ReadSignalling(const LogRecordView& record, SignallingMessage& out)
{
    out = SignallingMessage{};
    out.logCode = record.code;
    switch (record.code) {
    case 0xB0C0: return ReadLteRrc(record.payload, out);
    case 0xB821: return ReadNrRrc(record.payload, out);
    case 0x412F: return ReadWcdmaRrc(record.payload, out);
    case 0x512F: return ReadGsmRr(record.payload, out);
    case 0x713A: return ReadUmtsNas(record.payload, out);
    default: break;
    }
    if (const LteNasCode* nas = FindLteNas(record.code))
        return ReadLteNas(*nas, record.payload, out);
    return SignallingResult::NotSignalling;
}

std::string SummarizeSignalling(const LogRecordView& record)
{
    SignallingMessage message;
    switch (ReadSignalling(record, message)) {
    case SignallingResult::NotSignalling:
        return {};
    case SignallingResult::UnknownVersion:
        return "packet version " + std::to_string(message.logCode == 0xB821 ? FieldAt(record.payload, 0, 4)
                                                                              : FieldAt(record.payload, 0, 1))
               + " not known";
    case SignallingResult::Malformed:
        return "too short for its packet version";
    case SignallingResult::UnknownChannel:
        return "channel " + std::to_string(message.recordChannel) + " not known in packet version "
               + std::to_string(message.version);
    case SignallingResult::Ok:
        break;
    }
    std::string line = message.channelName;
    const std::string name = SignallingMessageName(message);
    if (!name.empty())
        line += " " + name;
    if (message.segment != 0)
        line += message.segment == 7 ? " (last part)" : " (part " + std::to_string(message.segment) + ")";
    return line;
}

}  // namespace decode
