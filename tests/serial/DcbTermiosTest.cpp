// SPDX-License-Identifier: GPL-2.0-or-later
// The settings record in termios terms: one row per field and value.
#include "serial/DcbTermios.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <termios.h>

namespace {

// The speed bits of c_cflag; CBAUDEX alone is the kernel's BOTHER.
constexpr std::uint32_t kSpeedMask = CBAUD;
constexpr std::uint32_t kOther = CBAUDEX;

struct Case {
    const char* name;
    std::function<void(DCB&)> edit;
    // For accepted records: the bits that must be set and those that must be clear.
    std::uint32_t cflagSet = 0, cflagClear = 0, iflagSet = 0, iflagClear = 0;
    const char* refusal = nullptr;   // expected refusal, or nullptr when accepted
};

void Walk(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DCB dcb = DefaultDcb();
        c.edit(dcb);
        const DcbTranslation t = TranslateDcb(dcb);
        if (c.refusal) {
            EXPECT_FALSE(t.ok);
            EXPECT_EQ(t.refusal, c.refusal);
            continue;
        }
        ASSERT_TRUE(t.ok) << t.refusal;
        EXPECT_TRUE(t.refusal.empty());
        EXPECT_EQ(t.settings.cflag & c.cflagSet, c.cflagSet);
        EXPECT_EQ(t.settings.cflag & c.cflagClear, 0u);
        EXPECT_EQ(t.settings.iflag & c.iflagSet, c.iflagSet);
        EXPECT_EQ(t.settings.iflag & c.iflagClear, 0u);
    }
}

}  // namespace

TEST(DcbTermios, DefaultRecordIsRaw115200EightNoneOneWithBothLinesRaised)
{
    const DcbTranslation t = TranslateDcb(DefaultDcb());
    ASSERT_TRUE(t.ok) << t.refusal;
    EXPECT_EQ(t.settings.cflag, static_cast<std::uint32_t>(B115200 | CS8 | CREAD | CLOCAL));
    EXPECT_EQ(t.settings.iflag, static_cast<std::uint32_t>(IGNBRK));
    EXPECT_EQ(t.settings.oflag, 0u);
    EXPECT_EQ(t.settings.lflag, 0u);
    EXPECT_EQ(t.settings.baud, 115200u);
    EXPECT_FALSE(t.settings.customBaud);
    EXPECT_EQ(t.settings.dtr, ModemLine::Set);
    EXPECT_EQ(t.settings.rts, ModemLine::Set);
    EXPECT_EQ(t.settings.startChar, 0x11);
    EXPECT_EQ(t.settings.stopChar, 0x13);
}

TEST(DcbTermios, EveryBaudRateOfTheSettingsList)
{
    struct Rate {
        std::uint32_t rate;
        std::uint32_t speedBits;   // kOther: through BOTHER with the rate itself
    } const rates[] = {
        {110, B110},       {300, B300},       {600, B600},         {1200, B1200},
        {2400, B2400},     {4800, B4800},     {9600, B9600},       {14400, kOther},
        {19200, B19200},   {28800, kOther},   {38400, B38400},     {56000, kOther},
        {115200, B115200}, {230400, B230400}, {460800, B460800},   {921600, B921600},
        {250000, kOther},  {57600, B57600},   {3000000, B3000000}, {1, kOther},
    };
    for (const Rate& r : rates) {
        SCOPED_TRACE(r.rate);
        DCB dcb = DefaultDcb();
        dcb.BaudRate = r.rate;
        const DcbTranslation t = TranslateDcb(dcb);
        ASSERT_TRUE(t.ok) << t.refusal;
        EXPECT_EQ(t.settings.cflag & kSpeedMask, r.speedBits);
        EXPECT_EQ(t.settings.customBaud, r.speedBits == kOther);
        EXPECT_EQ(t.settings.baud, r.rate);
    }
    DCB zero = DefaultDcb();
    zero.BaudRate = 0;   // would hang the line up
    EXPECT_EQ(TranslateDcb(zero).refusal, "baud rate 0 cannot be set");
}

