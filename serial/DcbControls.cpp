// SPDX-License-Identifier: GPL-2.0-or-later
#include "serial/DcbControls.h"

#include <algorithm>

namespace dcbctl {

bool GetFlag(const DCB& dcb, Flag flag)
{
    switch (flag) {
    case Flag::Binary: return dcb.fBinary != 0;
    case Flag::ParityCheck: return dcb.fParity != 0;
    case Flag::CtsFlow: return dcb.fOutxCtsFlow != 0;
    case Flag::DsrFlow: return dcb.fOutxDsrFlow != 0;
    case Flag::DsrSensitivity: return dcb.fDsrSensitivity != 0;
    case Flag::TxContinueOnXoff: return dcb.fTXContinueOnXoff != 0;
    case Flag::OutX: return dcb.fOutX != 0;
    case Flag::InX: return dcb.fInX != 0;
    case Flag::ErrorReplace: return dcb.fErrorChar != 0;
    case Flag::NullStrip: return dcb.fNull != 0;
    case Flag::AbortOnError: return dcb.fAbortOnError != 0;
    }
    return false;
}

void SetFlag(DCB& dcb, Flag flag, bool on)
{
    const std::uint32_t v = on ? 1u : 0u;
    switch (flag) {
    case Flag::Binary: dcb.fBinary = v; break;
    case Flag::ParityCheck: dcb.fParity = v; break;
    case Flag::CtsFlow: dcb.fOutxCtsFlow = v; break;
    case Flag::DsrFlow: dcb.fOutxDsrFlow = v; break;
    case Flag::DsrSensitivity: dcb.fDsrSensitivity = v; break;
    case Flag::TxContinueOnXoff: dcb.fTXContinueOnXoff = v; break;
    case Flag::OutX: dcb.fOutX = v; break;
    case Flag::InX: dcb.fInX = v; break;
    case Flag::ErrorReplace: dcb.fErrorChar = v; break;
    case Flag::NullStrip: dcb.fNull = v; break;
    case Flag::AbortOnError: dcb.fAbortOnError = v; break;
    }
}

}   // namespace dcbctl

namespace {

template <typename List, typename Value>
int IndexOf(const List& list, Value value)
{
    const auto it = std::find(list.begin(), list.end(), value);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

// The entry whose index is value, or none when the list is shorter.
int Entry(unsigned value, int entries)
{
    return value < static_cast<unsigned>(entries) ? static_cast<int>(value) : -1;
}

bool Selected(int index, int entries)
{
    return index >= 0 && index < entries;
}

}   // namespace

DcbControls ControlsFromDcb(const DCB& dcb)
{
    DcbControls c;
    c.baudRate = IndexOf(dcbctl::kBaudRates, dcb.BaudRate);
    c.byteSize = IndexOf(dcbctl::kByteSizes, dcb.ByteSize);
    c.stopBits = Entry(dcb.StopBits, dcbctl::kStopBitsEntries);
    c.parity = Entry(dcb.Parity, dcbctl::kParityEntries);
    c.dtrControl = Entry(dcb.fDtrControl, dcbctl::kDtrEntries);
    c.rtsControl = Entry(dcb.fRtsControl, dcbctl::kRtsEntries);
    for (std::size_t i = 0; i < dcbctl::kFlagCount; ++i)
        c.flags[i] = dcbctl::GetFlag(dcb, static_cast<dcbctl::Flag>(i));
    c.xonLim = dcb.XonLim;
    c.xoffLim = dcb.XoffLim;
    c.xonChar = dcb.XonChar;
    c.xoffChar = dcb.XoffChar;
    c.errorChar = dcb.ErrorChar;
    c.eofChar = dcb.EofChar;
    c.evtChar = dcb.EvtChar;
    return c;
}

void ApplyControls(const DcbControls& c, DCB& dcb)
{
    if (Selected(c.baudRate, static_cast<int>(dcbctl::kBaudRates.size())))
        dcb.BaudRate = dcbctl::kBaudRates[static_cast<std::size_t>(c.baudRate)];
    if (Selected(c.byteSize, static_cast<int>(dcbctl::kByteSizes.size())))
        dcb.ByteSize = dcbctl::kByteSizes[static_cast<std::size_t>(c.byteSize)];
    if (Selected(c.stopBits, dcbctl::kStopBitsEntries))
        dcb.StopBits = static_cast<std::uint8_t>(c.stopBits);
    if (Selected(c.parity, dcbctl::kParityEntries))
        dcb.Parity = static_cast<std::uint8_t>(c.parity);
    if (Selected(c.dtrControl, dcbctl::kDtrEntries))
        dcb.fDtrControl = static_cast<std::uint32_t>(c.dtrControl);
    if (Selected(c.rtsControl, dcbctl::kRtsEntries))
        dcb.fRtsControl = static_cast<std::uint32_t>(c.rtsControl);
    for (std::size_t i = 0; i < dcbctl::kFlagCount; ++i)
        dcbctl::SetFlag(dcb, static_cast<dcbctl::Flag>(i), c.flags[i]);
    dcb.XonLim = static_cast<std::uint16_t>(static_cast<std::uint32_t>(c.xonLim) & 0xFFFFu);
    dcb.XoffLim = static_cast<std::uint16_t>(static_cast<std::uint32_t>(c.xoffLim) & 0xFFFFu);
    dcb.XonChar = c.xonChar;
    dcb.XoffChar = c.xoffChar;
    dcb.ErrorChar = c.errorChar;
    dcb.EofChar = c.eofChar;
    dcb.EvtChar = c.evtChar;
}
