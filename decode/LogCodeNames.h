// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The one table of log code names: the decoder's records, orvane-log's status
// and summary and the window's capture line all name log codes from here.
#include <cstdint>
#include <string>

namespace decode {

// The name of a log code ("LTE RRC OTA"), or nullptr when it is not in the table.
const char* LogCodeName(std::uint16_t code);

// "0xB0C0 LTE RRC OTA", or "0x1234" for a code without a name.
std::string LogCodeLabel(std::uint16_t code);

// The name of an event id ("LTE_RRC_STATE_CHANGE"), or nullptr.
const char* EventName(std::uint16_t id);

}  // namespace decode
