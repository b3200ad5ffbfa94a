// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Fixtures the suite makes itself, in the shapes of the real files the tool
// meets, so that everything the default suite reads is in the repository:
// - a configuration as the Windows logging tool saves it: root
//   QXDMProfessional, ISVConfig blocks under Displays/Display1/View,
//   Display2/View, LoggingView and MessagesView, lists in descending order
//   without a trailing separator, empty lists as empty elements;
// - a capture as a modem's DM port sends its log: HDLC frames of log packets
//   (command 0x10), no leading flag, every FCS right, escapes in payloads and
//   in FCS bytes.
#include "support/DmFrames.h"

#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace fixture {

// The lists of one ISVConfig block as numbers, in the order they are saved.
struct DmcLists {
    std::vector<int> eventIds;                          // saved as zero-padded decimals: 03264
    std::vector<int> logCodes;                          // saved as 0x hex: 0xD124
    std::vector<int> otaTypes;                          // saved as 0x hex
    std::vector<std::pair<int, int>> messageLevels;     // saved as ssid/level: 10374/04
};

// The LoggingView lists of the generated configuration. The highest event id
// is not the first entry, and the last OTA type has no separator after it.
const DmcLists& SavedLoggingView();

// The lists' texts as the logging tool writes them.
std::string EventIdsText(const DmcLists& lists);
std::string LogCodesText(const DmcLists& lists);
std::string OtaTypesText(const DmcLists& lists);
std::string MessageLevelsText(const DmcLists& lists);

// MessagesView holds only LogCodes "0x157F,0x157E,0x157B,0x157A"; its other
// three lists are empty elements.
inline constexpr const char* kSavedMessagesViewLogCodes = "0x157F,0x157E,0x157B,0x157A";

// The whole generated configuration document.
std::string SavedDmc();

// A capture of `frames` log packets with payloads from `seed`: the bytes as
// they came off the line, and the packets (without FCS) they frame.
struct Capture {
    Bytes wire;
    std::vector<Bytes> packets;
};
Capture ModemCapture(int frames, unsigned seed);

// Writes bytes to path; fails the test when the file cannot be written.
void WriteBytes(const std::string& path, const Bytes& bytes);
void WriteBytes(const std::string& path, const std::string& text);

// The whole file at path; empty when there is none.
Bytes ReadAll(const std::string& path);

// A local time as capture names are made from it; the year counts from 1900
// (126: 2026).
std::tm LocalTime(int month, int day, int hour, int minute, int second, int year = 126);

}   // namespace fixture
