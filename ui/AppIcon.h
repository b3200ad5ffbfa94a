// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The application icon IDR_MAINFRAME, drawn in code at 16, 24, 32 and 48 pixels.
#include <QIcon>
#include <QImage>

QImage RenderOrvaneIcon(int size);
QIcon OrvaneIcon();
