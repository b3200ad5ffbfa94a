#pragma once
// CCaptureLine: the line under the results box that tells where the capture
// goes and how it grows: the file's path and size, the rate over the last
// second, frames, frames with a bad FCS and distinct log codes; under them a
// note (which lists a configuration sent, that the modem's logging was
// stopped). Shown while a capture is open or a note is up.
//
// Everything runs on the window's thread. Feed counts each chunk as it goes
// to the file; the text is redrawn at most twice a second.
#include "logclient/CaptureFile.h"
#include "logclient/CaptureStats.h"

#include <QLabel>
#include <QTimer>

#include <cstdint>
#include <functional>
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
    // Called when the line appears or goes, so the window can make room for it.
    void OnShownChanged(std::function<void()> callback) { m_onShownChanged = std::move(callback); }

    // Redraws now (the timer calls it).
    void Refresh();
    bool Wanted() const;
    // The capture's path: the open one, else the last one; empty before any.
    const std::string& CapturePath() const { return m_path; }
    const CCaptureStats& Stats() const { return m_stats; }
    QString Figures() const { return m_figures; }
    QString Note() const { return m_note; }

private:
    void FollowFile();
    QString FigureText(CCaptureStats::Clock::time_point now) const;

    const CCaptureFile* m_file = nullptr;
    CCaptureStats m_stats;
    std::string m_path;
    QString m_figures;
    QString m_note;
    QTimer m_refresh;
    bool m_bShown = false;
    std::function<void()> m_onShownChanged;
};
