// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Over-the-air signalling carried in log records (LTE RRC and NAS, NR RRC,
// WCDMA RRC, GSM RR, UMTS NAS): where the PDU sits in each packet version,
// its channel and cell. One reading serves the decoded view's one-line
// summaries and the GSMTAP converter.
#include <cstdint>
#include <span>
#include <string>

#include "decode/DiagRecord.h"

namespace decode {

enum class SignallingRat : std::uint8_t { LteRrc, LteNas, NrRrc, WcdmaRrc, GsmRr, UmtsNas };

struct SignallingMessage {
    std::uint16_t logCode = 0;
    SignallingRat rat = SignallingRat::LteRrc;
    std::uint8_t version = 0;          // the packet version, where the record has one
    std::uint8_t gsmtapType = 0;       // GSMTAP payload type; 0: none in GSMTAP version 2 (NR RRC)
    std::uint8_t gsmtapSubType = 0;    // GSMTAP channel / sub-type for this RAT
    bool uplink = false;
    bool hasCell = false;
    std::uint32_t arfcn = 0;           // EARFCN / NR-ARFCN / UARFCN / ARFCN
    std::uint16_t pci = 0;             // physical cell id / PSC / BSIC where known
    const char* channelName = "";      // "BCCH-DL-SCH", "UL-DCCH", "EMM in", ...
    std::span<const std::uint8_t> pdu; // the message itself
    std::uint32_t frameNumber = 0;     // LTE SFN / NR SFN where the record carries it
    std::uint8_t recordChannel = 0;    // the channel (or PDU) number as the record gives it
    std::uint8_t messageType = 0;      // GSM RR: the message type the record gives
    // A message the modem logs in parts (LTE RRC from version 30, NR RRC from
    // version 23): 0 whole, 1-6 a leading part, 7 the last part.
    std::uint8_t segment = 0;
};

enum class SignallingResult : std::uint8_t {
    Ok,
    NotSignalling,    // not one of the signalling log codes
    UnknownVersion,   // a signalling code whose packet version is not in the tables
    Malformed,        // the version is known, the record is too short for it
    UnknownChannel,   // the version is known, its channel (PDU) number is not
};

SignallingResult ReadSignalling(const LogRecordView& record, SignallingMessage& out);

// One line for the decoded view ("DL-DCCH rrcConnectionReconfiguration"),
// or an empty string when the record is not signalling.
std::string SummarizeSignalling(const LogRecordView& record);

}  // namespace decode
