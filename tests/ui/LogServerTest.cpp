// SPDX-License-Identifier: GPL-2.0-or-later
// The Log server end to end: the test plays the DM client at the master end of
// a pseudo-terminal, the real dialog plays the modem at the slave end.
#include "logserver/CannedReplies.h"
#include "LogServerFarEnd.h"
#include "support/Fixtures.h"
#include "support/Pty.h"
#include "support/SampleData.h"
#include "ui/WindowControls.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace logserver_test;

Bytes Fixed(std::uint8_t command)
{
    const auto bytes = CannedReplyBytes(command);
    return Bytes(bytes.begin(), bytes.end());
}

Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// 0x13, then the request chunk as received (escapes and all) from its command
// byte: min(length - 2, 17) bytes in all.
Bytes BadCommand(const Bytes& chunk)
{
    const std::size_t n = std::min<std::size_t>(chunk.size() - 2, 17);
    Bytes reply = {0x13};
    reply.insert(reply.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n - 1));
    return reply;
}

Bytes Pattern(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 13 + i / 251);
    return b;
}

const QString kLogFileFilter = QStringLiteral("Log file(*.bin;*.txt)|*.bin;*.txt|");

class LogServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_ports.Link("COM1", m_pty.SlavePath());
        ClickMode(m_dlg, MODE_LOG_SERVER);
        ASSERT_EQ(m_dlg.m_nMode, MODE_LOG_SERVER);
        m_dlg.OnConnect();
        ASSERT_TRUE(PortOpen(m_dlg)) << m_dlg.m_SerialPort.GetLastErrorText();
    }

    // Hands a chunk to the receive handler as the reader thread would, without
    // running the window's queue: its reply stays pending.
    void Deliver(const Bytes& chunk) { m_dlg.OnCommRxChar(chunk); }

    // Sends a log file through the Send button as the user picks it.
    Bytes Replay(const QString& path, std::size_t expected)
    {
        m_prompts.answers.push_back(path);
        BackgroundReader reader(m_pty.Master(), expected);
        m_dlg.OnSend();
        return reader.Take();
    }

    FakePrompts m_prompts;
    PtyPair m_pty;
    PortDir m_ports;
    TempDir m_dir;
    COrvaneDlg m_dlg{m_prompts};
};

}  // namespace

TEST(LogServerFrame, TestFramerSpellsTheWireFormat)
{
    EXPECT_EQ(HdlcFrame({0x60, 0x01}), (Bytes{0x60, 0x01, 0x9B, 0x7B, 0x7E}));
    EXPECT_EQ(HdlcFrame({0x7E, 0x7D, 0x00}), (Bytes{0x7D, 0x5E, 0x7D, 0x5D, 0x00, 0xB3, 0x16, 0x7E}));
}

TEST_F(LogServer, AnswersEachRequestWithTheFrameOfItsReply)
{
    Bytes echo(133);
    for (std::size_t i = 0; i < echo.size(); ++i)
        echo[i] = static_cast<std::uint8_t>(0x26 + i % 0x50);   // no flag or escape byte in the payload
    Bytes diag = Pattern(20);
    diag[0] = 0x3F;
    Bytes echoReply(echo.begin(), echo.begin() + 131);
    echoReply.insert(echoReply.end(), {0x05, 0x00});
    struct Case {
        const char* name;
        Bytes request;   // payload; the far end frames it
        Bytes reply;     // payload; the tool frames it
    };
    const Case cases[] = {
        {"version 00", {0x00}, Fixed(0x00)},
        {"7C", {0x7C}, Fixed(0x7C)},
        {"1C", {0x1C}, Fixed(0x1C)},
        {"1D", {0x1D}, Fixed(0x1D)},
        {"4B 04 0E", {0x4B, 0x04, 0x0E}, Fixed(0x4B)},
        {"51", {0x51}, Fixed(0x51)},
        {"bad command 0C", {0x0C}, BadCommand(HdlcFrame({0x0C}))},
        {"4B 05 0E", {0x4B, 0x05, 0x0E}, BadCommand(HdlcFrame({0x4B, 0x05, 0x0E}))},
        {"3F with 20 bytes", diag, BadCommand(HdlcFrame(diag))},
        {"26 echo", echo, echoReply},
    };
    ASSERT_EQ(cases[0].reply.size(), 55u);
    ASSERT_EQ(cases[8].reply.size(), 17u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes expected = HdlcFrame(c.reply);
        m_pty.Send(HdlcFrame(c.request));
        EXPECT_EQ(ReadPumping(m_pty.Master(), expected.size()), expected);
    }
    EXPECT_TRUE(ReadPumpingUntilQuiet(m_pty.Master()).empty());
}

