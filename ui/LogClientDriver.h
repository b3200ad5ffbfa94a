// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CLogClientDriver: the Log client mode of the window. It plays the steps of
// the Log client session (logclient/LogClientSession.h) on two single-shot
// timers of 100 ms with the pauses the session asks for, writes each received
// chunk into the capture and counts it on the capture line, looks once a
// second whether the capture's file is still there, and has the context
// menu's logging entries: Stop Modem Logging, Open Capture Folder, Copy
// Capture Path and Read Lists From LoggingView.
//
// Window thread only; OnReceived runs inside the port's hand-over, while the
// reader waits for it, so chunks land in the file in arrival order.
#include "logclient/LogClientSession.h"
#include "ui/CaptureLine.h"
#include "ui/ContextMenuPart.h"
#include "ui/Prompts.h"

#include <QAction>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <array>
#include <cstddef>
#include <functional>
#include <span>

class CLogClientDriver : public QObject, public IContextMenuPart {
    Q_OBJECT

public:
    // Frames one packet and writes it to the port; the bytes written.
    using PacketSender = std::function<std::size_t(std::span<const std::uint8_t>)>;

    CLogClientDriver(IPrompts& prompts, QWidget* lineParent, QObject* parent = nullptr);

    void SetSender(PacketSender send) { m_send = std::move(send); }
    // A timer that ran out calls this with its id (the window's OnTimer);
    // unwired, the driver takes the sequence's next step itself.
    void OnTimerDue(std::function<void(int id)> handler) { m_onTimer = std::move(handler); }
    // Where Stop Modem Logging says what it sent (unwired: the capture line).
    void OnNote(std::function<void(const QString&)> sink) { m_noteSink = std::move(sink); }
    void SetConnectedCheck(std::function<bool()> connected) { m_connected = std::move(connected); }
    // How the capture's folder is shown (unwired: the desktop's file manager).
    void SetFolderOpener(std::function<bool(const QUrl&)> open) { m_openFolder = std::move(open); }

    // "Load Configuration...": asks for the .dmc file, starts its sequence.
    void LoadConfiguration();
    // "Load Default Cfg...": the default packets, one per tick.
    void LoadDefaults();
    // After a successful Connect: the configuration applied last, again.
    void AfterConnect();
    void Start(LogClientSequence sequence) { Play(m_session.Start(sequence)); }
    void Step(LogClientSequence sequence) { Play(m_session.Step(sequence)); }
    bool TimerActive(LogClientSequence sequence) const { return SequenceTimer(sequence).isActive(); }
    const QTimer& SequenceTimer(LogClientSequence sequence) const;
    // Writes one packet of a sequence (the designed Send... operations).
    void SendPacket(std::span<const std::uint8_t> packet);

    void CreateCapture();
    void CloseCapture() { m_session.CloseCaptureFile(); }
    void OnReceived(std::span<const std::uint8_t> chunk);

    // The context menu's entries.
    void AddContextActions(QMenu& menu, const ContextMenuState& state) override;
    void StopModemLogging();
    void OpenCaptureFolder();
    void CopyCapturePath();
    void SetListsFromLoggingView(bool on);

    CLogClientSession& Session() { return m_session; }
    CCaptureFile& Capture() { return m_session.Capture(); }
    CCaptureLine& Line() { return m_line; }

private:
    void Play(const LogClientStep& step);
    QTimer& Timer(LogClientSequence sequence);
    void TimerRanOut(LogClientSequence sequence);
    void SetUpActions();
    void ShowListSummary();
    void CheckCaptureFile();
    void ReportCaptureFailure();

    IPrompts& m_prompts;
    CLogClientSession m_session;
    CCaptureLine m_line;
    std::array<QTimer, 2> m_timers;   // TIMER_DEFAULTS, TIMER_CONFIG
    QTimer m_timerCaptureCheck;
    QAction m_actionStopModemLogging{QStringLiteral("Stop Modem Logging"), this};
    QAction m_actionOpenCaptureFolder{QStringLiteral("Open Capture Folder"), this};
    QAction m_actionCopyCapturePath{QStringLiteral("Copy Capture Path"), this};
    QAction m_actionListsFromLoggingView{QStringLiteral("Read Lists From LoggingView"), this};
    PacketSender m_send;
    std::function<void(int)> m_onTimer;
    std::function<void(const QString&)> m_noteSink;
    std::function<bool()> m_connected;
    std::function<bool(const QUrl&)> m_openFolder;
};
