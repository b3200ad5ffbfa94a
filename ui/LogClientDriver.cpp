// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/LogClientDriver.h"

#include "logclient/StopLogging.h"
#include "ui/SettingsStore.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMetaObject>
#include <QThread>

#include <chrono>
#include <optional>

namespace {
constexpr int kTimerMs = 100;

QString PathText(const std::string& path)
{
    return QFile::decodeName(path.c_str());
}
}  // namespace

CLogClientDriver::CLogClientDriver(IPrompts& prompts, QWidget* lineParent, QObject* parent)
    : QObject(parent), m_prompts(prompts), m_line(lineParent)
{
    m_session.SetMessageSink([this](const LogClientMessage& m) {
        m_prompts.MessageBox(QString::fromStdString(m.text), IPrompts::Icon::Exclamation,
                             m.detail.empty() ? QString() : QString::fromStdString(m.detail));
    });
    m_line.Watch(&m_session.Capture());
    for (const LogClientSequence sequence : {LogClientSequence::Defaults, LogClientSequence::Config}) {
        QTimer& timer = Timer(sequence);
        timer.setSingleShot(true);
        timer.setInterval(kTimerMs);
        connect(&timer, &QTimer::timeout, this, [this, sequence] { TimerRanOut(sequence); });
    }
    // While a capture is open: is its file still there, even when nothing arrives?
    m_timerCaptureCheck.setInterval(
        std::chrono::duration_cast<std::chrono::milliseconds>(CCaptureFile::kLinkCheckInterval));
    connect(&m_timerCaptureCheck, &QTimer::timeout, this, [this] { CheckCaptureFile(); });
    m_timerCaptureCheck.start();
    SetUpActions();
}

void CLogClientDriver::SetUpActions()
{
    m_actionStopModemLogging.setObjectName(QStringLiteral("actionStopModemLogging"));
    m_actionOpenCaptureFolder.setObjectName(QStringLiteral("actionOpenCaptureFolder"));
    m_actionCopyCapturePath.setObjectName(QStringLiteral("actionCopyCapturePath"));
    m_actionListsFromLoggingView.setObjectName(QStringLiteral("actionListsFromLoggingView"));
    m_actionListsFromLoggingView.setCheckable(true);
    const bool logging = CSettingsStore().ListsFromLoggingView();
    m_actionListsFromLoggingView.setChecked(logging);
    m_session.SetListView(logging ? DmcListView::LoggingView : DmcListView::MessagesView);
    connect(&m_actionStopModemLogging, &QAction::triggered, this, [this] { StopModemLogging(); });
    connect(&m_actionOpenCaptureFolder, &QAction::triggered, this, [this] { OpenCaptureFolder(); });
    connect(&m_actionCopyCapturePath, &QAction::triggered, this, [this] { CopyCapturePath(); });
    connect(&m_actionListsFromLoggingView, &QAction::toggled, this, [this](bool on) { SetListsFromLoggingView(on); });
}

QTimer& CLogClientDriver::Timer(LogClientSequence sequence)
{
    return m_timers[sequence == LogClientSequence::Defaults ? 0 : 1];
}

const QTimer& CLogClientDriver::SequenceTimer(LogClientSequence sequence) const
{
    return m_timers[sequence == LogClientSequence::Defaults ? 0 : 1];
}

void CLogClientDriver::TimerRanOut(LogClientSequence sequence)
{
    if (m_onTimer)
        m_onTimer(static_cast<int>(sequence));
    else
        Step(sequence);
}

// Writes the packets of one step, each framed, with the pause the session asks
// for after each (the window handles no messages meanwhile, as it never did),
// then arms the step's timer when the sequence goes on.
void CLogClientDriver::Play(const LogClientStep& step)
{
    QTimer& timer = Timer(step.sequence);
    timer.stop();
    for (const LogClientPacket& packet : step.packets) {
        SendPacket(packet.bytes);
        if (packet.pauseAfter.count() > 0)
            QThread::msleep(static_cast<unsigned long>(packet.pauseAfter.count()));
    }
    if (step.next)
        timer.start();
}

void CLogClientDriver::SendPacket(std::span<const std::uint8_t> packet)
{
    if (!packet.empty() && m_send)
        m_send(packet);
}

void CLogClientDriver::LoadConfiguration()
{
    const std::optional<QString> chosen = m_prompts.GetOpenFileName(QStringLiteral("Config file(*.dmc)|*.dmc|"));
    if (!chosen)
        return;
    if (const std::optional<LogClientStep> step = m_session.LoadConfiguration(QFile::encodeName(*chosen).toStdString())) {
        ShowListSummary();   // which lists the file holds, and the new capture, on the line
        Play(*step);
    }
}

