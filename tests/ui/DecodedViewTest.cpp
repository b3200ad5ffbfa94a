// SPDX-License-Identifier: GPL-2.0-or-later
// The decoded view: rows arrive in batches, the filter (text and kinds), the
// cap on rows, following the newest row, copy and "Save Decoded Text...".
#include "support/FakePrompts.h"

#include "decode/RecordText.h"
#include "ui/DecodedView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

using decode::DecodedRecord;
using decode::RecordKind;

// About 12:34:56.79 UTC as a DIAG timestamp (1/800 s ticks since the GPS epoch in the upper 48 bits).
constexpr std::uint64_t kNoon = ((1420115696ull * 800 + 631) << 16);

DecodedRecord Rec(RecordKind kind, std::uint32_t code, std::string name, std::string text,
                  std::optional<std::uint64_t> timestamp = kNoon)
{
    DecodedRecord record;
    record.kind = kind;
    record.code = code;
    record.name = std::move(name);
    record.text = std::move(text);
    record.timestamp = timestamp;
    return record;
}

// Numbered messages: the name carries the number.
std::vector<DecodedRecord> Numbered(int from, int count)
{
    std::vector<DecodedRecord> records;
    records.reserve(static_cast<std::size_t>(count));
    for (int n = from; n < from + count; ++n)
        records.push_back(Rec(RecordKind::Message, 5000, "n" + std::to_string(n), "message text"));
    return records;
}

std::string NameAt(CDecodedRecordModel& model, int row) { return model.Record(row).name; }

std::vector<std::string> Names(CDecodedRecordModel& model)
{
    std::vector<std::string> names;
    for (int row = 0; row < model.rowCount(); ++row)
        names.push_back(NameAt(model, row));
    return names;
}

std::string ReadFile(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One of each kind the filter tells apart.
std::vector<DecodedRecord> Mixed()
{
    return {Rec(RecordKind::Log, 0xB0C0, "LTE RRC OTA Packet", "BCCH-DL-SCH SystemInformationBlockType1"),
            Rec(RecordKind::Message, 5000, "ds_sys.c:120", "Bearer up rsrp=-95 dBm"),
            Rec(RecordKind::Event, 1605, "EVENT_LTE_RRC_STATE_CHANGE", "01 02"),
            Rec(RecordKind::Malformed, 0x10, "", "10 00", std::nullopt)};
}

class DecodedViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        view.resize(800, 300);
        view.show();
    }
    // Appends and waits for the batch to be shown.
    void Feed(std::vector<DecodedRecord> records)
    {
        const std::size_t expected = model().HeldRows() + records.size();
        view.Append(std::move(records));
        ASSERT_TRUE(WaitUntil([&] { return !model().HasPending() && model().HeldRows() >= std::min(expected, model().MaxRows()); }));
    }
    CDecodedRecordModel& model() { return view.Model(); }
    QScrollBar& bar() { return *view.Table().verticalScrollBar(); }
    bool AtFoot() { return bar().maximum() > 0 && bar().value() == bar().maximum(); }

    FakePrompts prompts;
    CDecodedView view{prompts};
};

TEST_F(DecodedViewTest, RowsAppearAfterAFlushInOneBatchWithTheirColumns)
{
    int inserts = 0;
    QObject::connect(&model(), &QAbstractItemModel::rowsInserted, &view, [&] { ++inserts; });
    auto records = Mixed();
    records[1].text = "line one\nline two\tend";
    records.push_back(Rec(RecordKind::Malformed, 0x10, "", std::string(5000, 'A')));
    view.Append(std::move(records));
    EXPECT_EQ(model().rowCount(), 0);   // queued until the timer's batch
    ASSERT_TRUE(WaitUntil([&] { return model().rowCount() == 5; }));
    EXPECT_EQ(inserts, 1);

    const auto cell = [&](int row, int column) { return model().index(row, column).data().toString().toStdString(); };
    EXPECT_EQ(cell(0, CDecodedRecordModel::ColTime), decode::TimeOfDay(kNoon));
    EXPECT_EQ(cell(0, CDecodedRecordModel::ColTime).substr(0, 10), "12:34:56.7");
    EXPECT_EQ(cell(0, CDecodedRecordModel::ColKind), "LOG");
    EXPECT_EQ(cell(0, CDecodedRecordModel::ColCode), "0xB0C0");
    EXPECT_EQ(cell(0, CDecodedRecordModel::ColName), "LTE RRC OTA Packet");
    EXPECT_EQ(cell(1, CDecodedRecordModel::ColCode), "5000");
    EXPECT_EQ(cell(1, CDecodedRecordModel::ColText), "line one line two end");   // one line in a cell
    EXPECT_EQ(model().Record(1).text, "line one\nline two\tend");                // as decoded everywhere else
    EXPECT_EQ(cell(3, CDecodedRecordModel::ColTime), "");
    EXPECT_EQ(cell(3, CDecodedRecordModel::ColKind), "MALFORMED");
    // A cell holds at most 1024 bytes of a long text and says it was cut; the record keeps all.
    EXPECT_EQ(model().index(4, CDecodedRecordModel::ColText).data().toString(), QString(1024, QLatin1Char('A')) + QChar(0x2026));
    EXPECT_EQ(model().Record(4).text.size(), 5000u);
}

