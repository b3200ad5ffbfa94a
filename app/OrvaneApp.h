// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// COrvaneApp: starts the tool and runs the main window until it is closed.
class COrvaneApp {
public:
    int InitInstance(int argc, char** argv);
};
