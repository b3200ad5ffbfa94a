// SPDX-License-Identifier: GPL-2.0-or-later
// What the window offers around the designed controls: the capture line, the
// LoggingView choice, stopping the modem's logging, command history kept
// between runs, port marks and a window that fits a small screen.
#include "support/SampleData.h"
#include "DialogFixture.h"
#include "LogClientFarEnd.h"

#include "logclient/DmcReader.h"
#include "logclient/MaskBuilders.h"
#include "ui/CommandHistory.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QScreen>

#include <fstream>

namespace {

using namespace logclient_test;

Bytes LogPacket(std::uint16_t code)
{
    return {0x10, 0x00, 0x0C, 0x00, 0x0C, 0x00, static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8),
            1, 2, 3, 4, 5, 6, 7, 8};
}

class WindowAdditions : public DialogTest {
protected:
    void TearDown() override
    {
        // Settings outlive the dialog: leave them as a fresh run has them.
        if (dlg)
            Action(*dlg, "actionListsFromLoggingView").setChecked(false);
        CSettingsStore store;
        for (int mode = 0; mode < CCommandHistory::kModes; ++mode)
            store.SetHistory(mode, {});
        DialogTest::TearDown();
    }
    FarEnd far{pty};
};

TEST_F(WindowAdditions, CaptureLineCountsWhatTheModemSent)
{
    dlg->show();
    ClickMode(MODE_LOG_CLIENT);
    Connect();
    EXPECT_FALSE(CaptureLine(*dlg).isVisibleTo(dlg.get()));
    dlg->CreateCaptureFile();
    Bytes broken = HdlcFrame(LogPacket(0x1234));
    broken[broken.size() - 2] ^= 0x01;
    const Bytes stream = Framed({LogPacket(0xB0C0), LogPacket(0x1005), LogPacket(0xB0C0), {0x60, 0x00}});
    Bytes all = stream;
    all.insert(all.end(), broken.begin(), broken.end());
    pty.Send(all);
    ASSERT_TRUE(WaitUntil([&] { return RxTotal(*dlg) == static_cast<std::int64_t>(all.size()); }));
    CaptureLine(*dlg).Refresh();

    const CCaptureStats& stats = CaptureLine(*dlg).Stats();
    EXPECT_EQ(stats.Frames(), 5u);
    EXPECT_EQ(stats.BadFrames(), 1u);
    EXPECT_EQ(stats.LogCodeCounts(), (std::map<std::uint16_t, std::uint64_t>{{0x1005, 1}, {0xB0C0, 2}}));
    const QString figures = CaptureLine(*dlg).Figures();
    EXPECT_TRUE(figures.startsWith(QString::fromStdString(Capture(*dlg).Path()))) << figures.toStdString();
    EXPECT_TRUE(figures.endsWith(QStringLiteral("5 frames, 1 bad FCS, 2 log codes"))) << figures.toStdString();
    EXPECT_TRUE(CaptureLine(*dlg).isVisibleTo(dlg.get()));
    EXPECT_TRUE(ResultsBox(*dlg).toPlainText().isEmpty());
    // The capture line sits inside the results frame, under the results box.
    QApplication::processEvents();
    const auto inDialog = [&](const QWidget& w) { return QRect(w.mapTo(dlg.get(), QPoint(0, 0)), w.size()); };
    EXPECT_LE(inDialog(ResultsBox(*dlg)).bottom(), inDialog(CaptureLine(*dlg)).top());
    EXPECT_LE(inDialog(CaptureLine(*dlg)).bottom(), Control<QGroupBox>(*dlg, "IDC_STATIC_RESULTS").geometry().bottom());

    Action(*dlg, "actionCopyCapturePath").trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromStdString(Capture(*dlg).Path()));

    // After Disconnect the line keeps naming the capture, dimmed, with its
    // figures as they ended; the box keeps the room it gave up.
    const std::string path = Capture(*dlg).Path();
    dlg->OnDisconnect();
    CaptureLine(*dlg).Refresh();
    QApplication::processEvents();
    EXPECT_TRUE(CaptureLine(*dlg).isVisibleTo(dlg.get()));
    EXPECT_FALSE(CaptureLine(*dlg).isEnabled());
    EXPECT_TRUE(CaptureLine(*dlg).Figures().startsWith(QString::fromStdString(path)));
    EXPECT_TRUE(CaptureLine(*dlg).Figures().endsWith(QStringLiteral("5 frames, 1 bad FCS, 2 log codes")));
    const DialogUnits du(dlg->font());
    EXPECT_EQ(ResultsBox(*dlg).height() + du.Y(2) + CaptureLine(*dlg).height(), du.Y(216));
}

