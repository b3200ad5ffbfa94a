// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/LogCodeNames.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>

namespace decode {
namespace {

struct LogCodeEntry {
    std::uint16_t code;
    const char* name;
};

// Names as the open DIAG decoders give them: SCAT (fgsect/scat,
// src/scat/parsers/qualcomm/diagcmd.py, the comments beside each log code),
// MobileInsight's log packet list and QCSuper's log-type tables. The top
// nibble is the equipment id (1 = common, 4 = WCDMA, 5 = GSM/GPRS,
// 7 = UMTS NAS, 0xB = LTE and NR). Sorted by code: the lookup is a binary search.
constexpr LogCodeEntry kLogCodes[] = {
    {0x1098, "RUIM Debug"},
    {0x11EB, "Protocol Services Data"},
    {0x1272, "Generic SIM Toolkit Task"},
    {0x138E, "QMI Link 1 RX Message"},
    {0x138F, "QMI Link 1 TX Message"},
    {0x14CE, "UIM DS Data"},
    {0x14CF, "QMI Call Flow"},
    {0x1568, "IMS RTP SN and Payload"},
    {0x1569, "IMS RTP Packet Loss"},
    {0x156A, "IMS RTCP"},
    {0x156E, "IMS SIP Message"},
    {0x1572, "Network IP Rm Tx 80 Bytes"},
    {0x1573, "Network IP Rm Rx 80 Bytes"},
    {0x1574, "Network IP Rm Tx Full"},
    {0x1575, "Network IP Rm Rx Full"},
    {0x1576, "Network IP Um Tx 80 Bytes"},
    {0x1577, "Network IP Um Rx 80 Bytes"},
    {0x1578, "Network IP Um Tx Full"},
    {0x1579, "Network IP Um Rx Full"},
    {0x157A, "Link Rm Tx 80 Bytes"},
    {0x157B, "Link Rm Rx 80 Bytes"},
    {0x157C, "Link Rm Tx Full"},
    {0x157D, "Link Rm Rx Full"},
    {0x157E, "Link Um Tx 80 Bytes"},
    {0x157F, "Link Um Rx 80 Bytes"},
    {0x1580, "Link Um Tx Full"},
    {0x1581, "Link Um Rx Full"},
    {0x17F2, "IMS Voice Call Statistics"},
    {0x1830, "IMS VoLTE Session Setup"},
    {0x1831, "IMS VoLTE Session End"},
    {0x1832, "IMS Registration"},
    {0x4005, "WCDMA Search Cell Reselection Rank"},
    {0x4127, "WCDMA Cell ID"},
    {0x412B, "WCDMA SIB"},
    {0x412F, "WCDMA RRC Signaling Messages"},
    {0x4135, "WCDMA RLC DL AM Signaling PDU"},
    {0x413C, "WCDMA RLC UL AM Signaling PDU"},
    {0x4145, "WCDMA RLC UL AM Control PDU"},
    {0x4146, "WCDMA RLC DL AM Control PDU"},
    {0x4179, "WCDMA PN Search Edition 2"},
    {0x41B0, "WCDMA Freq Scan"},
    {0x5065, "GSM L1 FCCH Acquisition"},
    {0x5066, "GSM L1 SCH Acquisition"},
    {0x506A, "GSM L1 New Burst Metrics"},
    {0x506C, "GSM L1 Burst Metrics"},
    {0x5071, "GSM L1 Surround Cell BA List"},
    {0x507A, "GSM L1 Serving Auxiliary Measurements"},
    {0x507B, "GSM L1 Neighbor Cell Auxiliary Measurements"},
    {0x512F, "GSM RR Signaling Message"},
    {0x5134, "GSM RR Cell Information"},
    {0x51FD, "GPRS RR Packet System Information 1"},
    {0x51FE, "GPRS RR Packet System Information 2"},
    {0x51FF, "GPRS RR Packet System Information 3"},
    {0x5226, "GPRS MAC Signaling Message"},
    {0x5230, "GPRS SM/GMM OTA Signaling Message"},
    {0x5B2F, "GSM DSDS RR Signaling Message"},
    {0x5B34, "GSM DSDS RR Cell Information"},
    {0x713A, "UMTS NAS OTA"},
    {0x7B3A, "UMTS DSDS NAS Signaling Messages"},
    {0xB061, "LTE MAC RACH Trigger"},
    {0xB062, "LTE MAC RACH Attempt"},
    {0xB063, "LTE MAC DL Transport Block"},
    {0xB064, "LTE MAC UL Transport Block"},
    {0xB0A0, "LTE PDCP DL Config"},
    {0xB0A1, "LTE PDCP DL Data PDU"},
    {0xB0A2, "LTE PDCP DL Ctrl PDU"},
    {0xB0A3, "LTE PDCP DL Cipher Data PDU"},
    {0xB0A5, "LTE PDCP DL SRB Integrity Data PDU"},
    {0xB0B0, "LTE PDCP UL Config"},
    {0xB0B1, "LTE PDCP UL Data PDU"},
    {0xB0B2, "LTE PDCP UL Ctrl PDU"},
    {0xB0B3, "LTE PDCP UL Cipher Data PDU"},
    {0xB0B5, "LTE PDCP UL SRB Integrity Data PDU"},
    {0xB0C0, "LTE RRC OTA"},
    {0xB0C1, "LTE RRC MIB"},
    {0xB0C2, "LTE RRC Serving Cell Info"},
    {0xB0CD, "LTE RRC Supported CA Combos"},
    {0xB0E0, "LTE NAS ESM Security Protected Incoming"},
    {0xB0E1, "LTE NAS ESM Security Protected Outgoing"},
    {0xB0E2, "LTE NAS ESM Plain Incoming"},
    {0xB0E3, "LTE NAS ESM Plain Outgoing"},
    {0xB0EA, "LTE NAS EMM Security Protected Incoming"},
    {0xB0EB, "LTE NAS EMM Security Protected Outgoing"},
    {0xB0EC, "LTE NAS EMM Plain Incoming"},
    {0xB0ED, "LTE NAS EMM Plain Outgoing"},
    {0xB167, "LTE MAC RAR Msg1 Report"},
    {0xB168, "LTE MAC RAR Msg2 Report"},
    {0xB169, "LTE MAC Msg3 Report"},
    {0xB16A, "LTE MAC Msg4 Report"},
    {0xB179, "LTE ML1 Connected Intra-Freq Meas"},
    {0xB17F, "LTE ML1 Serving Cell Meas and Eval"},
    {0xB180, "LTE ML1 Neighbor Measurements"},
    {0xB181, "LTE ML1 Intra-Freq Cell Reselection"},
    {0xB193, "LTE ML1 Serving Cell Meas Response"},
    {0xB194, "LTE ML1 Search Request/Response"},
    {0xB195, "LTE ML1 Connected Neighbor Meas Request/Response"},
    {0xB197, "LTE ML1 Serving Cell Info"},
    {0xB800, "NR NAS 5GSM Plain Incoming"},
    {0xB801, "NR NAS 5GSM Plain Outgoing"},
    {0xB808, "NR NAS 5GMM Security Protected Incoming"},
    {0xB809, "NR NAS 5GMM Security Protected Outgoing"},
    {0xB80A, "NR NAS 5GMM Plain Incoming"},
    {0xB80B, "NR NAS 5GMM Plain Outgoing"},
    {0xB80C, "NR NAS 5GMM State"},
    {0xB814, "NR NAS 5GMM Plain Container"},
    {0xB821, "NR RRC OTA"},
    {0xB822, "NR RRC MIB Info"},
    {0xB823, "NR RRC Serving Cell Info"},
    {0xB825, "NR RRC Configuration Info"},
    {0xB826, "NR RRC Supported CA Combos"},
    {0xB88A, "NR MAC RACH Attempt"},
    {0xB97F, "NR ML1 Measurement Database Update"},
};

// Event ids as SCAT's event parsers name them (diaglteeventparser.py,
// diagcommoneventparser.py, diaggsmeventparser.py). Sorted by id.
constexpr LogCodeEntry kEvents[] = {
    {450, "GSM_MESSAGE_RECEIVED"},
    {1605, "LTE_RRC_TIMER_STATUS"},
    {1606, "LTE_RRC_STATE_CHANGE"},
    {1609, "LTE_RRC_DL_MSG"},
    {1610, "LTE_RRC_UL_MSG"},
    {1614, "LTE_RRC_PAGING_DRX_CYCLE"},
    {1627, "LTE_CM_INCOMING_MSG"},
    {1628, "LTE_CM_OUTGOING_MSG"},
    {1629, "LTE_EMM_INCOMING_MSG"},
    {1630, "LTE_EMM_OUTGOING_MSG"},
    {1631, "LTE_EMM_TIMER_START"},
    {1632, "LTE_EMM_TIMER_EXPIRY"},
    {1633, "LTE_REG_INCOMING_MSG"},
    {1634, "LTE_REG_OUTGOING_MSG"},
    {1635, "LTE_ESM_INCOMING_MSG"},
    {1636, "LTE_ESM_OUTGOING_MSG"},
    {1637, "LTE_ESM_TIMER_START"},
    {1638, "LTE_ESM_TIMER_EXPIRY"},
    {1682, "IPV6_SM_EVENT"},
    {1684, "IPV6_PREFIX_UPDATE"},
    {1938, "LTE_ML1_PHR_REPORT"},
    {1966, "LTE_EMM_OTA_INCOMING_MSG"},
    {1967, "LTE_EMM_OTA_OUTGOING_MSG"},
    {1968, "LTE_ESM_OTA_INCOMING_MSG"},
    {1969, "LTE_ESM_OTA_OUTGOING_MSG"},
    {1994, "LTE_RRC_STATE_CHANGE_TRIGGER"},
    {2865, "DIAG_QSHRINK_ID"},
    {2866, "DIAG_PROCESS_NAME"},
};

template <std::size_t N>
constexpr bool Sorted(const LogCodeEntry (&table)[N])
{
    for (std::size_t i = 1; i < N; ++i)
        if (table[i - 1].code >= table[i].code)
            return false;
    return true;
}

template <std::size_t N>
const char* Find(const LogCodeEntry (&table)[N], std::uint16_t code)
{
    const auto it = std::lower_bound(std::begin(table), std::end(table), code,
                                     [](const LogCodeEntry& e, std::uint16_t c) { return e.code < c; });
    return it != std::end(table) && it->code == code ? it->name : nullptr;
}

}  // namespace

const char* LogCodeName(std::uint16_t code)
{
    static_assert(Sorted(kLogCodes), "the log code table is searched by halves");
    return Find(kLogCodes, code);
}

const char* EventName(std::uint16_t id)
{
    static_assert(Sorted(kEvents), "the event table is searched by halves");
    return Find(kEvents, id);
}

std::string LogCodeLabel(std::uint16_t code)
{
    std::array<char, 8> hex{};
    std::snprintf(hex.data(), hex.size(), "0x%04X", static_cast<unsigned>(code));
    std::string label = hex.data();
    if (const char* name = LogCodeName(code)) {
        label += ' ';
        label += name;
    }
    return label;
}

}  // namespace decode
