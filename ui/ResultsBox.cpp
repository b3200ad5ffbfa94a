// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/ResultsBox.h"

#include <QScrollBar>
#include <QTextCursor>

CResultsBox::CResultsBox(QWidget* parent) : QPlainTextEdit(parent)
{
    m_redraw.setSingleShot(true);
    connect(&m_redraw, &QTimer::timeout, this, [this] { Flush(); });
}

void CResultsBox::Append(const QString& text)
{
    m_pending += text;
    m_bScrollPending = true;
    Schedule();
}

void CResultsBox::clear()
{
    // Text not drawn yet goes with the rest.
    m_pending.clear();
    m_bClearPending = true;
    Schedule();
}

QString CResultsBox::toPlainText()
{
    Flush();
    return QPlainTextEdit::toPlainText();
}

QString CResultsBox::toPlainText() const
{
    return const_cast<CResultsBox*>(this)->toPlainText();
}

void CResultsBox::Schedule()
{
    if (m_redraw.isActive())
        return;
    // The next pass of the event loop, or later when the last drawing was recent.
    const qint64 since = m_sinceRedraw.isValid() ? m_sinceRedraw.elapsed() : kMinRedrawMs;
    m_redraw.start(static_cast<int>(std::max<qint64>(0, kMinRedrawMs - since)));
}

void CResultsBox::Flush()
{
    m_redraw.stop();
    if (!HasPending())
        return;
    if (m_bClearPending)
        QPlainTextEdit::clear();
    if (!m_pending.isEmpty()) {
        QTextCursor cursor = textCursor();
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(m_pending);
        setTextCursor(cursor);
    }
    if (m_bScrollPending)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    m_pending.clear();
    m_bClearPending = false;
    m_bScrollPending = false;
    m_sinceRedraw.start();
}
