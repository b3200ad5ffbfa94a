// SPDX-License-Identifier: GPL-2.0-or-later
// The window's parts on their own, with a fake writer in the port's place:
// the receive view, the Log client driver's packets, notes and capture line,
// and the Log server driver's replies.
#include "support/DiskFull.h"
#include "support/DmFrames.h"
#include "support/FakePrompts.h"
#include "support/Fixtures.h"
#include "support/Pty.h"
#include "ui/LogClientDriver.h"
#include "ui/LogServerDriver.h"
#include "ui/OperatingMode.h"
#include "ui/ReceiveView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QWidget>

#include <filesystem>

namespace {

TEST(ReceiveViewPart, ShowsEachModesTextFormAndCountsEveryByte)
{
    struct Case {
        const char* name;
        int mode;
        Bytes chunk;
        QString shown;
    };
    const std::vector<Case> cases = {
        {"DM AT: as it came, CR LF a line break", MODE_DM_AT, {0x4F, 0x4B, 0x0D, 0x0A}, "OK\n"},
        {"ASCII: up to the first zero", MODE_ASCII, {0x41, 0x00, 0x42}, "A"},
        {"HEX: two digits and a space a byte", MODE_HEX, {0x7E, 0x00, 0x41}, "7E 00 41 "},
        {"Log server: hex too", MODE_LOG_SERVER, {0xFF}, "FF "},
        {"Log client: counted, not shown", MODE_LOG_CLIENT, {1, 2, 3, 4}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget parent;
        CReceiveView view(&parent);
        view.Take(c.mode, c.chunk);
        EXPECT_EQ(view.Box().toPlainText(), c.shown);
        EXPECT_EQ(view.RxTotal(), static_cast<std::int64_t>(c.chunk.size()));
        EXPECT_EQ(view.StatusText(), QStringLiteral("Received %1 bytes...").arg(c.chunk.size()));
        view.Clear();
        EXPECT_EQ(view.RxTotal(), 0);
        EXPECT_TRUE(view.Box().toPlainText().isEmpty());
    }
}

// A Log client driver writing into a list of packets instead of a port.
class LogClientDriverPart : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver.Session().CaptureDirectory() = dir.Path();
        driver.SetSender([this](std::span<const std::uint8_t> packet) {
            sent.emplace_back(packet.begin(), packet.end());
            return portTakes ? packet.size() + 4 : 0;   // the frame is longer than the packet
        });
        driver.SetConnectedCheck([this] { return connected; });
    }

    TempDir dir;
    FakePrompts prompts;
    QWidget window;
    CLogClientDriver driver{prompts, &window};
    std::vector<Bytes> sent;
    bool portTakes = true;
    bool connected = true;
};

