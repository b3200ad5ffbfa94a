// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The settings record (DCB) in termios terms. TranslateDcb is pure: it reads
// nothing from a device and writes nothing; serial/Termios.cpp applies its
// result at Open. The flag words use the Linux termios bit values, so a caller
// that includes <termios.h> can compare them with CRTSCTS, PARENB, IXON, ...
#include "serial/Dcb.h"

#include <cstdint>
#include <string>

// What to do with one modem-control line after the settings are applied.
enum class ModemLine : std::uint8_t {
    Clear,       // line low
    Set,         // line high
    Driver,      // left to the driver's hardware flow control (RTS with CRTSCTS); raised at open
};

struct TermiosSettings {
    std::uint32_t iflag = 0;        // c_iflag, complete word
    std::uint32_t oflag = 0;        // c_oflag, complete word (raw output)
    std::uint32_t cflag = 0;        // c_cflag, complete word, speed bits included
    std::uint32_t lflag = 0;        // c_lflag, complete word (non-canonical, no echo, no signals)
    std::uint32_t baud = 0;         // bits per second, both directions
    bool customBaud = false;        // no standard speed constant: set through termios2 with BOTHER
    std::uint8_t startChar = 0;     // c_cc[VSTART]: the record's XonChar
    std::uint8_t stopChar = 0;      // c_cc[VSTOP]: the record's XoffChar
    ModemLine dtr = ModemLine::Set;
    ModemLine rts = ModemLine::Set;
};

struct DcbTranslation {
    bool ok = false;
    std::string refusal;            // why the record cannot be applied, for the user; empty when ok
    TermiosSettings settings;       // meaningful when ok
};

// Pure translation of a settings record to termios settings, or a refusal that
// names the setting Linux cannot express.
DcbTranslation TranslateDcb(const DCB& dcb);

// The reverse, for reading a device's current settings back into a record:
// only the fields termios can report are changed (speed, data bits, parity,
// stop bits, parity checking, CTS flow, XON/XOFF and their characters); every
// other field of `dcb` is kept.
void UpdateDcbFromTermios(DCB& dcb, const TermiosSettings& current);
