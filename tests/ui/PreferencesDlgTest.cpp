// SPDX-License-Identifier: GPL-2.0-or-later
// The port settings dialog, headless: what it shows for a record, what OK
// stores, and that Cancel and invalid input store nothing.
#include "PreferencesScript.h"
#include "support/FakePrompts.h"
#include "ui/DialogUnits.h"
#include "ui/WindowControls.h"
#include "ui/PreferencesDlg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

bool SameBytes(const DCB& a, const DCB& b)
{
    return std::memcmp(&a, &b, sizeof(DCB)) == 0;
}

struct PreferencesDlgTest : ::testing::Test {
    FakePrompts prompts;
    CPreferencesDlg dlg{prompts};

    void Show(const DCB& record)
    {
        dlg.m_dcb = record;
        ASSERT_TRUE(dlg.OnInitDialog());
    }
};

TEST_F(PreferencesDlgTest, DefaultRecordIsShown)
{
    Show(DefaultDcb());
    EXPECT_EQ(Child<QComboBox>(dlg, "IDC_BAUDRATE").currentText(), "115200");
    EXPECT_EQ(Child<QComboBox>(dlg, "IDC_BYTESIZE").currentText(), "8");
    EXPECT_EQ(Child<QComboBox>(dlg, "IDC_STOPBITS").currentText(), "1");
    EXPECT_EQ(Child<QComboBox>(dlg, "IDC_PARITY").currentText(), "None");
    EXPECT_EQ(Child<QComboBox>(dlg, "IDC_DTR_FLOW").currentText(), "Enable");
    EXPECT_EQ(Child<QComboBox>(dlg, "IDC_RTS_FLOW").currentText(), "Enable");

    const struct {
        const char* box;
        bool ticked;
    } boxes[] = {
        {"IDC_BINARY", true},          {"IDC_PARITY_CHECK", false},  {"IDC_CTS_FLOW", false},
        {"IDC_DSR_FLOW", false},       {"IDC_DSR_SENSITIVITY", false}, {"IDC_TX_CONTINUE", false},
        {"IDC_OUTX", false},           {"IDC_INX", false},           {"IDC_ERROR_REPLACE", false},
        {"IDC_NULL_STRIP", false},     {"IDC_ABORT_ON_ERROR", true},
    };
    for (const auto& b : boxes) {
        SCOPED_TRACE(b.box);
        EXPECT_EQ(Child<QCheckBox>(dlg, b.box).isChecked(), b.ticked);
    }

    EXPECT_EQ(Child<QLineEdit>(dlg, "IDC_XON_LIMIT").text(), "2048");
    EXPECT_EQ(Child<QLineEdit>(dlg, "IDC_XOFF_LIMIT").text(), "512");
    // The character edits hold the characters themselves; 0 shows as empty.
    EXPECT_EQ(Child<QLineEdit>(dlg, "IDC_XON_CHAR").text(), QString(QChar(0x11)));
    EXPECT_EQ(Child<QLineEdit>(dlg, "IDC_XOFF_CHAR").text(), QString(QChar(0x13)));
    EXPECT_EQ(Child<QLineEdit>(dlg, "IDC_ERROR_CHAR").text(), QString());
    EXPECT_EQ(Child<QLineEdit>(dlg, "IDC_EOF_CHAR").text(), QString());
    EXPECT_EQ(Child<QLineEdit>(dlg, "IDC_EVT_CHAR").text(), QString());
}

