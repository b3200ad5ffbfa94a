// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/Prompts.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStringList>

void CQtPrompts::MessageBox(const QString& text, Icon icon, const QString& detail)
{
    QMessageBox box(icon == Icon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                    QStringLiteral("Orvane"), text, QMessageBox::Ok, m_parent);
    if (!detail.isEmpty())
        box.setInformativeText(detail);
    box.exec();
}

namespace {
// "Config file(*.dmc)|*.dmc|" -> "Config file(*.dmc)": the Windows filter pairs a
// caption with its patterns; Qt reads the patterns from the caption's brackets.
QString ToQtFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString caption = parts[i];
        if (!caption.contains(QLatin1Char('(')))
            caption += QStringLiteral(" (") + QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')) + QLatin1Char(')');
        else
            caption.replace(QLatin1Char(';'), QLatin1Char(' '));
        out << caption;
    }
    return out.join(QStringLiteral(";;"));
}
}  // namespace

std::optional<QString> CQtPrompts::GetOpenFileName(const QString& filter)
{
    QFileDialog dialog(m_parent, QString(), m_startFolder, ToQtFilter(filter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return QString();
    m_startFolder = QFileInfo(files.first()).absolutePath();
    return files.first();
}

std::optional<QString> CQtPrompts::GetSaveFileName(const QString& filter)
{
    const QString qtFilter = ToQtFilter(filter);
    QFileDialog dialog(m_parent, QString(), m_startFolder, qtFilter);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // "Text file(*.txt)" -> a name typed without an extension gets ".txt".
    const qsizetype star = qtFilter.indexOf(QStringLiteral("*."));
    if (star >= 0) {
        const qsizetype end = qtFilter.indexOf(QRegularExpression(QStringLiteral("[ ;)]")), star);
        const QString suffix = qtFilter.mid(star + 2, end < 0 ? -1 : end - star - 2);
        if (!suffix.contains(QLatin1Char('*')))
            dialog.setDefaultSuffix(suffix);
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return std::nullopt;
    m_startFolder = QFileInfo(files.first()).absolutePath();
    return files.first();
}