TEST(DcbTermios, ByteSizes)
{
    Walk({
        {"4", [](DCB& d) { d.ByteSize = 4; }, 0, 0, 0, 0, "byte size 4 cannot be set (5 to 8 data bits)"},
        {"5", [](DCB& d) { d.ByteSize = 5; }, CS5, CSIZE & ~CS5},
        {"6", [](DCB& d) { d.ByteSize = 6; }, CS6, CSIZE & ~CS6},
        {"7", [](DCB& d) { d.ByteSize = 7; }, CS7, CSIZE & ~CS7},
        {"8", [](DCB& d) { d.ByteSize = 8; }, CS8, 0},
        {"9", [](DCB& d) { d.ByteSize = 9; }, 0, 0, 0, 0, "byte size 9 cannot be set (5 to 8 data bits)"},
    });
}

TEST(DcbTermios, Parities)
{
    Walk({
        {"none", [](DCB& d) { d.Parity = NOPARITY; }, 0, PARENB | PARODD | CMSPAR},
        {"odd", [](DCB& d) { d.Parity = ODDPARITY; }, PARENB | PARODD, CMSPAR},
        {"even", [](DCB& d) { d.Parity = EVENPARITY; }, PARENB, PARODD | CMSPAR},
        {"mark: sticky parity bit 1", [](DCB& d) { d.Parity = MARKPARITY; }, PARENB | CMSPAR | PARODD, 0},
        {"space: sticky parity bit 0", [](DCB& d) { d.Parity = SPACEPARITY; }, PARENB | CMSPAR, PARODD},
        {"5", [](DCB& d) { d.Parity = 5; }, 0, 0, 0, 0, "parity 5 cannot be set"},
        // Parity checking of received bytes follows fParity, and only with a parity.
        {"even, checked", [](DCB& d) { d.Parity = EVENPARITY; d.fParity = 1; }, PARENB, 0, INPCK, 0},
        {"even, unchecked", [](DCB& d) { d.Parity = EVENPARITY; }, PARENB, 0, 0, INPCK},
        {"none, check asked", [](DCB& d) { d.fParity = 1; }, 0, PARENB, 0, INPCK},
    });
}

TEST(DcbTermios, StopBits)
{
    Walk({
        {"1 with 8", [](DCB& d) { d.StopBits = ONESTOPBIT; }, 0, CSTOPB},
        {"2 with 8", [](DCB& d) { d.StopBits = TWOSTOPBITS; }, CSTOPB | CS8, 0},
        {"2 with 6", [](DCB& d) { d.StopBits = TWOSTOPBITS; d.ByteSize = 6; }, CSTOPB | CS6, 0},
        {"1.5 with 5: CSTOPB on five bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; d.ByteSize = 5; }, CSTOPB | CS5,
         CSIZE & ~CS5},
        {"1.5 with 8", [](DCB& d) { d.StopBits = ONE5STOPBITS; }, 0, 0, 0, 0,
         "1.5 stop bits cannot be set with 8 data bits (only with 5)"},
        {"1.5 with 6", [](DCB& d) { d.StopBits = ONE5STOPBITS; d.ByteSize = 6; }, 0, 0, 0, 0,
         "1.5 stop bits cannot be set with 6 data bits (only with 5)"},
        {"2 with 5: the UART would send 1.5", [](DCB& d) { d.StopBits = TWOSTOPBITS; d.ByteSize = 5; }, 0, 0, 0, 0,
         "2 stop bits cannot be set with 5 data bits"},
        {"3", [](DCB& d) { d.StopBits = 3; }, 0, 0, 0, 0, "stop bits value 3 cannot be set"},
    });
}

