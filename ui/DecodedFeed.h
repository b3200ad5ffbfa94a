// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CDecodedFeed: the window's decoded view and what feeds it. It owns the view
// (a CDecodedView, put into the results splitter by the window), the record
// stream the received chunks go through, and the message database terse
// messages are read with. The context menu's "Decoded View" shows or hides
// the view and is kept between runs; while the view is hidden a chunk costs
// nothing at all (nothing is deframed or decoded).
//
// "Decode Capture File..." reads a file into the view through a stream of its
// own, without touching the port; "Load Message Database..." loads a database
// for the port's stream and the files decoded later. Window thread only.
#include "decode/DiagDecoder.h"
#include "decode/RecordWorker.h"
#include "decode/MessageDatabase.h"
#include "ui/ContextMenuPart.h"
#include "ui/DecodedView.h"
#include "ui/SettingsStore.h"

#include <QAction>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class IPrompts;

class CDecodedFeed : public QObject, public IContextMenuPart {
    Q_OBJECT

public:
    CDecodedFeed(IPrompts& prompts, QWidget* viewParent, QObject* parent = nullptr);
    ~CDecodedFeed() override;

    CDecodedView& View() { return m_view; }
    QAction& ShowAction() { return m_actionShow; }

    // Shows or hides the view as the kept choice says (at start-up).
    void ApplyKeptChoice();
    bool Shown() const { return m_actionShow.isChecked(); }

    // Window thread, after the receive view took the chunk: decodes it into
    // the view while the view is shown; does nothing while it is hidden.
    void OnReceived(std::span<const std::uint8_t> chunk);
    // Drops a partly received frame and starts the counts over (connect, disconnect).
    void Reset();
    // Debug messages (extended and terse) decoded from the port since the last Reset.
    std::uint64_t DebugMessages() const { return m_debugMessages; }

    // Loads a database; false (and the user told why) when it is refused.
    bool LoadMessageDatabase(const QString& path);
    // Clears the view and decodes a capture into it; false (and the user told why) on failure.
    bool DecodeCaptureFile(const QString& path);

    // Called with the shown state when the user toggles the view.
    void OnShownChanged(std::function<void(bool)> handler) { m_onShownChanged = std::move(handler); }
    // Called with the debug message count while shown (nullopt when hidden).
    void OnMessageCount(std::function<void(std::optional<std::uint64_t>)> sink) { m_countSink = std::move(sink); }
    // Where a line about a decoded file goes (the capture line's note).
    void OnNote(std::function<void(const QString&)> sink) { m_noteSink = std::move(sink); }

    void AddContextActions(QMenu& menu, const ContextMenuState& state) override;

private:
    void SetShown(bool shown);
    void ReportCount();
    void TakeRecords();

    IPrompts& m_prompts;
    CDecodedView m_view;
    QAction m_actionShow{QStringLiteral("Decoded View"), this};
    CSettingsStore m_settings;
    std::shared_ptr<const decode::CMessageDatabase> m_database;
    QTimer m_take;                 // takes the worker's records, 30 times a second while shown
    // Decodes the port's bytes on its own thread. A flood gives more rows
    // than anyone reads: the worker decodes at most kMaxRowsPerTake records
    // a turn (100,000 a second, the view's whole cap), the newest, and every
    // debug message still counts.
    static constexpr std::size_t kMaxRowsPerTake = 3334;
    decode::CRecordWorker m_worker{decode::CRecordWorker::kMaxPendingBytes, kMaxRowsPerTake};
    std::uint64_t m_debugMessages = 0;
    std::function<void(bool)> m_onShownChanged;
    std::function<void(std::optional<std::uint64_t>)> m_countSink;
    std::function<void(const QString&)> m_noteSink;
};
