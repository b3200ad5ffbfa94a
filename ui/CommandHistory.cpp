// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/CommandHistory.h"

void CCommandHistory::Record(int mode, const QString& line)
{
    EndWalk();
    if (!ValidMode(mode) || line.isEmpty())
        return;
    QStringList& lines = m_lines[static_cast<std::size_t>(mode)];
    // Sending the same line again does not fill the history with copies.
    if (!lines.isEmpty() && lines.back() == line)
        return;
    lines.push_back(line);
    while (lines.size() > kMaxLines)
        lines.pop_front();
}

std::optional<QString> CCommandHistory::Older(int mode, const QString& typed)
{
    if (!ValidMode(mode))
        return std::nullopt;
    const QStringList& lines = m_lines[static_cast<std::size_t>(mode)];
    if (m_walkMode != mode) {
        m_walkMode = mode;
        m_walkAt = lines.size();
        m_typed = typed;
    }
    if (m_walkAt == 0)
        return std::nullopt;
    return lines[--m_walkAt];
}

std::optional<QString> CCommandHistory::Newer(int mode)
{
    if (!ValidMode(mode) || m_walkMode != mode)
        return std::nullopt;
    const QStringList& lines = m_lines[static_cast<std::size_t>(mode)];
    if (m_walkAt >= lines.size())
        return std::nullopt;
    ++m_walkAt;
    return m_walkAt == lines.size() ? m_typed : lines[m_walkAt];
}

QStringList CCommandHistory::Lines(int mode) const
{
    return ValidMode(mode) ? m_lines[static_cast<std::size_t>(mode)] : QStringList();
}

void CCommandHistory::SetLines(int mode, QStringList lines)
{
    if (!ValidMode(mode))
        return;
    while (lines.size() > kMaxLines)
        lines.pop_front();
    m_lines[static_cast<std::size_t>(mode)] = std::move(lines);
    EndWalk();
}
