// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A part of the window that has entries in its context menu. The window builds
// the menu afresh each time it opens (from a right click on the window or on
// the results box, the Menu key or Shift+F10): the About entry, then each
// part's entries in the order the parts were added.
class QMenu;

struct ContextMenuState {
    bool connected = false;   // the port is open
};

class IContextMenuPart {
public:
    virtual ~IContextMenuPart() = default;
    // Adds this part's entries, enabled as they apply now.
    virtual void AddContextActions(QMenu& menu, const ContextMenuState& state) = 0;
};
