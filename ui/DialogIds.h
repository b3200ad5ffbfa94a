// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Identifiers every dialog shares: the standard results, and the main
// window's own messages (a queued invocation and a direct call stand in for
// them; the numbers keep the window's message numbering).
#include "serial/SerialPort.h"

enum : int {
    IDOK = 1,
    IDCANCEL = 2,
};

inline constexpr unsigned WM_SEND_LOG = WM_USER + 3;     // the replay, sent to the own window
inline constexpr unsigned WM_SEND_REPLY = WM_USER + 4;   // a canned reply, posted by the receive handler
