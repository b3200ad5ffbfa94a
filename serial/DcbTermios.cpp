// SPDX-License-Identifier: GPL-2.0-or-later
// The settings record in termios terms: pure translation, no device. Only
// the termios constants come from the kernel's header; every system call on
// the device stays in serial/Termios.cpp.
#include "serial/DcbTermios.h"

#include <asm/termbits.h>

#include <algorithm>
#include <iterator>
#include <string>

namespace {

struct BaudEntry {
    std::uint32_t rate;
    std::uint32_t constant;
};

// Rates with a speed constant of their own; anything else goes through BOTHER.
constexpr BaudEntry kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

// Each step writes its bits into `s` or returns why the record cannot be
// applied (empty: fine). The steps run in the order of the record's fields,
// so the first refusal named is that of the earliest field.
std::string SpeedBits(const DCB& dcb, TermiosSettings& s, std::uint32_t& bits)
{
    if (dcb.BaudRate == 0)
        return "baud rate 0 cannot be set";
    s.baud = dcb.BaudRate;
    const auto* entry = std::find_if(std::begin(kStandardRates), std::end(kStandardRates),
                                     [&](const BaudEntry& e) { return e.rate == dcb.BaudRate; });
    bits = BOTHER;
    if (entry != std::end(kStandardRates))
        bits = entry->constant;
    else
        s.customBaud = true;
    return {};
}

std::string CharacterBits(const DCB& dcb, std::uint32_t& bits, std::uint32_t& parityBits)
{
    switch (dcb.ByteSize) {
    case 5: bits = CS5; break;
    case 6: bits = CS6; break;
    case 7: bits = CS7; break;
    case 8: bits = CS8; break;
    default: return "byte size " + std::to_string(dcb.ByteSize) + " cannot be set (5 to 8 data bits)";
    }
    switch (dcb.Parity) {
    case NOPARITY: parityBits = 0; break;
    case ODDPARITY: parityBits = PARENB | PARODD; break;
    case EVENPARITY: parityBits = PARENB; break;
    case MARKPARITY: parityBits = PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: parityBits = PARENB | CMSPAR; break;
    default: return "parity " + std::to_string(dcb.Parity) + " cannot be set";
    }
    bits |= parityBits;
    switch (dcb.StopBits) {
    case ONESTOPBIT: break;
    case ONE5STOPBITS:
        if (dcb.ByteSize != 5)
            return "1.5 stop bits cannot be set with " + std::to_string(dcb.ByteSize) + " data bits (only with 5)";
        bits |= CSTOPB;   // with CS5 the UART sends 1.5 stop bits
        break;
    case TWOSTOPBITS:
        if (dcb.ByteSize == 5)
            return "2 stop bits cannot be set with 5 data bits";
        bits |= CSTOPB;
        break;
    default: return "stop bits value " + std::to_string(dcb.StopBits) + " cannot be set";
    }
    return {};
}

std::string LineBits(const DCB& dcb, TermiosSettings& s, std::uint32_t& bits)
{
    switch (dcb.fDtrControl) {
    case DTR_CONTROL_DISABLE: s.dtr = ModemLine::Clear; break;
    case DTR_CONTROL_ENABLE: s.dtr = ModemLine::Set; break;
    case DTR_CONTROL_HANDSHAKE: return "DTR handshake cannot be set: Linux has no DTR flow control";
    default: return "DTR control 3 cannot be set";
    }
    switch (dcb.fRtsControl) {
    case RTS_CONTROL_DISABLE:
        if (dcb.fOutxCtsFlow)
            return "CTS output flow control cannot be set with RTS disabled: Linux drives RTS itself "
                   "under CTS flow control";
        s.rts = ModemLine::Clear;
        break;
    case RTS_CONTROL_ENABLE: s.rts = ModemLine::Set; break;
    case RTS_CONTROL_HANDSHAKE:
        if (!dcb.fOutxCtsFlow)
            return "RTS handshake cannot be set without CTS output flow control: Linux switches both "
                   "together (CRTSCTS)";
        s.rts = ModemLine::Driver;
        break;
    default: return "RTS toggle cannot be set: Linux has no RTS toggling";
    }
    bits = dcb.fOutxCtsFlow ? CRTSCTS : 0;
    if (dcb.fOutxDsrFlow)
        return "DSR output flow control cannot be set: Linux has no DSR flow control";
    return {};
}

std::string InputBits(const DCB& dcb, std::uint32_t parityBits, TermiosSettings& s)
{
    std::uint32_t bits = IGNBRK;
    if (dcb.fParity && parityBits != 0)
        bits |= INPCK;
    if (dcb.fOutX || dcb.fInX) {
        if (dcb.XonChar == dcb.XoffChar)
            return "XON/XOFF flow control cannot use the same character for Xon and Xoff";
        if (dcb.fOutX)
            bits |= IXON;
        if (dcb.fInX)
            bits |= IXOFF;
    }
    s.startChar = static_cast<std::uint8_t>(dcb.XonChar);
    s.stopChar = static_cast<std::uint8_t>(dcb.XoffChar);
    s.iflag = bits;
    return {};
}

DcbTranslation Refuse(std::string reason)
{
    DcbTranslation result;
    result.refusal = std::move(reason);
    return result;
}

}  // namespace

