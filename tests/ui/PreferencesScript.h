// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Scripted use of the port settings dialog while it runs modally.
#include "support/FakePrompts.h"
#include "ui/PreferencesDlg.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

template <class W>
W& Child(QWidget& dlg, const char* name)
{
    W* w = dlg.findChild<W*>(QString::fromLatin1(name));
    if (!w)
        throw std::runtime_error(std::string("no control ") + name);
    return *w;
}

inline void Choose(CPreferencesDlg& dlg, const char* combo, const char* entry)
{
    QComboBox& box = Child<QComboBox>(dlg, combo);
    const int index = box.findText(QString::fromLatin1(entry), Qt::MatchExactly);
    ASSERT_GE(index, 0) << combo << " has no entry " << entry;
    box.setCurrentIndex(index);
}

inline void PressKey(QWidget& w, Qt::Key key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &press);
}

// Runs `script` on the settings dialog once it is the active modal window.
// A dialog still open long after the script ran is cancelled, so a test that
// fails cannot hang the run.
inline void WhenModal(std::function<void(CPreferencesDlg&)> script)
{
    // Owned by the application: freed once done, or with the application.
    QTimer* poll = new QTimer(QCoreApplication::instance());
    auto waited = std::make_shared<int>(0);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, waited, script] {
        auto* dlg = qobject_cast<CPreferencesDlg*>(QApplication::activeModalWidget());
        if (!dlg) {
            if (++*waited > 1000) {
                poll->stop();
                poll->deleteLater();
                ADD_FAILURE() << "the settings dialog never became modal";
            }
            return;
        }
        poll->stop();
        poll->deleteLater();
        script(*dlg);
        QPointer<CPreferencesDlg> guard(dlg);
        QTimer::singleShot(10000, [guard] {
            if (guard && guard->isVisible()) {
                ADD_FAILURE() << "the settings dialog was left open";
                guard->reject();
            }
        });
    });
    poll->start();
}
