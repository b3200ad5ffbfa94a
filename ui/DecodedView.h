// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CDecodedView: the window's decoded view. A table of the modem's decoded
// records (time, kind, code or ssid, name, text) with a filter box and a
// choice of kinds above it. It follows the newest row until the user scrolls
// up, and stays on the rows being read while older ones are dropped for room.
//
// The window feeds it with Append (records of the chunks it received) and
// puts its actions where it likes: Copy (Ctrl+C), "Save Decoded Text...",
// which the view carries out itself, and "Decode Capture File..." and "Load
// Message Database...", which ask for a file and hand its path on through a
// signal, since decoding belongs to the window's session. Window thread only.
#include "ui/DecodedRecordModel.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QToolButton>
#include <QWidget>

#include <array>

class IPrompts;

class CDecodedView : public QWidget {
    Q_OBJECT

public:
    explicit CDecodedView(IPrompts& prompts, QWidget* parent = nullptr);
    ~CDecodedView() override;

    // Queues records for the next batch (at most ~30 batches a second).
    void Append(std::vector<decode::DecodedRecord>&& records) { m_model.Append(std::move(records)); }
    void Append(std::span<const decode::DecodedRecord> records) { m_model.Append(records); }
    void Clear() { m_model.Clear(); }

    // Copies the selected rows as text lines (FormatRecordLine), oldest first.
    void CopySelection();
    // Asks for a file and writes the shown rows into it; tells the user when it fails.
    void OnSaveDecodedText();
    // Writes the shown rows, one line each; false and a reason when the file refuses.
    bool SaveShownRows(const QString& path, QString* error);

    // True while the view keeps the newest row in sight.
    bool FollowsNewest() const { return m_follow; }

    CDecodedRecordModel& Model() { return m_model; }
    QTableView& Table() { return m_table; }
    QAction& CopyAction() { return m_actionCopy; }
    QAction& SaveDecodedTextAction() { return m_actionSave; }
    QAction& DecodeCaptureFileAction() { return m_actionDecodeCapture; }
    QAction& LoadMessageDatabaseAction() { return m_actionLoadDatabase; }

    // The file filters of the two open dialogs.
    static constexpr const char* kCaptureFilter = "Capture file(*.bin;*.qmdl)|*.bin;*.qmdl|All files(*)|*|";
    static constexpr const char* kDatabaseFilter = "Message database(*.qdb)|*.qdb|All files(*)|*|";
    static constexpr const char* kTextFilter = "Text file(*.txt)|*.txt|";

signals:
    // The user chose a capture to decode into the view / a message database for terse messages.
    void CaptureFileChosen(const QString& path);
    void MessageDatabaseChosen(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetUpBar();
    void SetUpTable();
    void SetUpActions();
    void SetUpFollowing();
    void ApplyFilter();
    void UpdateKindsButton();
    void ShowContextMenu(const QPoint& pos);

    static constexpr int kKinds = static_cast<int>(decode::RecordKind::Malformed) + 1;

    IPrompts& m_prompts;
    CDecodedRecordModel m_model;
    QLineEdit m_filter;
    QToolButton m_kindsButton;
    QMenu m_kindsMenu;
    std::array<QAction, kKinds> m_kindActions;
    QTableView m_table;
    QAction m_actionCopy;
    QAction m_actionSave;
    QAction m_actionDecodeCapture;
    QAction m_actionLoadDatabase;
    bool m_follow = true;
    int m_rowsDroppedAbove = 0;   // while the user reads older rows: rows removed above them
};