// One configuration run on a dialog of its own; returns what went out and the note.
struct SequenceRun {
    Bytes wire;
    QString note;
};

SequenceRun RunSequence(const std::string& dmc, bool loggingView)
{
    PtyPair pty;
    FarEnd far(pty);
    PortDir ports;
    ports.Link("COM1", pty.SlavePath());
    TempDir startDir;
    FakePrompts prompts;
    COrvaneDlg dlg(prompts);
    UseStartDir(dlg, startDir.Path());
    Action(dlg, "actionListsFromLoggingView").setChecked(loggingView);
    Radio(dlg, "IDC_MODE_LOG_CLIENT").click();
    dlg.OnConnect();
    EXPECT_TRUE(PortOpen(dlg));
    prompts.answers.push_back(QString::fromStdString(dmc));
    dlg.OnSend();
    EXPECT_TRUE(WaitUntil([&] { return Steps(dlg) == 3; }, 20000));
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.Texts().join('|').toStdString();
    EXPECT_TRUE(ResultsBox(dlg).toPlainText().isEmpty());
    PumpEvents(300);
    SequenceRun run{far.Received(), CaptureLine(dlg).Note()};
    Action(dlg, "actionListsFromLoggingView").setChecked(false);
    return run;
}

std::string Block(const char* view, const std::string& lists)
{
    return std::string("<") + view + "><ISVConfig>" + lists + "</ISVConfig></" + view + ">";
}

std::string Write(const TempDir& dir, const char* name, const std::string& blocks)
{
    const std::string path = dir.Path() + "/" + name;
    std::ofstream(path) << "<QXDMProfessional><Persistence>" + blocks + "</Persistence></QXDMProfessional>";
    return path;
}

TEST(WindowListsView, ChoiceReadsTheListsFromLoggingViewAndOffIsUnchanged)
{
    const std::string messages = "<EventIDs>5,6</EventIDs><LogCodes>0x157F,0x157E</LogCodes>";
    const std::string logging = "<EventIDs>300,2,1</EventIDs><LogCodes>0xB0C0,0x1005</LogCodes>"
                                "<OTATypes>0x412F</OTATypes><MessageLevels>5/1,6/2</MessageLevels>";
    TempDir dir;
    const std::string both = Write(dir, "both.dmc", Block("LoggingView", logging) + Block("MessagesView", messages));
    struct Case {
        const char* name;
        std::string file;
        bool loggingView;
        std::string sameAs;   // a file that today's reader sends the same from
        QString note;
    };
    const std::vector<Case> cases = {
        {"off: lists on both paths send today's packets", both, false,
         Write(dir, "messages.dmc", Block("MessagesView", messages)),
         "Lists from MessagesView: 2 event ids, 2 log codes, 0 OTA types, 0 message levels; LoggingView has 3 event "
         "ids and 2 log codes: see Read Lists From LoggingView"},
        {"on: the LoggingView lists go out", both, true, Write(dir, "logging.dmc", Block("MessagesView", logging)),
         "Lists from LoggingView: 3 event ids, 2 log codes, 1 OTA types, 2 message levels"},
        {"off, lists only under LoggingView: nothing goes out, the line says why",
         Write(dir, "only-logging.dmc", Block("LoggingView", logging)), false, Write(dir, "none.dmc", ""),
         "No logging lists under MessagesView; this file has 3 event ids and 2 log codes under LoggingView: see Read "
         "Lists From LoggingView"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SequenceRun run = RunSequence(c.file, c.loggingView);
        EXPECT_EQ(run.wire, RunSequence(c.sameAs, false).wire);
        EXPECT_EQ(run.note, c.note);
    }
}

TEST(WindowListsView, SampleFileSendsItsLoggingViewLogCodesPerEquipmentId)
{
    const std::optional<std::string> sample = SampleFile("dmc/default.dmc");
    if (!sample)
        GTEST_SKIP() << SampleMissing("dmc/default.dmc");
    const SequenceRun run = RunSequence(*sample, true);
    EXPECT_EQ(run.note, "Lists from LoggingView: 2782 event ids, 1395 log codes, 30 OTA types, 886 message levels");
    std::vector<std::uint32_t> equipment;
    for (const Bytes& frame : Unframe(run.wire))
        if (frame.size() > 16 && frame[0] == 0x73)
            equipment.push_back(dmcmd::GetU32(frame, 8));
    EXPECT_EQ(equipment, (std::vector<std::uint32_t>{1, 4, 5, 7, 11, 13}));
}

TEST_F(WindowAdditions, StopModemLoggingSendsTheThreePacketsFramed)
{
    const Bytes expected = Framed({{0x73, 0, 0, 0, 0, 0, 0, 0}, {0x60, 0x00}, {0x7D, 0x05, 0, 0, 0, 0, 0, 0}});
    struct Case {
        const char* name;
        int radio;
        bool connected;
    };
    const std::vector<Case> cases = {
        {"log client, connected: on the capture line", MODE_LOG_CLIENT, true},
        {"HEX, connected: in the results box", MODE_HEX, true},
        {"not connected: nothing", MODE_HEX, false},
    };
    const QString note = QStringLiteral("Stop Modem Logging: sent log masks off, event reporting off, message levels 0");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dlg->OnDisconnect();
        CaptureLine(*dlg).SetNote({});
        ResultsBox(*dlg).clear();
        ClickMode(c.radio);
        if (c.connected)
            Connect();
        far.Clear();
        Action(*dlg, "actionStopModemLogging").trigger();
        EXPECT_EQ(far.WaitFor(c.connected ? expected.size() : 1, c.connected ? 10000 : 300),
                  c.connected ? expected : Bytes{});
        const bool inBox = c.connected && dlg->m_nMode != MODE_LOG_CLIENT;
        EXPECT_EQ(CaptureLine(*dlg).Note(), c.connected && !inBox ? note : QString());
        EXPECT_EQ(ResultsBox(*dlg).toPlainText(), inBox ? QStringLiteral("\n") + note + "\n" : QString());
    }
}