void CLogClientDriver::LoadDefaults()
{
    Play(m_session.LoadDefaultConfig());
    m_line.Refresh();   // the capture it opened, on the line at once
}

void CLogClientDriver::CreateCapture()
{
    m_session.CreateCaptureFile();
    m_line.Refresh();
}

void CLogClientDriver::AfterConnect()
{
    if (const std::optional<LogClientStep> step = m_session.AfterConnect()) {
        if (!m_session.DmcPath().empty())
            ShowListSummary();   // the file was read again
        Play(*step);
        m_line.Refresh();
    }
}

void CLogClientDriver::ShowListSummary()
{
    m_line.SetNote(QString::fromStdString(DescribeLists(m_session.ListSummary())));
}

// A write that fails ends the capture (the data is still counted); the user
// is told once, after the hand-over has returned.
void CLogClientDriver::OnReceived(std::span<const std::uint8_t> chunk)
{
    if (!m_session.OnReceived(chunk))
        QMetaObject::invokeMethod(this, [this] { ReportCaptureFailure(); }, Qt::QueuedConnection);
    m_line.Feed(chunk);   // the capture line counts what went to the file
}

// Once a second: a capture whose file was removed is reported even while
// nothing arrives.
void CLogClientDriver::CheckCaptureFile()
{
    if (Capture().IsOpen() && !Capture().CheckLinked())
        ReportCaptureFailure();
}

// "Fail to write log file" with the reason and the file, once per failure;
// the capture line says "capture stopped" until the next capture.
void CLogClientDriver::ReportCaptureFailure()
{
    const std::optional<CaptureFailure> failure = Capture().TakeFailure();
    if (!failure)
        return;
    m_line.Refresh();
    m_prompts.MessageBox(QStringLiteral("Fail to write log file"), IPrompts::Icon::Exclamation,
                         QString::fromStdString(failure->reason) + QLatin1Char('\n') + PathText(failure->path));
}

void CLogClientDriver::AddContextActions(QMenu& menu, const ContextMenuState& state)
{
    m_actionStopModemLogging.setEnabled(state.connected);
    const bool captured = !m_line.CapturePath().empty();
    m_actionOpenCaptureFolder.setEnabled(captured);
    m_actionCopyCapturePath.setEnabled(captured);
    menu.addActions({&m_actionStopModemLogging, &m_actionOpenCaptureFolder, &m_actionCopyCapturePath,
                     &m_actionListsFromLoggingView});
}

void CLogClientDriver::StopModemLogging()
{
    if (!m_connected || !m_connected())
        return;
    // A sequence still running would switch the logging on again.
    for (QTimer& timer : m_timers)
        timer.stop();
    QStringList sent;
    for (const StopLoggingPacket& packet : StopLoggingPackets()) {
        if (m_send && m_send(packet.bytes) > 0)
            sent << QString::fromLatin1(packet.what);
    }
    const auto all = static_cast<qsizetype>(StopLoggingPackets().size());
    const QString note = sent.size() == all
                             ? QStringLiteral("Stop Modem Logging: sent %1").arg(sent.join(QStringLiteral(", ")))
                             : QStringLiteral("Stop Modem Logging: the port took %1 of %2 packets")
                                   .arg(sent.size())
                                   .arg(all);
    if (m_noteSink)
        m_noteSink(note);
    else
        m_line.SetNote(note);
}

void CLogClientDriver::OpenCaptureFolder()
{
    const std::string& path = m_line.CapturePath();
    if (path.empty())
        return;
    const QString folder = QFileInfo(PathText(path)).absolutePath();
    const QUrl url = QUrl::fromLocalFile(folder);
    const bool opened = m_openFolder ? m_openFolder(url) : QDesktopServices::openUrl(url);
    m_line.SetNote(opened ? QString()
                          : QStringLiteral("Open Capture Folder: no file manager could be started for %1").arg(folder));
}

void CLogClientDriver::CopyCapturePath()
{
    const std::string& path = m_line.CapturePath();
    if (path.empty())
        return;
    QApplication::clipboard()->setText(PathText(path));
    m_line.SetNote(QStringLiteral("Copy Capture Path: copied %1").arg(PathText(path)));
}

void CLogClientDriver::SetListsFromLoggingView(bool on)
{
    m_session.SetListView(on ? DmcListView::LoggingView : DmcListView::MessagesView);
    CSettingsStore().SetListsFromLoggingView(on);
}
