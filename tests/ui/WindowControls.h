// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The main window as its user and its parts see it: controls found by their
// object name (the id's name), state read through the parts' interfaces.
#include "ui/OrvaneDlg.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cstdlib>
#include <string>

template <class T = QWidget>
T& Control(const QObject& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found) {
        ADD_FAILURE() << "no control named " << name;
        std::abort();
    }
    return *found;
}

inline QPushButton& Button(const QObject& w, const char* id) { return Control<QPushButton>(w, id); }
inline QRadioButton& Radio(const QObject& w, const char* id) { return Control<QRadioButton>(w, id); }
inline QCheckBox& Check(const QObject& w, const char* id) { return Control<QCheckBox>(w, id); }
inline QLineEdit& LineEdit(const QObject& w, const char* id) { return Control<QLineEdit>(w, id); }
inline QLabel& Label(const QObject& w, const char* id) { return Control<QLabel>(w, id); }
inline QComboBox& Combo(const QObject& w) { return Control<QComboBox>(w, "IDC_PORT"); }
inline QAction& Action(const QObject& w, const char* name) { return Control<QAction>(w, name); }

// The mode radios, by mode.
inline constexpr const char* kModeRadio[] = {"IDC_MODE_LOG_CLIENT", "IDC_MODE_DM_AT", "IDC_MODE_HEX",
                                             "IDC_MODE_ASCII", "IDC_MODE_LOG_SERVER"};
// Click a mode radio as the user does: the check moves, then the handler runs.
inline void ClickMode(COrvaneDlg& d, int mode) { Radio(d, kModeRadio[mode]).click(); }

// State, through the parts.
inline bool PortOpen(COrvaneDlg& d) { return d.Connection().IsOpen(); }
inline std::int64_t& RxTotal(COrvaneDlg& d) { return d.ReceiveView().RxTotal(); }
inline std::uint32_t Steps(COrvaneDlg& d) { return d.LogClient().Session().StepCounter(); }
inline CCaptureFile& Capture(COrvaneDlg& d) { return d.LogClient().Capture(); }
inline CCaptureLine& CaptureLine(COrvaneDlg& d) { return d.LogClient().Line(); }
inline CResultsBox& ResultsBox(COrvaneDlg& d) { return d.ReceiveView().Box(); }
inline bool TimerActive(COrvaneDlg& d, int id)
{
    return d.LogClient().TimerActive(id == TIMER_DEFAULTS ? LogClientSequence::Defaults : LogClientSequence::Config);
}
inline std::int32_t& Replaying(COrvaneDlg& d) { return d.LogServer().Session().ReplayingFlag(); }
inline const std::vector<std::uint8_t>& LogData(COrvaneDlg& d) { return d.LogServer().Session().LogData(); }
// Captures go into dir.
inline void UseStartDir(COrvaneDlg& d, const std::string& dir) { d.LogClient().Session().CaptureDirectory() = dir; }