TEST_F(WindowAdditions, CommandHistoryPerModeSurvivesARestart)
{
    Connect();
    struct Sent {
        int radio;
        const char* line;
    };
    for (const Sent& s : {Sent{MODE_DM_AT, "ATI"}, Sent{MODE_DM_AT, "AT+CGMR"},
                          Sent{MODE_DM_AT, "AT+CGMR"}, Sent{MODE_HEX, "7e 00"}}) {
        ClickMode(s.radio);
        SetCommand(QString::fromLatin1(s.line));
        dlg->OnSend();
    }
    dlg->OnDisconnect();
    dlg = std::make_unique<COrvaneDlg>(prompts);   // the next run

    struct Key {
        int radio;
        int key;
        const char* shown;
    };
    const std::vector<Key> keys = {
        {MODE_DM_AT, Qt::Key_Up, "AT+CGMR"},   // a repeated line is kept once
        {MODE_DM_AT, Qt::Key_Up, "ATI"},
        {MODE_DM_AT, Qt::Key_Up, "ATI"},       // the oldest stays
        {MODE_DM_AT, Qt::Key_Down, "AT+CGMR"},
        {MODE_DM_AT, Qt::Key_Down, "typed"},   // back to what was being typed
        {MODE_HEX, Qt::Key_Up, "7e 00"},
        {MODE_ASCII, Qt::Key_Up, "typed"},    // nothing sent in ASCII
    };
    SetCommand(QStringLiteral("typed"));
    for (const Key& k : keys) {
        SCOPED_TRACE(k.shown);
        ClickMode(k.radio);
        if (LineEdit(*dlg, "IDC_COMMAND").text() == "7e 00")
            SetCommand(QStringLiteral("typed"));
        QKeyEvent press(QEvent::KeyPress, k.key, Qt::NoModifier);
        QApplication::sendEvent(&LineEdit(*dlg, "IDC_COMMAND"), &press);
        EXPECT_EQ(LineEdit(*dlg, "IDC_COMMAND").text().toStdString(), k.shown);
    }

    CCommandHistory history;
    for (int i = 0; i < 105; ++i)
        history.Record(MODE_HEX, QString::number(i));
    EXPECT_EQ(history.Lines(MODE_HEX).size(), CCommandHistory::kMaxLines);
    EXPECT_EQ(history.Lines(MODE_HEX).front(), "5");
}

