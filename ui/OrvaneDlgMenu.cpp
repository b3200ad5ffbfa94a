// SPDX-License-Identifier: GPL-2.0-or-later
// The keys the window handles (Enter does nothing, F1 the About box, the Menu
// key and Shift+F10 the context menu, Up and Down the command history) and
// its context menu: the About entry and the entries of the parts that have
// some, after the results box's own Copy and Select All when opened there.
#include "ui/OrvaneDlg.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>

#include <memory>

bool COrvaneDlg::IsContextMenuKey(const QKeyEvent& key) const
{
    return key.key() == Qt::Key_Menu || (key.key() == Qt::Key_F10 && key.modifiers() == Qt::ShiftModifier);
}

void COrvaneDlg::keyPressEvent(QKeyEvent* event)
{
    if (IsContextMenuKey(*event)) {
        const QWidget* at = focusWidget() ? focusWidget() : this;
        OpenContextMenu(at->mapToGlobal(at->rect().center()), nullptr);
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        OnOK();
        event->accept();
        return;
    case Qt::Key_F1:
        OnSysCommand(IDM_ABOUTBOX);
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

bool COrvaneDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_editCommand && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Up || key == Qt::Key_Down) && WalkHistory(key))
            return true;
    }
    // The results box's own Copy and Select All, joined with the window's
    // entries; a right click reaches the box's viewport, a key the box.
    QPoint at;
    if (watched == m_editResults.viewport() && event->type() == QEvent::ContextMenu)
        at = static_cast<QContextMenuEvent*>(event)->pos();
    else if (watched == &m_editResults && event->type() == QEvent::KeyPress
             && IsContextMenuKey(*static_cast<QKeyEvent*>(event)))
        at = m_editResults.cursorRect().bottomLeft();
    else
        return QDialog::eventFilter(watched, event);
    std::unique_ptr<QMenu> menu(m_editResults.createStandardContextMenu(at));
    OpenContextMenu(m_editResults.viewport()->mapToGlobal(at), menu.get());
    return true;
}

void COrvaneDlg::contextMenuEvent(QContextMenuEvent* event)
{
    OpenContextMenu(event->globalPos(), nullptr);
}

// The About entry, then each part's entries; after a widget's own entries
// when it has some.
void COrvaneDlg::OpenContextMenu(QPoint globalPos, QMenu* menu)
{
    QMenu own(this);
    QMenu& shown = menu ? *menu : own;
    if (!shown.isEmpty())
        shown.addSeparator();
    shown.addAction(&m_actionAbout);
    shown.addSeparator();
    const ContextMenuState state{m_connection.IsOpen()};
    for (IContextMenuPart* part : m_menuParts)
        part->AddContextActions(shown, state);
    shown.exec(globalPos);
}
