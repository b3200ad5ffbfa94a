// SPDX-License-Identifier: GPL-2.0-or-later
// The decoded view in the window: the "Decoded View" choice (off at first,
// kept between runs), records from the port in Log client and Log server
// mode, nothing decoded while hidden, capture files and message databases
// through the view's actions, and "Export Capture to pcap...".
#include "DialogFixture.h"
#include "LogServerFarEnd.h"
#include "support/SignallingRecords.h"
#include "support/TsharkCheck.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QSplitter>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include <sys/stat.h>

namespace {

using signalling_records::LogRecord;

// A 0x79 extended message without arguments: "format" from "file.c" line 42.
Bytes ExtMessage(const std::string& format)
{
    Bytes p{0x79, 0, 0, 0};
    p.resize(p.size() + 8, 0);                // timestamp
    p.insert(p.end(), {42, 0, 0x10, 0, 0, 0, 0, 0});   // line, ssid, level
    p.insert(p.end(), format.begin(), format.end());
    p.push_back(0);
    const std::string file = "file.c";
    p.insert(p.end(), file.begin(), file.end());
    p.push_back(0);
    return p;
}

// An LTE RRC record (it becomes a GSMTAP message) and a debug message, framed.
Bytes ModemStream()
{
    signalling_records::LteRrcFields rrc;
    rrc.channel = 7;
    rrc.pdu = {0x28, 0x02};
    Bytes out = ReferenceFrame(LogRecord(0xB0C0, LteRrcPayload(rrc), 0x1111));
    const Bytes message = ReferenceFrame(ExtMessage("hello from the modem"));
    out.insert(out.end(), message.begin(), message.end());
    return out;
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// Shown rows once the model has taken its batch in.
int Rows(COrvaneDlg& d)
{
    d.Decoded().View().Model().Flush();
    return d.Decoded().View().Model().rowCount();
}

// Each test starts and ends with the view off, as a new user has it.
class DecodedFeedTest : public DialogTest {
protected:
    void TearDown() override
    {
        DialogTest::TearDown();
        CSettingsStore().SetDecodedViewShown(false);
    }
    void ShowView() { Action(*dlg, "actionDecodedView").trigger(); }
    std::string Path(const char* name) const { return startDir.Path() + "/" + name; }
};

TEST_F(DecodedFeedTest, OffByDefaultAndKeptBetweenRuns)
{
    QAction& toggle = Action(*dlg, "actionDecodedView");
    EXPECT_EQ(toggle.text(), QStringLiteral("Decoded View"));
    EXPECT_TRUE(toggle.isCheckable());
    EXPECT_FALSE(toggle.isChecked());
    EXPECT_FALSE(dlg->Decoded().View().isVisibleTo(dlg.get()));
    EXPECT_EQ(Control<QSplitter>(*dlg, "resultsSplitter").orientation(), Qt::Horizontal);

    toggle.trigger();
    EXPECT_TRUE(dlg->Decoded().View().isVisibleTo(dlg.get()));
    dlg = std::make_unique<COrvaneDlg>(prompts);
    EXPECT_TRUE(Action(*dlg, "actionDecodedView").isChecked());
    EXPECT_TRUE(dlg->Decoded().View().isVisibleTo(dlg.get()));

    Action(*dlg, "actionDecodedView").trigger();
    dlg = std::make_unique<COrvaneDlg>(prompts);
    EXPECT_FALSE(Action(*dlg, "actionDecodedView").isChecked());
    EXPECT_EQ(Control<QSplitter>(*dlg, "resultsSplitter").orientation(), Qt::Horizontal);
}

TEST_F(DecodedFeedTest, RecordsFromTheFarEndInLogClientAndLogServerMode)
{
    ShowView();
    for (int mode : {MODE_LOG_CLIENT, MODE_LOG_SERVER}) {
        SCOPED_TRACE(mode);
        ClickMode(mode);
        Connect();
        dlg->Decoded().View().Clear();
        pty.Send(ModemStream());
        EXPECT_TRUE(WaitUntil([&] { return Rows(*dlg) >= 2; })) << Rows(*dlg);
        const CDecodedRecordModel& model = dlg->Decoded().View().Model();
        EXPECT_EQ(model.Record(0).code, 0xB0C0u);
        EXPECT_EQ(model.Record(1).kind, decode::RecordKind::Message);
        EXPECT_NE(model.Record(1).text.find("hello from the modem"), std::string::npos) << model.Record(1).text;
        EXPECT_EQ(dlg->Decoded().DebugMessages(), 1u);
        dlg->OnDisconnect();
        EXPECT_EQ(dlg->Decoded().DebugMessages(), 0u);
        logserver_test::ReadPumpingUntilQuiet(pty.Master());
    }
}

// A flood faster than the view takes rows: the view gets the newest records,
// and the capture line's count of debug messages still has every one.
TEST_F(DecodedFeedTest, AFloodCountsEveryMessageAndShowsTheNewest)
{
    ShowView();
    ClickMode(MODE_LOG_CLIENT);
    constexpr int kMessages = 20000;
    Bytes chunk;
    for (int i = 0; i < kMessages; ++i) {
        const Bytes frame = ReferenceFrame(ExtMessage("message " + std::to_string(i)));
        chunk.insert(chunk.end(), frame.begin(), frame.end());
        if (chunk.size() >= 4096 || i + 1 == kMessages)
            Deliver(std::exchange(chunk, {}));
    }
    const std::string newest = "message " + std::to_string(kMessages - 1);
    auto lastRow = [&] {
        const int rows = Rows(*dlg);
        return rows == 0 ? std::string() : dlg->Decoded().View().Model().Record(rows - 1).text;
    };
    EXPECT_TRUE(WaitUntil([&] { return lastRow().find(newest) != std::string::npos; })) << lastRow();
    EXPECT_TRUE(WaitUntil([&] { return dlg->Decoded().DebugMessages() == kMessages; }))
        << dlg->Decoded().DebugMessages();
    EXPECT_LE(Rows(*dlg), kMessages);
}

TEST_F(DecodedFeedTest, HiddenDecodesNothing)
{
    for (int mode : {MODE_LOG_CLIENT, MODE_LOG_SERVER}) {
        SCOPED_TRACE(mode);
        ClickMode(mode);
        Deliver(ModemStream());
        PumpEvents(50);
        EXPECT_EQ(Rows(*dlg), 0);
        EXPECT_FALSE(dlg->Decoded().View().Model().HasPending());
        EXPECT_EQ(dlg->Decoded().DebugMessages(), 0u);
    }
}

TEST_F(DecodedFeedTest, DecodeCaptureFileFillsTheViewAndRefusesAFifo)
{
    ShowView();
    const std::string capture = Path("capture.bin");
    WriteFile(capture, ModemStream());
    prompts.answers.push_back(QString::fromStdString(capture));
    dlg->Decoded().View().DecodeCaptureFileAction().trigger();
    EXPECT_EQ(Rows(*dlg), 2);
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.Texts().join('|').toStdString();
    EXPECT_FALSE(PortOpen(*dlg));

    const std::string fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(dlg->Decoded().DecodeCaptureFile(QString::fromStdString(fifo)));
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("The capture file could not be decoded."));
    EXPECT_TRUE(prompts.boxes[0].detail.contains(QStringLiteral("not a regular file"))) << prompts.boxes[0].detail.toStdString();
}

TEST_F(DecodedFeedTest, MessageDatabaseFailureIsReported)
{
    const std::string junk = Path("junk.qdb");
    WriteFile(junk, BytesOf("not a database at all"));
    const std::string fifo = Path("fifo.qdb");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);   // refused at once, never waited on
    const struct {
        std::string path;
    } cases[] = {{junk}, {Path("missing.qdb")}, {fifo}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        prompts.boxes.clear();
        EXPECT_FALSE(dlg->Decoded().LoadMessageDatabase(QString::fromStdString(c.path)));
        ASSERT_EQ(prompts.boxes.size(), 1u);
        EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("The message database could not be loaded."));
        EXPECT_TRUE(prompts.boxes[0].detail.startsWith(QString::fromStdString(c.path)));
    }
    const std::string good = Path("hash.txt");
    WriteFile(good, BytesOf("1234:file.c:hello %d\n"));
    EXPECT_TRUE(dlg->Decoded().LoadMessageDatabase(QString::fromStdString(good)));
}

