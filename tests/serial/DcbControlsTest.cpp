// SPDX-License-Identifier: GPL-2.0-or-later
// The settings record and the dialog's controls: every control lands on the
// record field (and Win32 flag-word bit) it names, and nothing else moves.
#include "serial/DcbControls.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

bool SameBytes(const DCB& a, const DCB& b)
{
    return std::memcmp(&a, &b, sizeof(DCB)) == 0;
}

TEST(DcbControls, EachCheckBoxIsItsFlagWordBit)
{
    struct Case {
        const char* name;
        dcbctl::Flag flag;
        std::uint32_t bit;   // in the Win32 flag word
    };
    const Case cases[] = {
        {"binary", dcbctl::Flag::Binary, 1u << 0},
        {"parity check", dcbctl::Flag::ParityCheck, 1u << 1},
        {"CTS flow", dcbctl::Flag::CtsFlow, 1u << 2},
        {"DSR flow", dcbctl::Flag::DsrFlow, 1u << 3},
        {"DSR sensitivity", dcbctl::Flag::DsrSensitivity, 1u << 6},
        {"XOFF continues Tx", dcbctl::Flag::TxContinueOnXoff, 1u << 7},
        {"XON/XOFF out", dcbctl::Flag::OutX, 1u << 8},
        {"XON/XOFF in", dcbctl::Flag::InX, 1u << 9},
        {"error replacement", dcbctl::Flag::ErrorReplace, 1u << 10},
        {"null stripping", dcbctl::Flag::NullStrip, 1u << 11},
        {"abort on error", dcbctl::Flag::AbortOnError, 1u << 14},
    };
    static_assert(std::size(cases) == dcbctl::kFlagCount);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DCB dcb = DefaultDcb();
        SetDcbFlagWord(dcb, 0x80000000u);   // a bit without a control
        DcbControls controls = ControlsFromDcb(dcb);
        controls.Flag(c.flag) = true;
        ApplyControls(controls, dcb);
        EXPECT_EQ(DcbFlagWord(dcb), 0x80000000u | c.bit);
        EXPECT_TRUE(ControlsFromDcb(dcb).Flag(c.flag));

        SetDcbFlagWord(dcb, 0xFFFFFFFFu);
        controls = ControlsFromDcb(dcb);
        controls.Flag(c.flag) = false;
        ApplyControls(controls, dcb);
        EXPECT_EQ(DcbFlagWord(dcb), 0xFFFFFFFFu & ~c.bit);
    }
}

TEST(DcbControls, ListsSelectTheRecordsValueOrNothing)
{
    struct Case {
        const char* name;
        void (*set)(DCB&);
        int DcbControls::*control;
        int index;
    };
    const Case cases[] = {
        {"115200 baud", [](DCB& d) { d.BaudRate = 115200; }, &DcbControls::baudRate, 12},
        {"110 baud, first", [](DCB& d) { d.BaudRate = 110; }, &DcbControls::baudRate, 0},
        {"921600 baud, last", [](DCB& d) { d.BaudRate = 921600; }, &DcbControls::baudRate, 15},
        {"57600 is not listed", [](DCB& d) { d.BaudRate = 57600; }, &DcbControls::baudRate, -1},
        {"8 data bits", [](DCB& d) { d.ByteSize = 8; }, &DcbControls::byteSize, 4},
        {"3 data bits not listed", [](DCB& d) { d.ByteSize = 3; }, &DcbControls::byteSize, -1},
        {"two stop bits", [](DCB& d) { d.StopBits = TWOSTOPBITS; }, &DcbControls::stopBits, 2},
        {"stop bits past the list", [](DCB& d) { d.StopBits = 3; }, &DcbControls::stopBits, -1},
        {"space parity", [](DCB& d) { d.Parity = SPACEPARITY; }, &DcbControls::parity, 4},
        {"parity past the list", [](DCB& d) { d.Parity = 5; }, &DcbControls::parity, -1},
        {"DTR handshake", [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }, &DcbControls::dtrControl, 2},
        {"DTR value 3 has no entry", [](DCB& d) { d.fDtrControl = 3; }, &DcbControls::dtrControl, -1},
        {"RTS toggle", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }, &DcbControls::rtsControl, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DCB dcb = DefaultDcb();
        c.set(dcb);
        const DcbControls controls = ControlsFromDcb(dcb);
        EXPECT_EQ(controls.*c.control, c.index);
        // OK without a change gives the record back as it came, unlisted values too.
        DCB back = dcb;
        ApplyControls(controls, back);
        EXPECT_TRUE(SameBytes(back, dcb));
    }
}

TEST(DcbControls, SelectionsAndNumbersReachTheirFields)
{
    DCB dcb = DefaultDcb();
    DcbControls c = ControlsFromDcb(dcb);
    c.baudRate = 6;          // 9600
    c.byteSize = 3;          // 7
    c.stopBits = 2;
    c.parity = MARKPARITY;
    c.dtrControl = 0;
    c.rtsControl = 2;
    c.xonLim = 70000;        // low 16 bits: 4464
    c.xoffLim = 65535;
    c.evtChar = '\xE9';
    ApplyControls(c, dcb);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 7u);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.Parity, MARKPARITY);
    EXPECT_EQ(DcbFlagWord(dcb), 0x6001u) << "DTR off, RTS handshake, binary and abort kept";
    EXPECT_EQ(dcb.XonLim, 4464u);
    EXPECT_EQ(dcb.XoffLim, 65535u);
    EXPECT_EQ(dcb.EvtChar, '\xE9');
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));

    // Nothing selected: those fields keep their values.
    c.baudRate = c.byteSize = c.stopBits = c.parity = c.dtrControl = c.rtsControl = -1;
    DCB kept = dcb;
    ApplyControls(c, kept);
    EXPECT_TRUE(SameBytes(kept, dcb));
}

}   // namespace
