// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/SettingsStore.h"

#include <QSettings>

namespace {
QSettings Open()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("orvane"), QStringLiteral("orvane"));
}

QString HistoryKey(int mode)
{
    return QStringLiteral("history/mode%1").arg(mode);
}
}  // namespace

QStringList CSettingsStore::History(int mode) const
{
    return Open().value(HistoryKey(mode)).toStringList();
}

void CSettingsStore::SetHistory(int mode, const QStringList& lines)
{
    Open().setValue(HistoryKey(mode), lines);
}

QString CSettingsStore::LastFolder() const
{
    return Open().value(QStringLiteral("dialogs/lastFolder")).toString();
}

void CSettingsStore::SetLastFolder(const QString& folder)
{
    Open().setValue(QStringLiteral("dialogs/lastFolder"), folder);
}

bool CSettingsStore::ListsFromLoggingView() const
{
    return Open().value(QStringLiteral("logclient/listsFromLoggingView"), false).toBool();
}

void CSettingsStore::SetListsFromLoggingView(bool on)
{
    Open().setValue(QStringLiteral("logclient/listsFromLoggingView"), on);
}

bool CSettingsStore::DecodedViewShown() const
{
    return Open().value(QStringLiteral("view/decodedView"), false).toBool();
}

void CSettingsStore::SetDecodedViewShown(bool on)
{
    Open().setValue(QStringLiteral("view/decodedView"), on);
}