TEST_F(DecodedFeedTest, ExportCaptureToPcapWritesWhatTsharkReads)
{
    const std::string capture = Path("capture.bin");
    const std::string pcap = Path("out.pcap");
    WriteFile(capture, ModemStream());
    // No capture yet: the capture is asked for, then where the pcap goes.
    prompts.answers = {QString::fromStdString(capture), QString::fromStdString(pcap)};
    Action(*dlg, "actionExportPcap").trigger();
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.Texts().join('|').toStdString();
    ASSERT_TRUE(std::filesystem::exists(pcap));
    EXPECT_TRUE(CaptureLine(*dlg).Note().contains(QStringLiteral("1 message sent as GSMTAP"))) << CaptureLine(*dlg).Note().toStdString();
    if (!TsharkInstalled())
        GTEST_SKIP() << "tshark is not installed; the pcap is not read back";
    const TsharkReading reading = ReadWithTshark(pcap);
    ASSERT_EQ(reading.frames.size(), 1u);
    EXPECT_NE(reading.frames[0].find("lte_rrc"), std::string::npos) << reading.frames[0];
    EXPECT_TRUE(reading.errors.empty());
}

TEST_F(DecodedFeedTest, ExportRefusesAFifoAtOnce)
{
    const std::string fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    prompts.answers = {QString::fromStdString(fifo), QString::fromStdString(Path("out.pcap"))};
    EXPECT_FALSE(dlg->Export().ExportToPcap());
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("The capture could not be exported to pcap."));
    EXPECT_TRUE(prompts.boxes[0].detail.contains(QStringLiteral("not a regular file")));
}

}  // namespace