TEST(DcbTermios, DtrAndRtsControlAndCtsFlow)
{
    struct Lines {
        const char* name;
        std::uint32_t dtr, rts, cts;
        ModemLine dtrLine, rtsLine;
        bool crtscts;
        const char* refusal;
    } const cases[] = {
        {"DTR disable", DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, 0, ModemLine::Clear, ModemLine::Set, false, nullptr},
        {"DTR enable", DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, 0, ModemLine::Set, ModemLine::Set, false, nullptr},
        {"DTR handshake", DTR_CONTROL_HANDSHAKE, RTS_CONTROL_ENABLE, 0, {}, {}, false,
         "DTR handshake cannot be set: Linux has no DTR flow control"},
        {"DTR 3", 3, RTS_CONTROL_ENABLE, 0, {}, {}, false, "DTR control 3 cannot be set"},
        {"RTS disable", DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, 0, ModemLine::Set, ModemLine::Clear, false, nullptr},
        {"RTS enable", DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, 0, ModemLine::Set, ModemLine::Set, false, nullptr},
        {"RTS handshake alone", DTR_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE, 0, {}, {}, false,
         "RTS handshake cannot be set without CTS output flow control: Linux switches both together (CRTSCTS)"},
        {"RTS toggle", DTR_CONTROL_ENABLE, RTS_CONTROL_TOGGLE, 0, {}, {}, false,
         "RTS toggle cannot be set: Linux has no RTS toggling"},
        {"CTS flow, RTS enable", DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, 1, ModemLine::Set, ModemLine::Set, true,
         nullptr},
        {"CTS flow, RTS handshake: the full hardware handshake", DTR_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE, 1,
         ModemLine::Set, ModemLine::Driver, true, nullptr},
        {"CTS flow, RTS disable", DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, 1, {}, {}, false,
         "CTS output flow control cannot be set with RTS disabled: Linux drives RTS itself under CTS flow control"},
    };
    for (const Lines& c : cases) {
        SCOPED_TRACE(c.name);
        DCB dcb = DefaultDcb();
        dcb.fDtrControl = c.dtr;
        dcb.fRtsControl = c.rts;
        dcb.fOutxCtsFlow = c.cts;
        const DcbTranslation t = TranslateDcb(dcb);
        if (c.refusal) {
            EXPECT_FALSE(t.ok);
            EXPECT_EQ(t.refusal, c.refusal);
            continue;
        }
        ASSERT_TRUE(t.ok) << t.refusal;
        EXPECT_EQ(t.settings.dtr, c.dtrLine);
        EXPECT_EQ(t.settings.rts, c.rtsLine);
        EXPECT_EQ((t.settings.cflag & CRTSCTS) != 0, c.crtscts);
    }
}

TEST(DcbTermios, XonXoffInAndOutWithTheRecordsCharacters)
{
    Walk({
        {"off", [](DCB&) {}, 0, 0, 0, IXON | IXOFF | IXANY},
        {"out", [](DCB& d) { d.fOutX = 1; }, 0, 0, IXON, IXOFF | IXANY},
        {"in", [](DCB& d) { d.fInX = 1; }, 0, 0, IXOFF, IXON | IXANY},
        {"both", [](DCB& d) { d.fOutX = 1; d.fInX = 1; }, 0, 0, IXON | IXOFF, IXANY},
        {"same characters", [](DCB& d) { d.fOutX = 1; d.XoffChar = 0x11; }, 0, 0, 0, 0,
         "XON/XOFF flow control cannot use the same character for Xon and Xoff"},
        {"same characters, no XON/XOFF", [](DCB& d) { d.XoffChar = 0x11; }, 0, 0, 0, IXON | IXOFF},
        {"DSR output flow", [](DCB& d) { d.fOutxDsrFlow = 1; }, 0, 0, 0, 0,
         "DSR output flow control cannot be set: Linux has no DSR flow control"},
    });

    DCB dcb = DefaultDcb();
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.XonChar = 0x21;
    dcb.XoffChar = static_cast<char>(0x93);
    const DcbTranslation t = TranslateDcb(dcb);
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.settings.startChar, 0x21);
    EXPECT_EQ(t.settings.stopChar, 0x93);
}

