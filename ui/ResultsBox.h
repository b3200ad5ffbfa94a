// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CResultsBox: the results box. Received text is taken in at once but drawn
// at most once per pass of the event loop and at most 30 times a second: a
// flood of hex text (4095 bytes become a 12 kB paragraph) would otherwise keep
// the window's thread laying out text that is replaced before anyone sees it.
//
// clear() and toPlainText() hide QPlainTextEdit's on purpose: they act on the
// text not drawn yet too, so every caller sees the box exactly as if each
// chunk had been drawn when it came.
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>

class CResultsBox : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit CResultsBox(QWidget* parent = nullptr);

    // Window thread: appends text and keeps the end in view.
    void Append(const QString& text);
    void clear();
    QString toPlainText();
    QString toPlainText() const;
    // Draws what is pending now.
    void Flush();
    bool HasPending() const { return m_bClearPending || !m_pending.isEmpty() || m_bScrollPending; }

    static constexpr int kMinRedrawMs = 33;

private:
    void Schedule();

    QString m_pending;              // appended since the last drawing
    bool m_bClearPending = false;   // the box was emptied before m_pending
    bool m_bScrollPending = false;
    QTimer m_redraw;
    QElapsedTimer m_sinceRedraw;
};
