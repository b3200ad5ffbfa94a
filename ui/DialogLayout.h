// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Places a dialog's controls from its template: each control's name, its
// rectangle in dialog units, and its tab order. Both dialogs use it.
//
// A resizable dialog also says how each control follows the window when it
// grows or shrinks from the template's size: stretch with it, or move with its
// right or bottom edge. The template's arrangement is what the window shows at
// the template's size.
#include "ui/DialogUnits.h"

#include <QRect>
#include <QSize>
#include <QString>
#include <span>
#include <vector>

class QWidget;

enum DialogAnchor : unsigned {
    kAnchorNone = 0,
    kGrowWidth = 1u << 0,
    kGrowHeight = 1u << 1,
    kFollowRight = 1u << 2,    // moves right as the window widens
    kFollowBottom = 1u << 3,   // moves down as the window grows
};

struct DialogPlacement {
    QWidget* widget;
    const char* name;   // objectName: the id's name
    int x, y, w, h;     // dialog units; a combo's h is that of its dropped list
    unsigned anchors = kAnchorNone;
};

struct DialogPlacementOptions {
    // Every control but a label takes the keyboard focus (a settings dialog);
    // otherwise each keeps the focus policy of its kind.
    bool everyControlTakesFocus = false;
};

class CDialogLayout {
public:
    // Names and places the controls and chains their tab order in table order.
    void Place(std::span<const DialogPlacement> placements, const DialogUnits& du,
               DialogPlacementOptions options = {});
    // Moves the controls for a window of size `size`, the template being `base`.
    void Resize(QSize base, QSize size);

private:
    struct Item {
        QWidget* widget;
        QRect rect;       // at the template's size, in pixels
        unsigned anchors;
    };
    std::vector<Item> m_items;
};
