// SPDX-License-Identifier: GPL-2.0-or-later
// Send in every mode and the display of received data, through the real window
// with the test playing the modem at the far end of a pseudo-terminal.
#include "DialogFixture.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

namespace {

struct SendCase {
    const char* name;
    int mode;
    const char* command;
    bool addCR, addLF;
    Bytes wire;            // what the modem receives; empty: nothing is sent
    const char* status;
};

const SendCase kSendCases[] = {
    {"dm at ATI is framed", MODE_DM_AT, "ATI", true, true, ReferenceFrame({0x5E, 'A', 'T', 'I', 0x0D}), "Sent"},
    {"dm at empty line", MODE_DM_AT, "", true, true, ReferenceFrame({0x5E, 0x0D}), "Sent"},
    {"ascii CR and LF", MODE_ASCII, "AT", true, true, {0x41, 0x54, 0x0D, 0x0A}, "Sent"},
    {"ascii CR only", MODE_ASCII, "AT", true, false, {0x41, 0x54, 0x0D}, "Sent"},
    {"ascii LF only", MODE_ASCII, "AT", false, true, {0x41, 0x54, 0x0A}, "Sent"},
    {"ascii neither", MODE_ASCII, "AT", false, false, {0x41, 0x54}, "Sent"},
    {"ascii empty, neither", MODE_ASCII, "", false, false, {}, "Not Sent..."},
    {"ascii empty, CR", MODE_ASCII, "", true, false, {0x0D}, "Sent"},
    {"hex both options frame", MODE_HEX, "7e 00 ff", true, true, ReferenceFrame({0x7E, 0x00, 0xFF}), "Sent"},
    {"hex CRC only is raw", MODE_HEX, "7e 00 ff", true, false, {0x7E, 0x00, 0xFF}, "Sent"},
    {"hex 0x7E only is raw", MODE_HEX, "7E 00 FF", false, true, {0x7E, 0x00, 0xFF}, "Sent"},
    {"hex upper equals lower", MODE_HEX, "7E 00 FF", true, true, ReferenceFrame({0x7E, 0x00, 0xFF}), "Sent"},
    {"hex empty, one option", MODE_HEX, "", true, false, {}, "Not Sent..."},
    {"hex empty, both: empty frame", MODE_HEX, "", true, true, {0x00, 0x00, 0x7E}, "Sent"},
    {"hex tabs and spaces", MODE_HEX, "  1 2\t3", false, false, {0x01, 0x02, 0x03}, "Sent"},
};

}  // namespace

TEST_F(DialogTest, SendPutsEachModesPacketOnTheWire)
{
    Connect();
    for (const SendCase& c : kSendCases) {
        SCOPED_TRACE(c.name);
        ClickMode(c.mode);
        ASSERT_EQ(dlg->m_nMode, c.mode);
        Check(*dlg, "IDC_ADD_CR").setChecked(c.addCR);
        Check(*dlg, "IDC_ADD_LF").setChecked(c.addLF);
        SetCommand(QString::fromLatin1(c.command));
        dlg->OnSend();
        EXPECT_EQ(Status(), QString::fromLatin1(c.status));
        const Bytes got = c.wire.empty() ? pty.ReceiveUntilQuiet(std::chrono::milliseconds(150))
                                         : pty.Receive(c.wire.size() + 1, std::chrono::milliseconds(400));
        EXPECT_EQ(got, c.wire);
        EXPECT_EQ(LineEdit(*dlg, "IDC_COMMAND").text(), QString::fromLatin1(c.command)) << "the command line is not changed";
    }
}

