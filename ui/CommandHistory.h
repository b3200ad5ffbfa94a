// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The lines sent from the command line, per mode, newest last, at most 100 per
// mode; Up and Down walk them as a shell does. The line being typed when a
// walk starts comes back at its end.
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

class CCommandHistory {
public:
    static constexpr int kModes = 5;
    static constexpr qsizetype kMaxLines = 100;

    void Record(int mode, const QString& line);
    // The line to show after Up (older) or Down (newer); nullopt at the end.
    std::optional<QString> Older(int mode, const QString& typed);
    std::optional<QString> Newer(int mode);
    void EndWalk() { m_walkMode = -1; }

    QStringList Lines(int mode) const;
    void SetLines(int mode, QStringList lines);

private:
    bool ValidMode(int mode) const { return mode >= 0 && mode < kModes; }
    std::array<QStringList, kModes> m_lines;
    int m_walkMode = -1;      // the mode of the walk under way, -1 for none
    qsizetype m_walkAt = 0;   // index into that mode's lines; size() is the typed line
    QString m_typed;
};
