// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Records as text: one line each, the same in orvane-log --decode, the
// decoded view's copy and "Save Decoded Text...". Columns: time of day (UTC,
// from the modem's timestamp; blank without one), kind, code (a log code as
// 0xB0C0), name, text. The text comes last, exactly as formatted.
#include <cstdint>
#include <string>

#include "decode/DiagRecord.h"

namespace decode {

// "hh:mm:ss.mmm" (UTC) of a raw DIAG timestamp.
std::string TimeOfDay(std::uint64_t rawTimestamp);

// "LOG", "EVENT", "MSG", "TERSE", "REPLY", "MALFORMED".
const char* KindName(RecordKind kind);

// The code column: log codes and replies in hex ("0xB0C0", "0x4B"), event ids
// in decimal, a debug message's ssid and level bits as a .dmc writes message
// levels ("9509/04"; the ssid alone when no level is known).
std::string CodeText(const DecodedRecord& record);

// One line without a line end: time, kind, code, name, text, separated by two spaces.
std::string FormatRecordLine(const DecodedRecord& record);

}  // namespace decode