TEST_F(LogClientDriverPart, StopModemLoggingSendsThreePacketsAndSaysWhatWent)
{
    struct Case {
        const char* name;
        bool connected, portTakes;
        std::size_t packets;
        QString note;
    };
    const std::vector<Case> cases = {
        {"connected, all taken", true, true, 3,
         "Stop Modem Logging: sent log masks off, event reporting off, message levels 0"},
        {"connected, the port takes none", true, false, 3, "Stop Modem Logging: the port took 0 of 3 packets"},
        {"not connected: nothing", false, true, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sent.clear();
        driver.Line().SetNote({});
        connected = c.connected;
        portTakes = c.portTakes;
        driver.StopModemLogging();
        ASSERT_EQ(sent.size(), c.packets);
        if (c.packets == 3) {
            EXPECT_EQ(sent, (std::vector<Bytes>{{0x73, 0, 0, 0, 0, 0, 0, 0}, {0x60, 0x00}, {0x7D, 0x05, 0, 0, 0, 0, 0, 0}}));
        }
        EXPECT_EQ(driver.Line().Note(), c.note);
    }
}

TEST_F(LogClientDriverPart, DefaultsGoOutOnePerTickAndTheTimerStops)
{
    driver.LoadDefaults();
    EXPECT_EQ(sent.size(), 1u) << "the first packet goes out with the click";
    EXPECT_TRUE(driver.TimerActive(LogClientSequence::Defaults));
    ASSERT_TRUE(WaitUntil([&] { return !driver.TimerActive(LogClientSequence::Defaults); }, 10000));
    EXPECT_EQ(sent.size(), 11u);
    EXPECT_EQ(driver.Session().StepCounter(), 11u);
    EXPECT_TRUE(driver.Capture().IsOpen());
}

TEST_F(LogClientDriverPart, CaptureFolderAndPathActionsSayWhatHappened)
{
    driver.CreateCapture();
    driver.OnReceived(Bytes{0x7E});
    driver.Line().Refresh();
    const QString path = QString::fromStdString(driver.Capture().Path());
    ASSERT_FALSE(path.isEmpty());

    struct Case {
        const char* name;
        bool managerStarts;
        QString note;
    };
    const std::vector<Case> cases = {
        {"a file manager started: nothing to say", true, ""},
        {"none could be started: the line says so", false,
         "Open Capture Folder: no file manager could be started for " + QString::fromStdString(dir.Path())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QUrl opened;
        driver.SetFolderOpener([&](const QUrl& url) {
            opened = url;
            return c.managerStarts;
        });
        driver.OpenCaptureFolder();
        EXPECT_EQ(opened, QUrl::fromLocalFile(QString::fromStdString(dir.Path())));
        EXPECT_EQ(driver.Line().Note(), c.note);
    }

    driver.CopyCapturePath();
    EXPECT_EQ(QApplication::clipboard()->text(), path);
    EXPECT_EQ(driver.Line().Note(), "Copy Capture Path: copied " + path);
}

TEST_F(LogClientDriverPart, AFailedCaptureSaysCaptureStoppedUntilTheNextOne)
{
    driver.CreateCapture();
    driver.OnReceived(Bytes(100, 0x41));
    driver.Line().Refresh();
    EXPECT_TRUE(driver.Line().Stopped().isEmpty());
    {
        FileSizeLimit limit(100);
        ASSERT_TRUE(limit.Active());
        driver.OnReceived(Bytes(100, 0x42));
    }
    ASSERT_TRUE(WaitUntil([&] { return !prompts.boxes.empty(); }));
    EXPECT_EQ(prompts.boxes[0].text, "Fail to write log file");
    EXPECT_TRUE(driver.Line().Stopped().startsWith("capture stopped: ")) << driver.Line().Stopped().toStdString();
    EXPECT_TRUE(driver.Line().Stopped().contains("File too large")) << driver.Line().Stopped().toStdString();
    EXPECT_TRUE(driver.Line().text().contains(driver.Line().Stopped()));
    // It stays through later refreshes and a close.
    driver.CloseCapture();
    driver.Line().Refresh();
    EXPECT_TRUE(driver.Line().Stopped().startsWith("capture stopped: "));
    // The next capture starts clean.
    driver.CreateCapture();
    driver.OnReceived(Bytes{0x7E});
    driver.Line().Refresh();
    EXPECT_TRUE(driver.Line().Stopped().isEmpty());
    EXPECT_FALSE(driver.Line().text().contains("capture stopped"));
}

TEST_F(LogClientDriverPart, TheCaptureLineKeepsItsLinesAsTheNumbersGrow)
{
    window.resize(300, 200);
    driver.Line().setGeometry(0, 0, 300, 40);
    driver.CreateCapture();
    QString lastPathLine;
    for (std::size_t bytes : {1u, 1000u, 1000000u}) {
        SCOPED_TRACE(bytes);
        driver.OnReceived(Bytes(bytes, 0x41));
        driver.Line().Refresh();
        const QStringList lines = driver.Line().text().split('\n');
        ASSERT_EQ(lines.size(), 2) << driver.Line().text().toStdString();
        EXPECT_FALSE(driver.Line().wordWrap());
        // The path keeps a line of its own, cut in the middle when too long.
        if (!lastPathLine.isEmpty()) {
            EXPECT_EQ(lines[0], lastPathLine);
        }
        lastPathLine = lines[0];
        EXPECT_LE(driver.Line().fontMetrics().horizontalAdvance(lines[0]), 300);
    }
}

TEST(LogServerDriverPart, ARequestsReplyGoesOutAfterTheHandOver)
{
    FakePrompts prompts;
    CLogServerDriver driver(prompts);
    std::vector<Bytes> replies;
    driver.OnReplyReady([&](std::vector<std::uint8_t> reply) { replies.push_back(std::move(reply)); });
    driver.OnReceived(Bytes{0x4B, 0x04, 0x0E, 0x7E});
    EXPECT_TRUE(replies.empty()) << "not inside the hand-over";
    ASSERT_TRUE(WaitUntil([&] { return !replies.empty(); }));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Bytes{0x4B, 0x04, 0x0E, 0x00, 0x01}));

    CByteSink port;
    driver.SendReply(replies[0], port);
    EXPECT_EQ(port.bytes, ReferenceFrame(replies[0]));
}

}  // namespace