// Records OK must hand back byte for byte when nothing was touched, including
// the fields the dialog has no control for and values the lists lack.
TEST_F(PreferencesDlgTest, OkWithoutChangeKeepsAll28Bytes)
{
    struct Case {
        const char* name;
        std::function<void(DCB&)> edit;
    };
    const Case cases[] = {
        {"default record", [](DCB&) {}},
        {"bits 15-31, length and reserved words",
         [](DCB& d) {
             SetDcbFlagWord(d, DcbFlagWord(d) | 0xFFFF8000u);
             d.DCBlength = 12345;
             d.wReserved = 0xA55A;
             d.wReserved1 = 0x5AA5;
         }},
        {"every character, high octets too",
         [](DCB& d) {
             d.XonChar = 'Q';
             d.XoffChar = static_cast<char>(0x80);
             d.ErrorChar = static_cast<char>(0xFF);
             d.EofChar = 0x1A;
             d.EvtChar = 0x7E;
         }},
        {"rate the list lacks (prefix of 460800)", [](DCB& d) { d.BaudRate = 460; }},
        {"rate the list lacks (not a prefix)", [](DCB& d) { d.BaudRate = 250000; }},
        {"byte size the list lacks", [](DCB& d) { d.ByteSize = 9; }},
        {"stop bits past the list", [](DCB& d) { d.StopBits = 7; }},
        {"parity past the list", [](DCB& d) { d.Parity = 200; }},
        {"DTR value 3", [](DCB& d) { d.fDtrControl = 3; }},
        {"every listed value at its far end",
         [](DCB& d) {
             d.BaudRate = 110;
             d.ByteSize = 4;
             d.StopBits = TWOSTOPBITS;
             d.Parity = SPACEPARITY;
             d.fDtrControl = DTR_CONTROL_HANDSHAKE;
             d.fRtsControl = RTS_CONTROL_TOGGLE;
             SetDcbFlagWord(d, DcbFlagWord(d) | 0x4FCF);
             d.XonLim = 65535;
             d.XoffLim = 0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DCB record = DefaultDcb();
        c.edit(record);
        CPreferencesDlg fresh(prompts);
        fresh.m_dcb = record;
        fresh.OnInitDialog();
        fresh.OnOK();
        EXPECT_EQ(fresh.result(), IDOK);
        EXPECT_TRUE(SameBytes(fresh.m_dcb, record));
    }
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(PreferencesDlgTest, ComboChoiceStoresItsValue)
{
    struct Case {
        const char* combo;
        const char* entry;
        std::function<std::uint32_t(const DCB&)> field;
        std::uint32_t stored;
    };
    const auto baud = [](const DCB& d) { return d.BaudRate; };
    const auto size = [](const DCB& d) { return std::uint32_t{d.ByteSize}; };
    const auto stop = [](const DCB& d) { return std::uint32_t{d.StopBits}; };
    const auto parity = [](const DCB& d) { return std::uint32_t{d.Parity}; };
    const auto dtr = [](const DCB& d) { return (DcbFlagWord(d) >> 4) & 3u; };
    const auto rts = [](const DCB& d) { return (DcbFlagWord(d) >> 12) & 3u; };
    const Case cases[] = {
        {"IDC_BAUDRATE", "110", baud, 110},          {"IDC_BAUDRATE", "9600", baud, 9600},
        {"IDC_BAUDRATE", "56000", baud, 56000},      {"IDC_BAUDRATE", "921600", baud, 921600},
        {"IDC_BYTESIZE", "4", size, 4},              {"IDC_BYTESIZE", "7", size, 7},
        {"IDC_STOPBITS", "1.5", stop, ONE5STOPBITS}, {"IDC_STOPBITS", "2", stop, TWOSTOPBITS},
        {"IDC_PARITY", "Odd", parity, ODDPARITY},    {"IDC_PARITY", "Even", parity, EVENPARITY},
        {"IDC_PARITY", "Mask", parity, MARKPARITY},  {"IDC_PARITY", "Space", parity, SPACEPARITY},
        {"IDC_DTR_FLOW", "Disable", dtr, DTR_CONTROL_DISABLE},
        {"IDC_DTR_FLOW", "Handshake", dtr, DTR_CONTROL_HANDSHAKE},
        {"IDC_RTS_FLOW", "Disable", rts, RTS_CONTROL_DISABLE},
        {"IDC_RTS_FLOW", "Handshake", rts, RTS_CONTROL_HANDSHAKE},
        {"IDC_RTS_FLOW", "Toggle", rts, RTS_CONTROL_TOGGLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.combo) + " " + c.entry);
        CPreferencesDlg fresh(prompts);
        fresh.m_dcb = DefaultDcb();
        fresh.OnInitDialog();
        Choose(fresh, c.combo, c.entry);
        fresh.OnOK();
        EXPECT_EQ(c.field(fresh.m_dcb), c.stored);
        // the two-bit fields change nothing around them
        DCB expected = DefaultDcb();
        DCB got = fresh.m_dcb;
        got.BaudRate = expected.BaudRate;
        got.ByteSize = expected.ByteSize;
        got.StopBits = expected.StopBits;
        got.Parity = expected.Parity;
        SetDcbFlagWord(got, DcbFlagWord(got) & ~0x3030u);
        SetDcbFlagWord(expected, DcbFlagWord(expected) & ~0x3030u);
        EXPECT_TRUE(SameBytes(got, expected));
    }
}

TEST_F(PreferencesDlgTest, EachCheckBoxTogglesItsOwnBit)
{
    const struct {
        const char* box;
        unsigned bit;
    } boxes[] = {
        {"IDC_BINARY", 0},   {"IDC_PARITY_CHECK", 1}, {"IDC_CTS_FLOW", 2},       {"IDC_DSR_FLOW", 3},
        {"IDC_DSR_SENSITIVITY", 6}, {"IDC_TX_CONTINUE", 7}, {"IDC_OUTX", 8},     {"IDC_INX", 9},
        {"IDC_ERROR_REPLACE", 10}, {"IDC_NULL_STRIP", 11}, {"IDC_ABORT_ON_ERROR", 14},
    };
    for (const auto& b : boxes) {
        SCOPED_TRACE(b.box);
        CPreferencesDlg fresh(prompts);
        fresh.m_dcb = DefaultDcb();
        SetDcbFlagWord(fresh.m_dcb, DcbFlagWord(fresh.m_dcb) | 0x80000000u);   // an untouched high bit
        fresh.OnInitDialog();
        Child<QCheckBox>(fresh, b.box).click();
        fresh.OnOK();
        EXPECT_EQ(DcbFlagWord(fresh.m_dcb), (0x80005011u ^ (1u << b.bit)));
    }
}

TEST_F(PreferencesDlgTest, TickingOnlyInXGives0x5211)
{
    Show(DefaultDcb());
    Child<QCheckBox>(dlg, "IDC_INX").click();
    dlg.OnOK();
    EXPECT_EQ(DcbFlagWord(dlg.m_dcb), 0x5211u);
    EXPECT_EQ(dlg.result(), IDOK);
}

TEST_F(PreferencesDlgTest, ThresholdsKeepTheirLow16Bits)
{
    const struct {
        const char* xon;
        const char* xoff;
        std::uint16_t xonLim, xoffLim;
    } cases[] = {
        {"70000", "512", 4464, 512},
        {"2048", "70000", 2048, 4464},
        {"65535", "65536", 65535, 0},
        {"0", "00017", 0, 17},
        {" 42 ", "2147483647", 42, 0xFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.xon) + " / " + c.xoff);
        CPreferencesDlg fresh(prompts);
        fresh.m_dcb = DefaultDcb();
        fresh.OnInitDialog();
        Child<QLineEdit>(fresh, "IDC_XON_LIMIT").setText(QString::fromLatin1(c.xon));
        Child<QLineEdit>(fresh, "IDC_XOFF_LIMIT").setText(QString::fromLatin1(c.xoff));
        fresh.OnOK();
        EXPECT_EQ(fresh.result(), IDOK);
        EXPECT_EQ(fresh.m_dcb.XonLim, c.xonLim);
        EXPECT_EQ(fresh.m_dcb.XoffLim, c.xoffLim);
    }
    EXPECT_TRUE(prompts.boxes.empty());
}

// A threshold that is not a number the record can take keeps the dialog open:
// one prompt, the focus on that edit, and nothing of the other controls stored.
TEST_F(PreferencesDlgTest, InvalidThresholdKeepsTheDialogOpen)
{
    const struct {
        const char* name;
        const char* edit;
        const char* text;
    } cases[] = {
        {"empty XON", "IDC_XON_LIMIT", ""},
        {"empty XOFF", "IDC_XOFF_LIMIT", ""},
        {"blanks only", "IDC_XON_LIMIT", "   "},
        {"letters", "IDC_XOFF_LIMIT", "12ab"},
        {"negative", "IDC_XON_LIMIT", "-5"},
        {"past 32 bits", "IDC_XON_LIMIT", "99999999999"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePrompts local;
        CPreferencesDlg modal(local);
        modal.m_dcb = DefaultDcb();
        bool stillOpen = false;
        bool focusOnEdit = false;
        DCB afterFailedOk{};
        WhenModal([&](CPreferencesDlg& d) {
            Choose(d, "IDC_PARITY", "Mask");
            Child<QCheckBox>(d, "IDC_INX").click();
            QLineEdit& edit = Child<QLineEdit>(d, c.edit);
            edit.setText(QString::fromLatin1(c.text));
            Child<QPushButton>(d, "IDOK").click();
            stillOpen = d.isVisible();
            focusOnEdit = d.focusWidget() == &edit;
            afterFailedOk = d.m_dcb;
            edit.setText(QStringLiteral("100"));
            Child<QPushButton>(d, "IDOK").click();
        });
        EXPECT_EQ(modal.DoModal(), IDOK);
        EXPECT_TRUE(stillOpen);
        EXPECT_TRUE(focusOnEdit);
        EXPECT_TRUE(SameBytes(afterFailedOk, DefaultDcb()));
        ASSERT_EQ(local.boxes.size(), 1u);
        EXPECT_EQ(local.boxes[0].text, QString::fromLatin1(CPreferencesDlg::kNumberPrompt));
        // the corrected second attempt stores everything
        EXPECT_EQ(modal.m_dcb.Parity, MARKPARITY);
        EXPECT_EQ(DcbFlagWord(modal.m_dcb), 0x5211u);
    }
}

TEST_F(PreferencesDlgTest, CancelStoresNothing)
{
    const struct {
        const char* name;
        std::function<void(CPreferencesDlg&)> leave;
    } ways[] = {
        {"Cancel button", [](CPreferencesDlg& d) { Child<QPushButton>(d, "IDCANCEL").click(); }},
        {"close box", [](CPreferencesDlg& d) { d.close(); }},
        {"Esc", [](CPreferencesDlg& d) { PressKey(d, Qt::Key_Escape); }},
    };
    for (const auto& w : ways) {
        SCOPED_TRACE(w.name);
        CPreferencesDlg modal(prompts);
        modal.m_dcb = DefaultDcb();
        WhenModal([&](CPreferencesDlg& d) {
            Choose(d, "IDC_BAUDRATE", "9600");
            Choose(d, "IDC_RTS_FLOW", "Toggle");
            Child<QCheckBox>(d, "IDC_OUTX").click();
            Child<QLineEdit>(d, "IDC_XON_LIMIT").setText(QStringLiteral("7"));
            w.leave(d);
        });
        EXPECT_EQ(modal.DoModal(), IDCANCEL);
        EXPECT_TRUE(SameBytes(modal.m_dcb, DefaultDcb()));
    }
}

TEST_F(PreferencesDlgTest, TemplateListsAndTabOrder)
{
    EXPECT_EQ(dlg.objectName(), "IDD_PREFERENCES");
    EXPECT_EQ(dlg.windowTitle(), "Preferences");
    EXPECT_EQ(int{CPreferencesDlg::IDD}, int{IDD_PREFERENCES});
    const DialogUnits du(dlg.font());
    EXPECT_EQ(dlg.size(), du.Size(220, 186));
    EXPECT_EQ(Child<QPushButton>(dlg, "IDOK").geometry(), du.Rect(163, 165, 50, 14));
    EXPECT_EQ(Child<QLineEdit>(dlg, "IDC_EVT_CHAR").geometry(), du.Rect(87, 166, 16, 14));
    EXPECT_TRUE(Child<QPushButton>(dlg, "IDOK").isDefault());

    const struct {
        const char* combo;
        QStringList entries;
    } lists[] = {
        {"IDC_BAUDRATE", {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "28800", "38400",
                          "56000", "115200", "230400", "460800", "921600"}},
        {"IDC_BYTESIZE", {"4", "5", "6", "7", "8"}},
        {"IDC_STOPBITS", {"1", "1.5", "2"}},
        {"IDC_PARITY", {"None", "Odd", "Even", "Mask", "Space"}},
        {"IDC_DTR_FLOW", {"Disable", "Enable", "Handshake"}},
        {"IDC_RTS_FLOW", {"Disable", "Enable", "Handshake", "Toggle"}},
    };
    for (const auto& l : lists) {
        SCOPED_TRACE(l.combo);
        QComboBox& combo = Child<QComboBox>(dlg, l.combo);
        QStringList entries;
        for (int i = 0; i < combo.count(); ++i)
            entries << combo.itemText(i);
        EXPECT_EQ(entries, l.entries);
        EXPECT_EQ(combo.currentIndex(), -1);   // nothing selected before OnInitDialog
    }

    // Every control but the labels is a tab stop, in template order.
    const QStringList order = {
        "IDOK", "IDCANCEL", "IDC_BAUDRATE", "IDC_BYTESIZE", "IDC_STOPBITS", "IDC_PARITY", "IDC_DTR_FLOW",
        "IDC_RTS_FLOW", "IDC_BINARY", "IDC_PARITY_CHECK", "IDC_CTS_FLOW", "IDC_DSR_FLOW", "IDC_DSR_SENSITIVITY",
        "IDC_TX_CONTINUE", "IDC_OUTX", "IDC_INX", "IDC_ERROR_REPLACE", "IDC_NULL_STRIP", "IDC_ABORT_ON_ERROR",
        "IDC_XON_LIMIT", "IDC_XOFF_LIMIT", "IDC_XON_CHAR", "IDC_XOFF_CHAR", "IDC_ERROR_CHAR", "IDC_EOF_CHAR",
        "IDC_EVT_CHAR"};
    QStringList chain;
    QWidget* w = &Child<QPushButton>(dlg, "IDOK");
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            chain << w->objectName();
        w = w->nextInFocusChain();
    } while (w != &Child<QPushButton>(dlg, "IDOK") && chain.size() <= order.size());
    EXPECT_EQ(chain, order);

    for (const char* name : {"IDC_XON_CHAR", "IDC_XOFF_CHAR", "IDC_ERROR_CHAR", "IDC_EOF_CHAR", "IDC_EVT_CHAR"})
        EXPECT_TRUE(Child<QLineEdit>(dlg, name).isReadOnly()) << name;
}

// "Setting..." on the main window: the port's record changes on OK only, and
// the port stays closed.
TEST(OnSettingTest, PortRecordChangesOnOkOnly)
{
    FakePrompts prompts;
    COrvaneDlg main(prompts);
    const DCB before = main.m_SerialPort.m_dcb;
    ASSERT_TRUE(SameBytes(before, DefaultDcb()));

    WhenModal([](CPreferencesDlg& d) {
        EXPECT_EQ(Child<QComboBox>(d, "IDC_BAUDRATE").currentText(), "115200");
        Choose(d, "IDC_BAUDRATE", "9600");
        Child<QPushButton>(d, "IDCANCEL").click();
    });
    main.OnSetting();
    EXPECT_TRUE(SameBytes(main.m_SerialPort.m_dcb, before));

    WhenModal([](CPreferencesDlg& d) {
        Choose(d, "IDC_BAUDRATE", "9600");
        Choose(d, "IDC_STOPBITS", "2");
        PressKey(d, Qt::Key_Return);   // the default button
    });
    main.OnSetting();
    EXPECT_EQ(main.m_SerialPort.m_dcb.BaudRate, 9600u);
    EXPECT_EQ(main.m_SerialPort.m_dcb.StopBits, TWOSTOPBITS);
    EXPECT_FALSE(PortOpen(main));

    // the next run starts from the record as it now is
    WhenModal([](CPreferencesDlg& d) {
        EXPECT_EQ(Child<QComboBox>(d, "IDC_BAUDRATE").currentText(), "9600");
        EXPECT_EQ(Child<QComboBox>(d, "IDC_STOPBITS").currentText(), "2");
        Child<QPushButton>(d, "IDOK").click();
    });
    main.OnSetting();
    EXPECT_EQ(main.m_SerialPort.m_dcb.BaudRate, 9600u);
    EXPECT_TRUE(prompts.boxes.empty());
}

}  // namespace
