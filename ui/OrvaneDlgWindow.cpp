// What the window offers around the designed controls: the capture line, the
// context menu's logging entries, the command history, the port list's marks
// and resizing. All of it runs on the window's thread.
#include "ui/OrvaneDlg.h"

#include "logclient/StopLogging.h"
#include "serial/PortNames.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QUrl>

#include <algorithm>

namespace {
// Lines of text the capture line has room for: the figures (a long path
// wraps) and a note.
constexpr int kCaptureLineHeight = 26;   // dialog units
constexpr int kCaptureLineGap = 2;
// Room left around a window for its frame and title bar when it must fit a screen.
const QSize kFrameAllowance(16, 48);

// The mark of a port name with a device behind it: a small green dot.
QIcon PresentMark()
{
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x2E, 0xA0, 0x43));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(2, 2, 8, 8);
    painter.end();
    return QIcon(pixmap);
}
}  // namespace

void COrvaneDlg::SetUpWindowAdditions()
{
    m_captureInfo.Watch(&m_hCaptureFile);
    m_captureInfo.OnShownChanged([this] { LayOutResults(); });

    m_actionStopModemLogging.setObjectName(QStringLiteral("actionStopModemLogging"));
    m_actionOpenCaptureFolder.setObjectName(QStringLiteral("actionOpenCaptureFolder"));
    m_actionCopyCapturePath.setObjectName(QStringLiteral("actionCopyCapturePath"));
    m_actionListsFromLoggingView.setObjectName(QStringLiteral("actionListsFromLoggingView"));
    m_actionListsFromLoggingView.setCheckable(true);
    const bool logging = m_settings.ListsFromLoggingView();
    m_actionListsFromLoggingView.setChecked(logging);
    m_logClient.SetListView(logging ? DmcListView::LoggingView : DmcListView::MessagesView);
    connect(&m_actionStopModemLogging, &QAction::triggered, this, [this] { OnStopModemLogging(); });
    connect(&m_actionOpenCaptureFolder, &QAction::triggered, this, [this] { OnOpenCaptureFolder(); });
    connect(&m_actionCopyCapturePath, &QAction::triggered, this, [this] { OnCopyCapturePath(); });
    connect(&m_actionListsFromLoggingView, &QAction::toggled, this, [this](bool on) { OnListsFromLoggingView(on); });

    for (int mode = 0; mode < CCommandHistory::kModes; ++mode)
        m_history.SetLines(mode, m_settings.History(mode));
    m_editCommand.installEventFilter(this);
    m_prompts.SetStartFolder(m_settings.LastFolder());

    m_comboPort.OnAboutToShow([this] { RefreshPortMarks(); });
    RefreshPortMarks();
}

void COrvaneDlg::LayOutResults()
{
    m_layout.Resize(m_templateSize, size());
    if (!m_captureInfo.Wanted())
        return;
    // The capture line takes the foot of the results box.
    const DialogUnits du(font());
    const QRect box = m_editResults.geometry();
    const int line = std::min(du.Y(kCaptureLineHeight), box.height() / 2);
    m_captureInfo.setGeometry(box.left(), box.bottom() + 1 - line, box.width(), line);
    m_editResults.setGeometry(box.left(), box.top(), box.width(), box.height() - line - du.Y(kCaptureLineGap));
}

void COrvaneDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    LayOutResults();
}

void COrvaneDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_bShownOnce)
        return;
    m_bShownOnce = true;
    // The template's size, unless the screen is smaller than that.
    const QScreen* screen = this->screen();
    if (!screen)
        return;
    const QSize room = screen->availableGeometry().size() - kFrameAllowance;
    resize(m_templateSize.boundedTo(room).expandedTo(minimumSize()));
}

bool COrvaneDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_editCommand && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Up || key == Qt::Key_Down) && WalkHistory(key))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool COrvaneDlg::WalkHistory(int key)
{
    const std::optional<QString> line =
        key == Qt::Key_Up ? m_history.Older(m_nMode, m_editCommand.text()) : m_history.Newer(m_nMode);
    if (line)
        m_editCommand.setText(*line);
    return true;
}

void COrvaneDlg::RecordCommand()
{
    // Only the modes that send the command line keep it.
    if (!m_editCommand.isEnabled())
        return;
    m_history.Record(m_nMode, m_editCommand.text());
    m_settings.SetHistory(m_nMode, m_history.Lines(m_nMode));
}

void COrvaneDlg::OnStopModemLogging()
{
    if (!m_SerialPort.IsOpen())
        return;
    // A sequence still running would switch the logging on again.
    KillTimer(TIMER_DEFAULTS);
    KillTimer(TIMER_CONFIG);
    QStringList sent;
    for (const StopLoggingPacket& packet : StopLoggingPackets()) {
        std::copy(packet.bytes.begin(), packet.bytes.end(), m_TxBuf.begin());
        m_nTxLen = static_cast<std::int32_t>(packet.bytes.size());
        if (FrameAndWrite(m_nTxLen) > 0)
            sent << QString::fromLatin1(packet.what);
    }
    const QString note = sent.size() == static_cast<qsizetype>(StopLoggingPackets().size())
                             ? QStringLiteral("Stop Modem Logging: sent %1").arg(sent.join(QStringLiteral(", ")))
                             : QStringLiteral("Stop Modem Logging: the port took %1 of %2 packets")
                                   .arg(sent.size())
                                   .arg(StopLoggingPackets().size());
    if (m_nMode == MODE_LOG_CLIENT)
        m_captureInfo.SetNote(note);
    else
        m_editResults.Append(QStringLiteral("\n") + note + QStringLiteral("\n"));
}

void COrvaneDlg::OnOpenCaptureFolder()
{
    const std::string& path = m_captureInfo.CapturePath();
    if (!path.empty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(QString::fromStdString(path)).absolutePath()));
}

void COrvaneDlg::OnCopyCapturePath()
{
    const std::string& path = m_captureInfo.CapturePath();
    if (!path.empty())
        QApplication::clipboard()->setText(QString::fromStdString(path));
}

void COrvaneDlg::OnListsFromLoggingView(bool on)
{
    m_logClient.SetListView(on ? DmcListView::LoggingView : DmcListView::MessagesView);
    m_settings.SetListsFromLoggingView(on);
}

void COrvaneDlg::ShowListSummary()
{
    m_captureInfo.SetNote(QString::fromStdString(DescribeLists(m_logClient.ListSummary())));
}

void COrvaneDlg::RefreshPortMarks()
{
    const QIcon mark = PresentMark();
    for (int i = 0; i < m_comboPort.count(); ++i) {
        const serialio::PortPresence port = serialio::LookUpPort(m_comboPort.itemText(i).toStdString());
        QString tip = QString::fromStdString(port.device);
        if (!port.byId.empty())
            tip += QStringLiteral("\n") + QString::fromStdString(port.byId);
        if (!port.present)
            tip += QStringLiteral(" (no device)");
        m_comboPort.setItemIcon(i, port.present ? mark : QIcon());
        m_comboPort.setItemData(i, tip, Qt::ToolTipRole);
    }
}
