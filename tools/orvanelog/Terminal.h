// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The terminal the live status line is drawn on: its width (TIOCGWINSZ), and
// a descriptor that turns readable when the window changed size (SIGWINCH,
// blocked with the stop signals and read from a signalfd in the loop).
#include "sys/SysIo.h"

#include <cstddef>

namespace terminal {

// Blocks SIGWINCH in the calling thread and the threads it starts later.
bool BlockResizeSignal();
// A descriptor readable while a SIGWINCH is pending; invalid on failure.
sysio::UniqueFd OpenResizeFd();
// Reads the pending resizes; true when there was one.
bool TakeResize(int fd);
// The width of the terminal on fd; 0 when fd is not a terminal or it has none.
std::size_t Columns(int fd);

}  // namespace terminal