TEST_F(DialogTest, SendWithoutAConnectionOnlyAsksToConnect)
{
    for (int radio : {MODE_DM_AT, MODE_HEX, MODE_ASCII,
                                            MODE_LOG_CLIENT, MODE_LOG_SERVER}) {
        ClickMode(radio);
        SetCommand("ATI");
        Button(*dlg, "IDC_SEND").setFocus();
        dlg->OnSend();
        ASSERT_FALSE(prompts.boxes.empty());
        EXPECT_EQ(prompts.boxes.back().text, "You do not connect to the device yet");
        EXPECT_EQ(prompts.boxes.back().icon, IPrompts::Icon::None);
        EXPECT_EQ(dlg->focusWidget(), &Button(*dlg, "IDC_CONNECT"));
        EXPECT_TRUE(Status().isEmpty());
    }
    EXPECT_EQ(prompts.boxes.size(), 5u);
    EXPECT_TRUE(prompts.filters.isEmpty()) << "no file dialog without a connection";
    EXPECT_TRUE(pty.ReceiveUntilQuiet(std::chrono::milliseconds(100)).empty());
}

TEST_F(DialogTest, AFrameTooLongForTheFramerIsNotSent)
{
    Connect();
    ClickMode(MODE_HEX);
    QString line;
    for (int i = 0; i < 2000; ++i)
        line += QStringLiteral("%1 ").arg(i % 256, 2, 16, QLatin1Char('0'));
    SetCommand(line);
    Check(*dlg, "IDC_ADD_CR").setChecked(true);
    Check(*dlg, "IDC_ADD_LF").setChecked(true);
    dlg->OnSend();
    EXPECT_EQ(Status(), "Not Sent...");
    EXPECT_TRUE(pty.ReceiveUntilQuiet(std::chrono::milliseconds(200)).empty());

    // The same line unframed is 2000 bytes and goes out whole.
    Check(*dlg, "IDC_ADD_LF").setChecked(false);
    dlg->OnSend();
    EXPECT_EQ(Status(), "Sent");
    EXPECT_EQ(pty.Receive(2001, std::chrono::seconds(2)).size(), 2000u);
}

TEST_F(DialogTest, HexTokensPastTheBufferAreNotStored)
{
    Connect();
    ClickMode(MODE_HEX);
    Check(*dlg, "IDC_ADD_CR").setChecked(false);
    QString line;
    for (int i = 0; i < 3000; ++i)
        line += QStringLiteral("41 ");
    SetCommand(line);
    dlg->OnSend();
    EXPECT_EQ(dlg->m_nTxLen, kTxBufSize);
    EXPECT_EQ(Status(), "Sent");
    EXPECT_EQ(pty.Receive(kTxBufSize + 1, std::chrono::seconds(2)), Bytes(kTxBufSize, 0x41));
}