TEST_F(LogServer, UnansweredRequestsGetNothing)
{
    const Bytes at = {'A', 'T', '$', 'Q', 'C', 'D', 'M', 'G', 0x0D};
    m_pty.Send(at);
    m_pty.Send(HdlcFrame({0x10, 0x00}));
    EXPECT_TRUE(ReadPumpingUntilQuiet(m_pty.Master()).empty());
    EXPECT_GT(RxTotal(m_dlg), 0);
}

TEST_F(LogServer, TwoRequestsInQuickSuccessionGetTwoRepliesInOrder)
{
    auto& port = m_dlg.m_SerialPort;
    m_pty.Send(HdlcFrame({0x00}));
    // Wait (without running the window) until the reader holds the first
    // request, so the second cannot join it in one chunk.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!port.HandOverWaiting()) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "the reader never took the first request";
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_pty.Send(HdlcFrame({0x7C}));

    const Bytes expected = Concat(HdlcFrame(Fixed(0x00)), HdlcFrame(Fixed(0x7C)));
    EXPECT_EQ(ReadPumping(m_pty.Master(), expected.size()), expected);
    EXPECT_TRUE(ReadPumpingUntilQuiet(m_pty.Master()).empty());
}

TEST_F(LogServer, PendingRepliesKeepTheirOwnBytes)
{
    // Two requests handled before either reply is sent, then m_TxBuf rebuilt
    // as Send or a configuration step would.
    Deliver(HdlcFrame({0x00}));
    Deliver(HdlcFrame({0x1D}));
    m_dlg.m_TxBuf.fill(0x55);

    const Bytes expected = Concat(HdlcFrame(Fixed(0x00)), HdlcFrame(Fixed(0x1D)));
    EXPECT_EQ(ReadPumping(m_pty.Master(), expected.size()), expected);
    EXPECT_TRUE(ReadPumpingUntilQuiet(m_pty.Master()).empty());
}

TEST_F(LogServer, NoReplyAfterTheModeHasLeftLogServer)
{
    Deliver(HdlcFrame({0x00}));
    ClickMode(m_dlg, MODE_LOG_CLIENT);
    ASSERT_EQ(m_dlg.m_nMode, MODE_LOG_CLIENT);
    EXPECT_TRUE(ReadPumpingUntilQuiet(m_pty.Master()).empty());

    // Back in Log server mode, the next request gets its own reply and only that.
    ClickMode(m_dlg, MODE_LOG_SERVER);
    ASSERT_EQ(m_dlg.m_nMode, MODE_LOG_SERVER);
    const Bytes expected = HdlcFrame(Fixed(0x7C));
    m_pty.Send(HdlcFrame({0x7C}));
    EXPECT_EQ(ReadPumping(m_pty.Master(), expected.size()), expected);
    EXPECT_TRUE(ReadPumpingUntilQuiet(m_pty.Master()).empty());
}

TEST_F(LogServer, NoReplyDuringAReplay)
{
    Deliver(HdlcFrame({0x00}));
    Replaying(m_dlg) = 1;
    EXPECT_TRUE(ReadPumpingUntilQuiet(m_pty.Master()).empty());
    Replaying(m_dlg) = 0;
    EXPECT_TRUE(ReadPumpingUntilQuiet(m_pty.Master()).empty()) << "a dropped reply must stay dropped";
}