// ---------------------------------------------------------------------------
// Settings record -> termios.
//
// Fields Linux cannot express at all are refused, so that Open fails as it
// does for a record the driver rejects: byte sizes other than 5-8, parity
// values above 4, 1.5 stop bits with more than 5 data bits, 2 stop bits with
// 5 data bits (which the UART would send as 1.5), DTR handshake, RTS toggle,
// DSR output flow control, and XON/XOFF with equal Xon and Xoff characters.
//
// Hardware flow control: Linux has one switch, CRTSCTS, that both holds output
// while CTS is low and lowers RTS while the receive buffer is full. So
//   fOutxCtsFlow with RTS enable    -> CRTSCTS, RTS raised (the driver also
//                                      lowers it when its buffer fills, which a
//                                      peer expecting RTS high tolerates);
//   fOutxCtsFlow with RTS handshake -> CRTSCTS, RTS left to the driver;
//   RTS handshake without CTS flow  -> refused (CRTSCTS would also stall output);
//   fOutxCtsFlow with RTS disable   -> refused (the driver would raise RTS).
//
// Mapped: fParity -> INPCK (only with a parity), fOutX -> IXON, fInX -> IXOFF,
// XonChar/XoffChar -> VSTART/VSTOP.
// Ignored, with the Linux behaviour that takes their place:
//   fBinary          the line is always binary (raw, no EOF character);
//   fErrorChar       a byte with a parity error reads as 0, not ErrorChar;
//   fNull            NUL bytes are always delivered;
//   fAbortOnError    line errors never stop reads or writes;
//   fDsrSensitivity  bytes are received whatever the DSR line says;
//   fTXContinueOnXoff, XonLim, XoffLim
//                    the line discipline sends XOFF/XON at its own fill levels;
//   ErrorChar, EofChar, EvtChar  unused.
// Breaks are ignored (IGNBRK) rather than read as a 0 byte; modem-status lines
// are ignored (CLOCAL) so a missing DCD neither blocks nor hangs up the port.
// ---------------------------------------------------------------------------
DcbTranslation TranslateDcb(const DCB& dcb)
{
    TermiosSettings s;
    std::uint32_t speedBits = 0;
    std::uint32_t characterBits = 0;
    std::uint32_t parityBits = 0;
    std::uint32_t flowBits = 0;
    for (std::string refusal : {SpeedBits(dcb, s, speedBits), CharacterBits(dcb, characterBits, parityBits),
                                LineBits(dcb, s, flowBits), InputBits(dcb, parityBits, s)}) {
        if (!refusal.empty())
            return Refuse(std::move(refusal));
    }
    s.oflag = 0;
    s.lflag = 0;
    s.cflag = speedBits | characterBits | flowBits | CREAD | CLOCAL;

    DcbTranslation result;
    result.ok = true;
    result.settings = s;
    return result;
}

void UpdateDcbFromTermios(DCB& dcb, const TermiosSettings& current)
{
    if (current.baud != 0)
        dcb.BaudRate = current.baud;
    switch (current.cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    if (!(current.cflag & PARENB))
        dcb.Parity = NOPARITY;
    else if (current.cflag & CMSPAR)
        dcb.Parity = (current.cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        dcb.Parity = (current.cflag & PARODD) ? ODDPARITY : EVENPARITY;
    if (!(current.cflag & CSTOPB))
        dcb.StopBits = ONESTOPBIT;
    else
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    dcb.fParity = (current.iflag & INPCK) ? 1 : 0;
    dcb.fOutxCtsFlow = (current.cflag & CRTSCTS) ? 1 : 0;
    if (!dcb.fOutxCtsFlow && dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = (current.iflag & IXON) ? 1 : 0;
    dcb.fInX = (current.iflag & IXOFF) ? 1 : 0;
    dcb.XonChar = static_cast<char>(current.startChar);
    dcb.XoffChar = static_cast<char>(current.stopChar);
}

