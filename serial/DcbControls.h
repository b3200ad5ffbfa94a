// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the port settings dialog's controls show of a settings record, and how
// their values go back into it, without a toolkit: combo selections as list
// indices (-1: nothing selected), the eleven check boxes by name, the two
// thresholds as numbers, the five characters as octets.
//
// Fields without a control (DCBlength, flag bits 15-31, the reserved words)
// are never touched; a combo without a selection leaves its field as it was.
#include "serial/Dcb.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace dcbctl {

// The baud rate and byte size lists; the other lists' indices are the values
// the record holds (stop bits 0-2, parity 0-4, DTR 0-2, RTS 0-3).
inline constexpr std::array<std::uint32_t, 16> kBaudRates = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 56000, 115200, 230400, 460800, 921600};
inline constexpr std::array<std::uint8_t, 5> kByteSizes = {4, 5, 6, 7, 8};
inline constexpr int kStopBitsEntries = 3;
inline constexpr int kParityEntries = 5;
inline constexpr int kDtrEntries = 3;
inline constexpr int kRtsEntries = 4;

// The check boxes, each standing for one flag of the record.
enum class Flag {
    Binary, ParityCheck, CtsFlow, DsrFlow, DsrSensitivity, TxContinueOnXoff,
    OutX, InX, ErrorReplace, NullStrip, AbortOnError,
};
inline constexpr std::size_t kFlagCount = 11;

bool GetFlag(const DCB& dcb, Flag flag);
void SetFlag(DCB& dcb, Flag flag, bool on);

}   // namespace dcbctl

struct DcbControls {
    int baudRate = -1;     // index into dcbctl::kBaudRates
    int byteSize = -1;     // index into dcbctl::kByteSizes
    int stopBits = -1;
    int parity = -1;
    int dtrControl = -1;
    int rtsControl = -1;
    std::array<bool, dcbctl::kFlagCount> flags{};   // by dcbctl::Flag
    std::int32_t xonLim = 0;
    std::int32_t xoffLim = 0;
    char xonChar = 0, xoffChar = 0, errorChar = 0, eofChar = 0, evtChar = 0;

    bool& Flag(dcbctl::Flag f) { return flags[static_cast<std::size_t>(f)]; }
    bool Flag(dcbctl::Flag f) const { return flags[static_cast<std::size_t>(f)]; }
};

// The controls as the dialog opens on dcb. A value a list lacks selects nothing,
// so that OK keeps it rather than storing a value the user never chose.
DcbControls ControlsFromDcb(const DCB& dcb);

// Stores the controls into dcb. The thresholds are 16-bit: larger numbers keep
// their low 16 bits.
void ApplyControls(const DcbControls& controls, DCB& dcb);