TEST_F(DecodedViewTest, FilterByTextAndKinds)
{
    Feed(Mixed());
    constexpr unsigned kAll = CDecodedRecordModel::kAllKinds;
    const unsigned log = CDecodedRecordModel::KindBit(RecordKind::Log);
    const unsigned msg = CDecodedRecordModel::KindBit(RecordKind::Message);
    const unsigned event = CDecodedRecordModel::KindBit(RecordKind::Event);
    struct Case {
        const char* name;
        QString text;
        unsigned kinds;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {"everything", "", kAll, {"LTE RRC OTA Packet", "ds_sys.c:120", "EVENT_LTE_RRC_STATE_CHANGE", ""}},
        {"name, case ignored", "rrc", kAll, {"LTE RRC OTA Packet", "EVENT_LTE_RRC_STATE_CHANGE"}},
        {"text", "RSRP", kAll, {"ds_sys.c:120"}},
        {"log code as shown", "0xb0c0", kAll, {"LTE RRC OTA Packet"}},
        {"ssid as shown", "5000", kAll, {"ds_sys.c:120"}},
        {"malformed bytes", "10 00", kAll, {""}},
        {"nothing matches", "nr5g", kAll, {}},
        {"one kind", "", msg, {"ds_sys.c:120"}},
        {"kinds and text together", "rrc", log | event, {"LTE RRC OTA Packet", "EVENT_LTE_RRC_STATE_CHANGE"}},
        {"kinds exclude a text match", "rrc", msg, {}},
        {"no kinds", "", 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        model().SetFilter(c.text, c.kinds);
        EXPECT_EQ(Names(model()), c.shown);
    }
    // Rows that arrive later meet the filter in force.
    model().SetFilter("rrc", kAll);
    Feed({Rec(RecordKind::Log, 0xB821, "NR5G RRC OTA Packet", "DL-DCCH"), Rec(RecordKind::Log, 0xB193, "LTE ML1 Serving Cell Meas", "")});
    EXPECT_EQ(Names(model()), (std::vector<std::string>{"LTE RRC OTA Packet", "EVENT_LTE_RRC_STATE_CHANGE", "NR5G RRC OTA Packet"}));
}

TEST_F(DecodedViewTest, FilterBoxAndKindMenuDriveTheFilter)
{
    Feed(Mixed());
    auto* filter = view.findChild<QLineEdit*>(QStringLiteral("decodedFilter"));
    auto* kinds = view.findChild<QToolButton*>(QStringLiteral("decodedKinds"));
    auto* logKind = view.findChild<QAction*>(QStringLiteral("decodedKindLOG"));
    ASSERT_TRUE(filter && kinds && logKind && view.findChild<QTableView*>(QStringLiteral("decodedTable")));
    EXPECT_EQ(kinds->text(), "All kinds");

    filter->setText(QStringLiteral("RRC"));
    EXPECT_EQ(model().rowCount(), 2);
    logKind->setChecked(false);
    EXPECT_EQ(Names(model()), std::vector<std::string>{"EVENT_LTE_RRC_STATE_CHANGE"});
    EXPECT_EQ(kinds->text(), "5 kinds");
    filter->clear();
    EXPECT_EQ(model().rowCount(), 3);
    for (const char* name : {"decodedKindTERSE", "decodedKindREPLY", "decodedKindMALFORMED"})
        view.findChild<QAction*>(QString::fromLatin1(name))->setChecked(false);
    EXPECT_EQ(kinds->text(), "EVENT, MSG");
    EXPECT_EQ(Names(model()), (std::vector<std::string>{"ds_sys.c:120", "EVENT_LTE_RRC_STATE_CHANGE"}));
}

TEST(DecodedRecordModel, KeepsTheNewestRowsAndDropsTheOldest)
{
    struct Case {
        const char* name;
        std::vector<int> batches;    // sizes, flushed one by one
        QString filter;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {"under the cap", {3}, "", {"n0", "n1", "n2"}},
        {"exactly the cap", {5}, "", {"n0", "n1", "n2", "n3", "n4"}},
        {"one batch past the cap", {7}, "", {"n2", "n3", "n4", "n5", "n6"}},
        {"later batches push out older ones", {4, 3}, "", {"n2", "n3", "n4", "n5", "n6"}},
        // The cap counts held rows, shown or not: n1 matched but was dropped.
        {"a filtered row dropped", {4, 3}, "n1", {}},
        {"a filtered row kept", {4, 3}, "n3", {"n3"}},
        {"filtered rows leave with their held row", {2, 2, 3}, "n", {"n2", "n3", "n4", "n5", "n6"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDecodedRecordModel model(nullptr, 5);
        model.SetFilter(c.filter, CDecodedRecordModel::kAllKinds);
        int next = 0;
        for (const int size : c.batches) {
            model.Append(Numbered(next, size));
            model.Flush();
            next += size;
        }
        EXPECT_EQ(Names(model), c.shown);
        EXPECT_EQ(model.HeldRows(), std::min<std::size_t>(5, next));
        EXPECT_EQ(model.DroppedRows(), static_cast<std::uint64_t>(std::max(0, next - 5)));
    }
    // Queued rows are capped as well, before any flush.
    CDecodedRecordModel model(nullptr, 5);
    model.Append(Numbered(0, 4));
    model.Append(Numbered(4, 4));
    model.Flush();
    EXPECT_EQ(Names(model), (std::vector<std::string>{"n3", "n4", "n5", "n6", "n7"}));
    model.SetFilter("n5", CDecodedRecordModel::kAllKinds);
    EXPECT_EQ(Names(model), std::vector<std::string>{"n5"});
}

TEST(DecodedRecordModel, KeepsTheNewestTextWithinItsByteCap)
{
    // Texts of the given lengths, named "t0", "t1", ... (2 bytes each); the cap is 100 bytes.
    struct Case {
        const char* name;
        std::vector<std::vector<int>> batches;   // text lengths, flushed batch by batch
        std::vector<std::string> held;
    };
    const Case cases[] = {
        {"under the cap", {{30, 30}}, {"t0", "t1"}},
        {"later batches push out older ones", {{30, 30}, {30, 30}}, {"t1", "t2", "t3"}},
        {"past the cap in one batch", {{30, 30, 30, 30}}, {"t1", "t2", "t3"}},
        {"the newest row stays however long", {{30}, {500}}, {"t1"}},
        {"a long row leaves for short ones", {{500}, {30, 30}}, {"t1", "t2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDecodedRecordModel model(nullptr, 1000, 100);
        int next = 0;
        std::size_t total = 0;
        for (const std::vector<int>& lengths : c.batches) {
            std::vector<DecodedRecord> batch;
            for (const int length : lengths)
                batch.push_back(Rec(RecordKind::Malformed, 0, "t" + std::to_string(next++), std::string(static_cast<std::size_t>(length), 'x')));
            total += batch.size();
            model.Append(std::move(batch));
            model.Flush();
        }
        EXPECT_EQ(Names(model), c.held);
        std::size_t bytes = 0;
        for (int row = 0; row < model.rowCount(); ++row)
            bytes += model.Record(row).name.size() + model.Record(row).text.size();
        EXPECT_EQ(model.HeldTextBytes(), bytes);
        EXPECT_EQ(model.DroppedRows(), total - c.held.size());
    }
}

TEST_F(DecodedViewTest, HoldsAtMostTheNewestHundredThousandRows)
{
    Feed(Numbered(0, 60000));
    Feed(Numbered(60000, 50000));
    EXPECT_EQ(model().rowCount(), 100000);
    EXPECT_EQ(NameAt(model(), 0), "n10000");
    EXPECT_EQ(NameAt(model(), 99999), "n109999");
}

TEST_F(DecodedViewTest, FollowsTheNewestRowUntilTheUserScrollsUp)
{
    Feed(Numbered(0, 1000));
    ASSERT_TRUE(WaitUntil([&] { return AtFoot(); }));
    EXPECT_TRUE(view.FollowsNewest());

    bar().setValue(100);   // the user reads older rows
    EXPECT_FALSE(view.FollowsNewest());
    const int maximum = bar().maximum();
    Feed(Numbered(1000, 500));
    ASSERT_TRUE(WaitUntil([&] { return bar().maximum() >= maximum + 500; }));
    EXPECT_EQ(bar().value(), 100);

    bar().setValue(bar().maximum());   // back at the foot: following again
    EXPECT_TRUE(view.FollowsNewest());
    Feed(Numbered(1500, 500));
    ASSERT_TRUE(WaitUntil([&] { return bar().maximum() >= maximum + 1000 && AtFoot(); }));
    EXPECT_EQ(view.Table().rowAt(view.Table().viewport()->height() - 2), 1999);
}

TEST_F(DecodedViewTest, RowsBeingReadStayInSightWhileOlderOnesAreDropped)
{
    Feed(Numbered(0, 100000));
    ASSERT_TRUE(WaitUntil([&] { return AtFoot(); }));
    bar().setValue(5000);
    ASSERT_TRUE(WaitUntil([&] { return view.Table().rowAt(0) == 5000; }));
    const std::string read = NameAt(model(), 5000);
    Feed(Numbered(100000, 1000));   // 1000 oldest rows go
    ASSERT_TRUE(WaitUntil([&] { return view.Table().rowAt(0) >= 0 && NameAt(model(), view.Table().rowAt(0)) == read; }));
    EXPECT_EQ(bar().value(), 4000);
    EXPECT_FALSE(view.FollowsNewest());
}

TEST_F(DecodedViewTest, CopyGivesTheSelectedRowsAsTextLines)
{
    const std::vector<DecodedRecord> records = Mixed();
    Feed(records);
    QItemSelectionModel& selection = *view.Table().selectionModel();
    // Selected bottom-up: copied in the table's order.
    selection.select(model().index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection.select(model().index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const std::string expected = decode::FormatRecordLine(records[0]) + "\n" + decode::FormatRecordLine(records[3]) + "\n";

    struct Case {
        const char* name;
        std::function<void()> copy;
    };
    const Case cases[] = {
        {"Ctrl+C in the table", [&] {
             QKeyEvent press(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, QStringLiteral("c"));
             QApplication::sendEvent(&view.Table(), &press);
         }},
        {"the Copy action", [&] { view.CopyAction().trigger(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QApplication::clipboard()->setText(QStringLiteral("before"));
        c.copy();
        EXPECT_EQ(QApplication::clipboard()->text().toStdString(), expected);
    }
}

TEST_F(DecodedViewTest, SaveWritesTheShownRows)
{
    const std::vector<DecodedRecord> records = Mixed();
    Feed(records);
    model().SetFilter(QStringLiteral("rrc"), CDecodedRecordModel::kAllKinds);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("decoded.txt"));
    prompts.answers.push_back(path);
    view.SaveDecodedTextAction().trigger();
    EXPECT_EQ(prompts.filters.value(0), QString::fromLatin1(CDecodedView::kTextFilter));
    EXPECT_EQ(ReadFile(path), decode::FormatRecordLine(records[0]) + "\n" + decode::FormatRecordLine(records[2]) + "\n");
    EXPECT_TRUE(prompts.boxes.empty());

    // Cancelled: nothing written, nothing said.
    prompts.answers.push_back(std::nullopt);
    view.SaveDecodedTextAction().trigger();
    EXPECT_TRUE(prompts.boxes.empty());

    // A file that cannot be written: one box with the reason.
    prompts.answers.push_back(dir.filePath(QStringLiteral("missing/decoded.txt")));
    view.SaveDecodedTextAction().trigger();
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Fail to write decoded text");
    EXPECT_EQ(prompts.boxes[0].icon, IPrompts::Icon::Exclamation);
    EXPECT_TRUE(prompts.boxes[0].detail.startsWith(QStringLiteral("open: No such file or directory"))) << prompts.boxes[0].detail.toStdString();
}

TEST_F(DecodedViewTest, OpenActionsHandTheChosenFileOn)
{
    struct Case {
        const char* name;
        QAction& action;
        void (CDecodedView::*signal)(const QString&);
        const char* filter;
        std::optional<QString> answer;
        bool emitted;
    };
    const Case cases[] = {
        {"capture", view.DecodeCaptureFileAction(), &CDecodedView::CaptureFileChosen, CDecodedView::kCaptureFilter, "/tmp/a.qmdl", true},
        {"capture cancelled", view.DecodeCaptureFileAction(), &CDecodedView::CaptureFileChosen, CDecodedView::kCaptureFilter, std::nullopt, false},
        {"database", view.LoadMessageDatabaseAction(), &CDecodedView::MessageDatabaseChosen, CDecodedView::kDatabaseFilter, "/tmp/qdsp6m.qdb", true},
        {"database cancelled", view.LoadMessageDatabaseAction(), &CDecodedView::MessageDatabaseChosen, CDecodedView::kDatabaseFilter, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList chosen;
        const QMetaObject::Connection connection = QObject::connect(&view, c.signal, &view, [&](const QString& path) { chosen << path; });
        prompts.filters.clear();
        prompts.answers.push_back(c.answer);
        c.action.trigger();
        EXPECT_EQ(prompts.filters, QStringList{QString::fromLatin1(c.filter)});
        EXPECT_EQ(chosen, c.emitted ? QStringList{*c.answer} : QStringList{});
        QObject::disconnect(connection);
    }
    EXPECT_EQ(view.DecodeCaptureFileAction().text(), "Decode Capture File...");
    EXPECT_EQ(view.LoadMessageDatabaseAction().text(), "Load Message Database...");
    EXPECT_EQ(view.SaveDecodedTextAction().text(), "Save Decoded Text...");
}

}  // namespace
