// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Names of signalling channels and messages, for the one-line summaries.
// Internal to decode/Signalling.cpp and decode/SignallingNames.cpp.
#include <cstdint>
#include <string>

#include "decode/Signalling.h"

namespace decode {

// By GSMTAP LTE RRC sub-type: "DL-DCCH", "BCCH-DL-SCH-NB", ...
const char* LteRrcChannelName(std::uint8_t sub);
// By the NR RRC sub-type Signalling.cpp gives (GSMTAP version 3's numbers).
const char* NrRrcChannelName(std::uint8_t sub);
// By GSMTAP UMTS RRC sub-type: "DL-DCCH", "SysInfoType3", ...
const char* UmtsRrcChannelName(std::uint8_t sub);
// A WCDMA record's SIB type as a GSMTAP UMTS RRC sub-type, or -1. The forms
// with a cell (channel 0x89, 0xF0) number their 31st SIB differently.
int WcdmaSibSubType(std::uint8_t sib, bool cellForm);

// The message's name from its first bits or bytes ("rrcConnectionSetup",
// "Attach request"); empty when the channel alone says it or it cannot be read.
std::string SignallingMessageName(const SignallingMessage& message);

}  // namespace decode
