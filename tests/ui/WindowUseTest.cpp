// SPDX-License-Identifier: GPL-2.0-or-later
// What a new user meets in the window: the context menu wherever they ask for
// it, notes that end with the next action, and a failed capture that says so
// while the count goes on.
#include "DialogFixture.h"
#include "LogClientFarEnd.h"
#include "support/DiskFull.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>

namespace {

// The texts of the menu that opens while `open` runs; the menu is closed at once.
QStringList MenuTexts(const std::function<void()>& open)
{
    QStringList texts;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (const QAction* action : menu->actions())
            if (!action->isSeparator())
                texts << action->text().section('\t', 0, 0);
        menu->close();
    });
    open();
    return texts;
}

TEST_F(DialogTest, ContextMenuOpensFromTheResultsBoxAndFromTheKeyboard)
{
    dlg->show();
    QApplication::processEvents();
    CResultsBox& box = ResultsBox(*dlg);
    QLineEdit& command = LineEdit(*dlg, "IDC_COMMAND");
    const auto press = [](QWidget& w, int key, Qt::KeyboardModifiers modifiers) {
        return [&w, key, modifiers] {
            QKeyEvent event(QEvent::KeyPress, key, modifiers);
            QApplication::sendEvent(&w, &event);
        };
    };
    const auto rightClick = [](QWidget& w) {
        return [&w] {
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), w.mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(&w, &event);
        };
    };
    struct Case {
        const char* name;
        std::function<void()> open;
        bool boxEntries;   // the box's own Copy and Select All come first
    };
    const std::vector<Case> cases = {
        {"right click on the window", rightClick(*dlg), false},
        {"right click on the results box", rightClick(*box.viewport()), true},
        {"Menu key in the results box", press(box, Qt::Key_Menu, Qt::NoModifier), true},
        {"Shift+F10 in the results box", press(box, Qt::Key_F10, Qt::ShiftModifier), true},
        {"Menu key on the command line", press(command, Qt::Key_Menu, Qt::NoModifier), false},
        {"Shift+F10 on the command line", press(command, Qt::Key_F10, Qt::ShiftModifier), false},
    };
    QStringList window = {"&About Orvane...",          "Stop Modem Logging", "Open Capture Folder",
                          "Copy Capture Path",         "Read Lists From LoggingView", "Decoded View",
                          "Export Capture to pcap..."};
    if (!CCaptureExport::WiresharkProgram().isEmpty())
        window << "Open Capture in Wireshark";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QStringList texts = MenuTexts(c.open);
        ASSERT_GE(texts.size(), window.size());
        EXPECT_EQ(texts.mid(texts.size() - window.size()), window);
        EXPECT_EQ(texts.contains("&Copy"), c.boxEntries) << texts.join('|').toStdString();
        EXPECT_EQ(texts.contains("Select All"), c.boxEntries) << texts.join('|').toStdString();
    }
    // F10 alone opens nothing.
    EXPECT_TRUE(MenuTexts(press(command, Qt::Key_F10, Qt::NoModifier)).isEmpty());
}

TEST_F(DialogTest, AnAdditionsNoteEndsWithTheNextAction)
{
    logclient_test::FarEnd far(pty);
    ClickMode(MODE_LOG_CLIENT);
    Connect();
    const QString note = QStringLiteral("Stop Modem Logging: sent log masks off, event reporting off, message levels 0");
    struct Case {
        const char* name;
        std::function<void()> next;
    };
    const std::vector<Case> cases = {
        {"the results Clear button", [&] { Button(*dlg, "IDC_CLEAR_RESULTS").click(); }},
        {"a mode radio", [&] { Radio(*dlg, "IDC_MODE_LOG_SERVER").click(); }},
        {"the Disconnect button", [&] { Button(*dlg, "IDC_DISCONNECT").click(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClickMode(MODE_LOG_CLIENT);
        if (!PortOpen(*dlg))
            Connect();
        Action(*dlg, "actionStopModemLogging").trigger();
        EXPECT_EQ(CaptureLine(*dlg).Note(), note);
        c.next();
        EXPECT_TRUE(CaptureLine(*dlg).Note().isEmpty());
        EXPECT_FALSE(CaptureLine(*dlg).text().contains(note));
    }
}

TEST_F(DialogTest, AFailedCaptureSaysSoWhileTheStatusLineGoesOnCounting)
{
    ClickMode(MODE_LOG_CLIENT);
    dlg->CreateCaptureFile();
    ASSERT_TRUE(Capture(*dlg).IsOpen());
    {
        FileSizeLimit limit(1000);
        ASSERT_TRUE(limit.Active());
        Deliver(Bytes(4000, 0x41));
        ASSERT_TRUE(WaitUntil([&] { return !prompts.boxes.empty(); }));
    }
    EXPECT_TRUE(CaptureLine(*dlg).text().contains("capture stopped: ")) << CaptureLine(*dlg).text().toStdString();
    for (const int more : {10, 20}) {
        SCOPED_TRACE(more);
        const std::int64_t before = RxTotal(*dlg);
        Deliver(Bytes(static_cast<std::size_t>(more), 0x42));
        CaptureLine(*dlg).Refresh();
        EXPECT_EQ(Status(), QStringLiteral("Received %1 bytes...").arg(before + more));
        EXPECT_TRUE(CaptureLine(*dlg).text().contains("capture stopped: "));
    }
    EXPECT_EQ(prompts.boxes.size(), 1u) << "told once";
}

}  // namespace
