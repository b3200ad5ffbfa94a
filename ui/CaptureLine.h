// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CCaptureLine: the line under the results box that tells where the capture
// goes and how it grows: the file's path on one line; its size, the rate over
// the last second, frames, frames with a bad FCS and distinct log codes on the
// next; under them a note (which lists a configuration sent, that the modem's
// logging was stopped). Lines never wrap, so the text does not jump about as
// the numbers grow; a long path loses its middle.
//
// It names the last capture after it closed, dimmed, and after a capture
// failed it says "capture stopped" with the reason until the next one starts.
//
// Everything runs on the window's thread. Feed counts each chunk as it goes
// to the file; the text is redrawn at most twice a second.
#include "logclient/CaptureFile.h"
#include "logclient/CaptureStats.h"

#include <QLabel>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <span>

class CCaptureLine : public QLabel {
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 500;

    explicit CCaptureLine(QWidget* parent = nullptr);

    // The capture whose bytes Feed is given; a new file (another path) starts the counts over.
    void Watch(const CCaptureFile* file) { m_file = file; }
    // Window thread, from the receive handler: counts a chunk that went to the file.
    void Feed(std::span<const std::uint8_t> bytes);
    void SetNote(const QString& note);
    // The debug messages the decoded view took from the port; nullopt while it
    // is hidden (the line then reads as it always has).
    void SetDebugMessages(std::optional<std::uint64_t> count) { m_debugMessages = count; }

    // Redraws now (the timer calls it).
    void Refresh();
    bool Wanted() const;
    // The capture's path: the open one, else the last one; empty before any.
    const std::string& CapturePath() const { return m_path; }
    const CCaptureStats& Stats() const { return m_stats; }
    // The path and the figures on one line, as the tooltip shows them.
    QString Figures() const { return m_figures; }
    // "capture stopped: ..." after a failure, until the next capture starts.
    QString Stopped() const { return m_stopped; }
    QString Note() const { return m_note; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FollowFile();
    QString CountText(CCaptureStats::Clock::time_point now) const;
    void Show(const QString& counts);

    const CCaptureFile* m_file = nullptr;
    CCaptureStats m_stats;
    std::string m_path;
    QString m_figures;
    QString m_stopped;
    QString m_note;
    std::optional<std::uint64_t> m_debugMessages;
    QTimer m_refresh;
};
