// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/RecordText.h"

#include <array>
#include <cstdio>

namespace decode {

std::string TimeOfDay(std::uint64_t rawTimestamp)
{
    // Upper 48 bits: 1/800 s ticks since the GPS epoch; lower 16: a fraction of a tick.
    const std::uint64_t ticks = rawTimestamp >> 16;
    const std::uint64_t ms = ticks * 5 / 4 + ((rawTimestamp & 0xFFFF) * 5 / 4 >> 16);
    const std::uint64_t secondsOfDay = (ms / 1000) % 86400;
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%02u:%02u:%02u.%03u",
                  static_cast<unsigned>(secondsOfDay / 3600), static_cast<unsigned>(secondsOfDay / 60 % 60),
                  static_cast<unsigned>(secondsOfDay % 60), static_cast<unsigned>(ms % 1000));
    return text.data();
}

const char* KindName(RecordKind kind)
{
    switch (kind) {
    case RecordKind::Log: return "LOG";
    case RecordKind::Event: return "EVENT";
    case RecordKind::Message: return "MSG";
    case RecordKind::Terse: return "TERSE";
    case RecordKind::Reply: return "REPLY";
    case RecordKind::Malformed: return "MALFORMED";
    }
    return "?";
}

std::string CodeText(const DecodedRecord& record)
{
    std::array<char, 16> text{};
    switch (record.kind) {
    case RecordKind::Log:
        std::snprintf(text.data(), text.size(), "0x%04X", static_cast<unsigned>(record.code & 0xFFFF));
        break;
    case RecordKind::Reply:
    case RecordKind::Malformed:
        std::snprintf(text.data(), text.size(), "0x%02X", static_cast<unsigned>(record.code & 0xFF));
        break;
    case RecordKind::Message:
    case RecordKind::Terse:
        // As message levels are written in a .dmc: ssid/level.
        if (record.level != 0) {
            std::snprintf(text.data(), text.size(), "%u/%02X", static_cast<unsigned>(record.code),
                          static_cast<unsigned>(record.level));
            break;
        }
        [[fallthrough]];
    default:
        std::snprintf(text.data(), text.size(), "%u", static_cast<unsigned>(record.code));
        break;
    }
    return text.data();
}

std::string FormatRecordLine(const DecodedRecord& record)
{
    std::string line = record.timestamp ? TimeOfDay(*record.timestamp) : std::string(12, ' ');
    line += "  ";
    line += KindName(record.kind);
    line += "  ";
    line += CodeText(record);
    line += "  ";
    line += record.name;
    line += "  ";
    line += record.text;
    return line;
}

}  // namespace decode