TEST_F(LogServer, ReplaysLogFilesByteForByte)
{
    Bytes flags(2500);
    for (std::size_t i = 0; i < flags.size(); ++i)
        flags[i] = (i % 2 == 0) ? 0x7E : 0x7D;
    const std::string hex = "7E 00 41 0D\r\n4B 04 0E\r\n";
    struct Case {
        const char* name;
        Bytes content;
    };
    std::vector<Case> cases = {
        {"empty.bin", {}},
        {"1023.bin", Pattern(1023)},
        {"1024.bin", Pattern(1024)},
        {"1500.bin", Pattern(1500)},
        {"2047.bin", Pattern(2047)},
        {"flags.bin", flags},
        {"hex.txt", Bytes(hex.begin(), hex.end())},
        {"capture.qmdl", fixture::ModemCapture(99, 8).wire},
        {"big.bin", Pattern(200000)},
    };
    // The real captures too, where the optional samples are there.
    for (const char* name : {"goodsim-small.qmdl", "deadsim.qmdl"})
        if (const std::optional<std::string> sample = SampleFile(std::string("qmdl/") + name))
            cases.push_back({name, ReadFile(*sample)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = m_dir.Path() + "/" + c.name;
        WriteFile(path, c.content);
        EXPECT_EQ(Replay(QString::fromStdString(path), c.content.size()), c.content);
        EXPECT_EQ(Replaying(m_dlg), 0);
        EXPECT_TRUE(LogData(m_dlg).empty());
        EXPECT_EQ(m_prompts.filters.back(), kLogFileFilter);
        EXPECT_TRUE(ReadPumpingUntilQuiet(m_pty.Master(), 100).empty()) << "more than the file was sent";
    }
    EXPECT_TRUE(m_prompts.boxes.empty());
}

TEST_F(LogServer, RefusedLogFilesSendNothing)
{
    const std::string fifo = m_dir.Path() + "/pipe.bin";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = m_dir.Path() + "/huge.bin";
    {
        std::ofstream touch(huge, std::ios::binary);
    }
    ASSERT_EQ(truncate(huge.c_str(), (std::int64_t{1} << 30) + 1), 0);

    struct Case {
        const char* name;
        std::optional<QString> answer;
        const char* warning;   // nullptr: refused without a word
        const char* detail;
    };
    const Case cases[] = {
        {"cancelled", std::nullopt, nullptr, nullptr},
        {"empty path", QString(), "Please select log file", ""},
        {"missing file", QString::fromStdString(m_dir.Path() + "/none.bin"), nullptr, nullptr},
        {"directory", QString::fromStdString(m_dir.Path()), nullptr, nullptr},
        {"pipe without a writer", QString::fromStdString(fifo), "Fail to read log file", "not a regular file"},
        {"past 1 GiB", QString::fromStdString(huge), "Log file too large: 1.1 GB, at most 1 GiB", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_prompts.boxes.clear();
        m_prompts.answers.push_back(c.answer);
        m_dlg.OnSend();
        EXPECT_EQ(m_prompts.filters.back(), kLogFileFilter);
        if (c.warning) {
            ASSERT_EQ(m_prompts.boxes.size(), 1u);
            EXPECT_EQ(m_prompts.boxes[0].text, QString::fromLatin1(c.warning));
            EXPECT_EQ(m_prompts.boxes[0].detail, QString::fromLatin1(c.detail));
            EXPECT_EQ(m_prompts.boxes[0].icon, IPrompts::Icon::Exclamation);
        } else {
            EXPECT_TRUE(m_prompts.boxes.empty());
        }
        EXPECT_EQ(Replaying(m_dlg), 0);
        EXPECT_TRUE(LogData(m_dlg).empty());
        EXPECT_TRUE(ReadPumpingUntilQuiet(m_pty.Master(), 100).empty());
    }
}