namespace {

// A wireshark on the PATH for the test's sake; the launcher is a fake that notes what it was asked.
TEST_F(DecodedFeedTest, OpenInWiresharkConvertsIntoANewTemporaryPcap)
{
    const std::string bin = Path("bin");
    std::filesystem::create_directory(bin);
    WriteFile(bin + "/wireshark", BytesOf("#!/bin/sh\n"));
    std::filesystem::permissions(bin + "/wireshark", std::filesystem::perms::owner_all);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(bin) + ":" + oldPath);
    const std::string capture = Path("capture.bin");
    WriteFile(capture, ModemStream());

    const struct {
        bool starts;
        int boxes;
    } cases[] = {{true, 0}, {false, 1}};
    QStringList pcaps;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.starts);
        prompts.boxes.clear();
        QStringList asked;
        dlg->Export().SetLauncher([&](const QString& program, const QStringList& arguments) {
            asked << program << arguments;
            return c.starts;
        });
        prompts.answers = {QString::fromStdString(capture)};
        EXPECT_EQ(dlg->Export().OpenInWireshark(), c.starts);
        ASSERT_EQ(asked.size(), 3);
        EXPECT_EQ(asked[0], QString::fromStdString(bin + "/wireshark"));
        EXPECT_EQ(asked[1], QStringLiteral("-r"));
        EXPECT_TRUE(QFileInfo(asked[2]).isFile());
        EXPECT_GT(QFileInfo(asked[2]).size(), 24);   // the pcap header and a message
        pcaps << asked[2];
        ASSERT_EQ(static_cast<int>(prompts.boxes.size()), c.boxes);
        if (c.boxes) {
            EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("Wireshark could not be started."));
        }
    }
    EXPECT_NE(pcaps[0], pcaps[1]);
    for (const QString& pcap : pcaps)
        QFile::remove(pcap);
    qputenv("PATH", oldPath);
}

}  // namespace