TEST(DcbTermios, FieldsLinuxHasNoSwitchForLeaveTheSettingsAsTheDefaults)
{
    const TermiosSettings defaults = TranslateDcb(DefaultDcb()).settings;
    const std::vector<std::pair<const char*, std::function<void(DCB&)>>> edits = {
        {"fBinary 0", [](DCB& d) { d.fBinary = 0; }},
        {"fDsrSensitivity", [](DCB& d) { d.fDsrSensitivity = 1; }},
        {"fTXContinueOnXoff", [](DCB& d) { d.fTXContinueOnXoff = 1; }},
        {"fErrorChar", [](DCB& d) { d.fErrorChar = 1; d.ErrorChar = '?'; }},
        {"fNull", [](DCB& d) { d.fNull = 1; }},
        {"fAbortOnError 0", [](DCB& d) { d.fAbortOnError = 0; }},
        {"XonLim 70000 & 0xFFFF", [](DCB& d) { d.XonLim = 4464; }},
        {"XoffLim 0", [](DCB& d) { d.XoffLim = 0; }},
        {"EofChar, EvtChar", [](DCB& d) { d.EofChar = 0x1A; d.EvtChar = 0x7E; }},
        {"reserved bits", [](DCB& d) { d.fDummy2 = 0x1FFFF; d.wReserved = 7; d.wReserved1 = 9; }},
    };
    for (const auto& [name, edit] : edits) {
        SCOPED_TRACE(name);
        DCB dcb = DefaultDcb();
        edit(dcb);
        const DcbTranslation t = TranslateDcb(dcb);
        ASSERT_TRUE(t.ok) << t.refusal;
        EXPECT_EQ(t.settings.cflag, defaults.cflag);
        EXPECT_EQ(t.settings.iflag, defaults.iflag);
        EXPECT_EQ(t.settings.oflag, defaults.oflag);
        EXPECT_EQ(t.settings.lflag, defaults.lflag);
        EXPECT_EQ(t.settings.dtr, defaults.dtr);
        EXPECT_EQ(t.settings.rts, defaults.rts);
    }
}

TEST(DcbTermios, ReadingSettingsBackChangesOnlyWhatTermiosReports)
{
    struct Case {
        const char* name;
        std::function<void(DCB&)> edit;
    } const cases[] = {
        {"9600 7E2", [](DCB& d) { d.BaudRate = 9600; d.ByteSize = 7; d.Parity = EVENPARITY; d.StopBits = TWOSTOPBITS; }},
        {"14400 5 mark 1.5", [](DCB& d) { d.BaudRate = 14400; d.ByteSize = 5; d.Parity = MARKPARITY;
                                           d.StopBits = ONE5STOPBITS; }},
        {"space, checked", [](DCB& d) { d.Parity = SPACEPARITY; d.fParity = 1; }},
        {"odd", [](DCB& d) { d.Parity = ODDPARITY; }},
        {"hardware handshake", [](DCB& d) { d.fOutxCtsFlow = 1; d.fRtsControl = RTS_CONTROL_HANDSHAKE; }},
        {"XON/XOFF with own characters", [](DCB& d) { d.fOutX = 1; d.fInX = 1; d.XonChar = 1; d.XoffChar = 2; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DCB applied = DefaultDcb();
        c.edit(applied);
        applied.XonLim = 1234;   // not reported by termios: must survive
        applied.fNull = 1;
        const DcbTranslation t = TranslateDcb(applied);
        ASSERT_TRUE(t.ok) << t.refusal;
        DCB read = DefaultDcb();
        read.XonLim = 1234;
        read.fNull = 1;
        read.fRtsControl = applied.fRtsControl;
        UpdateDcbFromTermios(read, t.settings);
        EXPECT_EQ(std::memcmp(&read, &applied, sizeof read), 0);
    }
}
