#include "ui/CaptureLine.h"

#include <QFileInfo>
#include <QLocale>

CCaptureLine::CCaptureLine(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("captureInfo"));
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(true);
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
    m_path = m_file->Path();
    m_stats.Reset();
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
    return (m_file && m_file->IsOpen()) || !m_note.isEmpty();
}

QString CCaptureLine::FigureText(CCaptureStats::Clock::time_point now) const
{
    const QLocale locale;
    const std::uint64_t size = m_file->BytesWritten();
    return QStringLiteral("%1  %2  %3/s  %4 frames, %5 bad FCS, %6 log codes")
        .arg(QString::fromStdString(m_path), locale.formattedDataSize(static_cast<qint64>(size)),
             locale.formattedDataSize(static_cast<qint64>(m_stats.BytesLastSecond(now))))
        .arg(m_stats.Frames())
        .arg(m_stats.BadFrames())
        .arg(m_stats.DistinctLogCodes());
}

void CCaptureLine::Refresh()
{
    FollowFile();
    const bool open = m_file && m_file->IsOpen();
    m_figures = open ? FigureText(CCaptureStats::Clock::now()) : QString();
    QString text = m_figures;
    if (!m_note.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + m_note;
    if (text != QLabel::text())
        setText(text);
    setToolTip(text);
    const bool wanted = Wanted();
    if (wanted != m_bShown) {
        m_bShown = wanted;
        setVisible(wanted);
        if (m_onShownChanged)
            m_onShownChanged();
    }
}
