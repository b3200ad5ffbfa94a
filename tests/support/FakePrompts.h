// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// IPrompts for headless tests: records every message box and answers file
// dialogs from a script.
#include "ui/Prompts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <deque>
#include <optional>

class FakePrompts final : public IPrompts {
public:
    struct Box {
        QString text;
        Icon icon;
        QString detail;
    };

    void MessageBox(const QString& text, Icon icon, const QString& detail = {}) override
    {
        boxes.push_back({text, icon, detail});
    }

    std::optional<QString> GetOpenFileName(const QString& filter) override
    {
        filters << filter;
        if (answers.empty())
            return std::nullopt;
        std::optional<QString> answer;
        answer.swap(answers.front());
        answers.pop_front();
        return answer;
    }

    // Save dialogs take their answers from the same script.
    std::optional<QString> GetSaveFileName(const QString& filter) override { return GetOpenFileName(filter); }

    QStringList Texts() const
    {
        QStringList texts;
        for (const Box& b : boxes)
            texts << b.text;
        return texts;
    }

    std::vector<Box> boxes;
    QStringList filters;
    std::deque<std::optional<QString>> answers;   // nullopt: the user cancels
};

// Runs the event loop until pred() holds or the deadline passes; returns pred().
template <class Pred>
bool WaitUntil(Pred pred, int deadlineMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > deadlineMs)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Runs the event loop for ms milliseconds.
inline void PumpEvents(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}