TEST_F(WindowAdditions, FileDialogsReopenInTheFolderLastUsed)
{
    struct FolderPrompts : IPrompts {
        void MessageBox(const QString&, Icon, const QString&) override {}
        std::optional<QString> GetOpenFileName(const QString&) override { return std::nullopt; }
        void SetStartFolder(const QString& f) override { folder = f; }
        QString StartFolder() const override { return folder; }
        QString folder;
    };
    FolderPrompts first;
    {
        COrvaneDlg window(first);
        EXPECT_TRUE(first.folder.isEmpty());
        first.folder = QString::fromStdString(startDir.Path());   // a file was chosen there
    }
    {
        FolderPrompts second;
        COrvaneDlg window(second);
        EXPECT_EQ(second.folder, QString::fromStdString(startDir.Path()));
        second.folder.clear();
    }
    CSettingsStore().SetLastFolder({});
}

TEST_F(WindowAdditions, PortListMarksNamesWithADevice)
{
    PtyPair modem;
    ports.Link("COM2", modem.SlavePath());
    ports.Link("COM3", startDir.Path() + "/unplugged");
    EXPECT_TRUE(Combo(*dlg).itemIcon(1).isNull());   // looked over at start, before the link
    // The list is looked over again each time it drops down.
    Combo(*dlg).showPopup();
    Combo(*dlg).hidePopup();
    struct Case {
        int index;
        bool marked;
        std::string tip;
    };
    const std::vector<Case> cases = {
        {0, true, pty.SlavePath()},
        {1, true, modem.SlavePath()},
        {2, false, startDir.Path() + "/unplugged (no device)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(Combo(*dlg).itemText(c.index), QStringLiteral("COM%1").arg(c.index + 1));
        EXPECT_EQ(!Combo(*dlg).itemIcon(c.index).isNull(), c.marked);
        EXPECT_EQ(Combo(*dlg).itemData(c.index, Qt::ToolTipRole).toString().toStdString(), c.tip);
    }
}

// Run once more with QT_SCALE_FACTOR=2 (see tests/CMakeLists.txt).
TEST_F(WindowAdditions, WindowFitsASmallScreenAndGivesRoomToTheResults)
{
    const DialogUnits du(dlg->font());
    const QSize templateSize = du.Size(283, 392);
    EXPECT_EQ(dlg->size(), templateSize);
    // 1280 x 1024 device pixels at twice the scale, less a frame and a title bar.
    const qreal scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? dlg->devicePixelRatio() : 2.0;
    const QSize screen(qRound(1280 / scale) - 16, qRound(1024 / scale) - 48);
    EXPECT_LE(dlg->minimumWidth(), screen.width());
    EXPECT_LE(dlg->minimumHeight(), screen.height());
    // Shown, it opens at the template's size, or smaller where the screen is.
    dlg->show();
    QApplication::processEvents();
    const QSize room = dlg->screen()->availableGeometry().size() - QSize(16, 48);
    EXPECT_EQ(dlg->size(), templateSize.boundedTo(room).expandedTo(dlg->minimumSize()));

    struct Case {
        const char* name;
        QSize size;
    };
    const std::vector<Case> cases = {
        {"smallest", dlg->minimumSize()},
        {"template", templateSize},
        {"larger", templateSize + QSize(300, 200)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dlg->resize(c.size);
        QApplication::processEvents();
        const QRect inside = dlg->rect();
        for (QWidget* w : dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w->isVisibleTo(dlg.get())) {
                EXPECT_TRUE(inside.contains(w->geometry())) << w->objectName().toStdString();
            }
        }
        // The results box takes whatever the window gains or gives up.
        const QSize extra = c.size - templateSize;
        EXPECT_EQ(ResultsBox(*dlg).size(), du.Size(261, 216) + extra);
        EXPECT_GE(ResultsBox(*dlg).height(), du.Y(60));
        EXPECT_EQ(Button(*dlg, "IDC_CLEAR_RESULTS").geometry().top(), du.Y(369) + extra.height());
    }
}

}  // namespace
