// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/CaptureLine.h"

#include <QFontMetrics>
#include <QLocale>

CCaptureLine::CCaptureLine(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("captureInfo"));
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(false);
    // The window gives the line its width; a long path never widens the window.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setFocusPolicy(Qt::NoFocus);
    hide();
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, [this] { Refresh(); });
    m_refresh.start();
}

void CCaptureLine::FollowFile()
{
    if (!m_file || !m_file->IsOpen() || m_file->Path() == m_path)
        return;
    // A new capture: its own counts, and the last one's failure is over.
    m_path = m_file->Path();
    m_stats.Reset();
    m_stopped.clear();
}

void CCaptureLine::Feed(std::span<const std::uint8_t> bytes)
{
    if (!m_file || !m_file->IsOpen())
        return;
    FollowFile();
    m_stats.Feed(bytes, CCaptureStats::Clock::now());
}

void CCaptureLine::SetNote(const QString& note)
{
    m_note = note;
    Refresh();
}

bool CCaptureLine::Wanted() const
{
    return !m_path.empty() || !m_note.isEmpty();
}

QString CCaptureLine::CountText(CCaptureStats::Clock::time_point now) const
{
    const QLocale locale;
    const std::uint64_t size = m_file ? m_file->BytesWritten() : 0;
    QString text = QStringLiteral("%1  %2/s  %3 frames, %4 bad FCS, %5 log codes")
                       .arg(locale.formattedDataSize(static_cast<qint64>(size)),
                            locale.formattedDataSize(static_cast<qint64>(m_stats.BytesLastSecond(now))))
                       .arg(m_stats.Frames())
                       .arg(m_stats.BadFrames())
                       .arg(m_stats.DistinctLogCodes());
    if (m_debugMessages)
        text += QStringLiteral(", %1 debug messages").arg(*m_debugMessages);
    return text;
}

void CCaptureLine::Refresh()
{
    FollowFile();
    const bool open = m_file && m_file->IsOpen();
    if (m_file && !open && m_file->Failed() && m_file->Path() == m_path)
        m_stopped = QStringLiteral("capture stopped: %1").arg(QString::fromStdString(m_file->LastError()));
    const QString counts = m_path.empty() ? QString() : CountText(CCaptureStats::Clock::now());
    m_figures = m_path.empty() ? QString() : QString::fromStdString(m_path) + QStringLiteral("  ") + counts;
    // The figures of a capture that ended stay, dimmed.
    setEnabled(open);
    Show(counts);
    const bool wanted = Wanted();
    if (wanted != isVisibleTo(parentWidget()))
        setVisible(wanted);
}

void CCaptureLine::Show(const QString& counts)
{
    QStringList lines;
    if (!m_path.empty()) {
        const QString path = QString::fromStdString(m_path);
        lines << fontMetrics().elidedText(path, Qt::ElideMiddle, std::max(width(), 1));
        lines << (m_stopped.isEmpty() ? counts : m_stopped);
    }
    if (!m_note.isEmpty())
        lines << m_note;
    const QString text = lines.join(QLatin1Char('\n'));
    if (text != QLabel::text())
        setText(text);
    QStringList tip = {m_figures, m_stopped, m_note};
    tip.removeAll(QString());
    setToolTip(tip.join(QLatin1Char('\n')));
}

void CCaptureLine::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    Refresh();
}