TEST_F(DialogTest, TextLinesLongerThanThePacketBufferAreNotSent)
{
    Connect();
    struct Case {
        const char* name;
        int radio;
        int length;
        std::size_t wire;   // bytes on the wire; 0: refused
    };
    const Case cases[] = {
        {"dm at, 2046 characters cannot be framed whole", MODE_DM_AT, 2046, 0},
        {"dm at, longer than the buffer", MODE_DM_AT, 3000, 0},
        {"ascii, 2046 characters and CR LF fill the buffer", MODE_ASCII, 2046, 2048},
        {"ascii, longer than the buffer", MODE_ASCII, 2047, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClickMode(c.radio);
        Check(*dlg, "IDC_ADD_CR").setChecked(true);
        Check(*dlg, "IDC_ADD_LF").setChecked(true);
        SetCommand(QString(c.length, QLatin1Char('A')));
        dlg->OnSend();
        EXPECT_EQ(Status(), c.wire ? "Sent" : "Not Sent...");
        EXPECT_EQ(pty.ReceiveUntilQuiet(std::chrono::milliseconds(200)).size(), c.wire);
    }
}

TEST_F(DialogTest, AStalledDeviceEndsOnNotSent)
{
    Connect();
    ClickMode(MODE_ASCII);
    // Output suspended as if the modem had sent XOFF: the write cannot finish.
    const int tty = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(tty, 0);
    ASSERT_EQ(tcflow(tty, TCOOFF), 0);
    SetCommand(QString(2000, QLatin1Char('x')));
    QString status;
    for (int attempt = 0; attempt < 200 && status != "Not Sent..."; ++attempt) {
        dlg->OnSend();
        status = Status();
    }
    EXPECT_EQ(status, "Not Sent...");
    tcflow(tty, TCOON);
    close(tty);
}

TEST_F(DialogTest, ReceivedChunksShowInTheModesForm)
{
    Connect();
    ClickMode(MODE_HEX);
    pty.Send({0x7E, 0x00, 0x41});
    ASSERT_TRUE(WaitUntil([&] { return RxTotal(*dlg) == 3; }));
    EXPECT_EQ(Results(), "7E 00 41 ");
    EXPECT_EQ(Status(), "Received 3 bytes...");

    dlg->OnClearResults();
    ClickMode(MODE_ASCII);
    pty.Send({0x4F, 0x4B, 0x0D, 0x0A});
    ASSERT_TRUE(WaitUntil([&] { return RxTotal(*dlg) == 4; }));
    EXPECT_EQ(Results(), "OK\n");
    EXPECT_EQ(Status(), "Received 4 bytes...");
}

TEST_F(DialogTest, DisplayRulesPerChunk)
{
    ClickMode(MODE_ASCII);
    Deliver({0x41, 0x00, 0x42});
    EXPECT_EQ(Results(), "A");

    dlg->OnClearResults();
    EXPECT_EQ(RxTotal(*dlg), 0);
    EXPECT_EQ(Status(), "Received 3 bytes...") << "the count stays until the next chunk";
    ResultsBox(*dlg).clear();
    dlg->m_nShownBytes = 0;

    // The box is emptied once more than 512 bytes were shown in it.
    ClickMode(MODE_HEX);
    Deliver(Bytes(300, 0x11));
    Deliver(Bytes(212, 0x22));
    EXPECT_EQ(dlg->m_nShownBytes, 512u);
    EXPECT_EQ(Results().size(), 512 * 3);
    Deliver({0x33});
    EXPECT_EQ(dlg->m_nShownBytes, 0u);
    EXPECT_EQ(Results(), "33 ");
    EXPECT_EQ(Status(), "Received 513 bytes...");

    dlg->OnClearResults();
    Deliver(Bytes(5, 0x44));
    EXPECT_EQ(Status(), "Received 5 bytes...");
}

TEST_F(DialogTest, AFullChunkInHexShowsEveryByte)
{
    ClickMode(MODE_HEX);
    Bytes chunk(8192);
    for (std::size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<std::uint8_t>(i * 7);
    Deliver(chunk);
    const QString text = Results();
    ASSERT_EQ(text.size(), 24576);
    EXPECT_EQ(text.left(9), "00 07 0E ");
    EXPECT_EQ(text.right(3), QStringLiteral("%1 ").arg(static_cast<std::uint8_t>(8191 * 7), 2, 16, QLatin1Char('0')).toUpper());
    EXPECT_EQ(g_szRxText.back(), '\0');
}

TEST_F(DialogTest, LogClientCountsWithoutShowing)
{
    ClickMode(MODE_LOG_CLIENT);
    Deliver({0x7E, 0x7D, 0x5E, 0x7E});
    EXPECT_TRUE(Results().isEmpty());
    EXPECT_EQ(Status(), "Received 4 bytes...");
}

TEST_F(DialogTest, CharacterToHex)
{
    struct Case {
        QString input;
        const char* hex;
    };
    const Case cases[] = {{"A", "41"}, {"a", "61"}, {" ", "20"}, {"AB", "41"}, {QString(QChar(0xE9)), "E9"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        LineEdit(*dlg, "IDC_CHAR").setText(c.input);
        dlg->OnCharToHex();
        EXPECT_EQ(Label(*dlg, "IDC_HEX_VALUE").text(), c.hex);
    }
    LineEdit(*dlg, "IDC_CHAR").clear();
    dlg->OnCharToHex();
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Please enter an Ascii character");
    EXPECT_EQ(dlg->focusWidget(), &LineEdit(*dlg, "IDC_CHAR"));
    EXPECT_EQ(Label(*dlg, "IDC_HEX_VALUE").text(), "E9") << "the last value stays";
}
