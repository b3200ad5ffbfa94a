// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the window keeps between runs, in the user's settings file
// (~/.config/orvane/orvane.ini): the command history per mode, the folder the
// file dialogs last used, where the configuration's lists are read from, and
// whether the decoded view is shown.
// Nothing else: every other control starts as it always does.
#include <QString>
#include <QStringList>

class CSettingsStore {
public:
    QStringList History(int mode) const;
    void SetHistory(int mode, const QStringList& lines);
    QString LastFolder() const;
    void SetLastFolder(const QString& folder);
    bool ListsFromLoggingView() const;
    void SetListsFromLoggingView(bool on);
    // The decoded view under the results box; off until the user turns it on.
    bool DecodedViewShown() const;
    void SetDecodedViewShown(bool on);
};
