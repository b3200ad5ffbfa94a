// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/DialogLayout.h"

#include <QComboBox>
#include <QLabel>
#include <QWidget>

#include <algorithm>

namespace {
// A closed drop-down list is as tall as an edit; each entry of the dropped list
// takes about one line of text.
constexpr int kClosedComboHeight = 14;
constexpr int kEntryHeight = 8;

QRect PlacedRect(QWidget* widget, const DialogPlacement& p, const DialogUnits& du)
{
    auto* combo = qobject_cast<QComboBox*>(widget);
    if (!combo || p.h <= kClosedComboHeight)
        return du.Rect(p.x, p.y, p.w, p.h);
    combo->setMaxVisibleItems(std::max(1, (p.h - kClosedComboHeight) / kEntryHeight));
    return du.Rect(p.x, p.y, p.w, kClosedComboHeight);
}
}  // namespace

void CDialogLayout::Place(std::span<const DialogPlacement> placements, const DialogUnits& du,
                          DialogPlacementOptions options)
{
    m_items.clear();
    QWidget* previous = nullptr;
    for (const DialogPlacement& p : placements) {
        p.widget->setObjectName(QString::fromLatin1(p.name));
        const QRect rect = PlacedRect(p.widget, p, du);
        p.widget->setGeometry(rect);
        m_items.push_back({p.widget, rect, p.anchors});
        if (auto* label = qobject_cast<QLabel*>(p.widget)) {
            label->setTextFormat(Qt::PlainText);
            label->setFocusPolicy(Qt::NoFocus);
            continue;
        }
        if (options.everyControlTakesFocus)
            p.widget->setFocusPolicy(Qt::StrongFocus);
        if (p.widget->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, p.widget);
        previous = p.widget;
    }
}

void CDialogLayout::Resize(QSize base, QSize size)
{
    const int dx = size.width() - base.width();
    const int dy = size.height() - base.height();
    for (const Item& item : m_items) {
        QRect r = item.rect;
        if (item.anchors & kFollowRight)
            r.translate(dx, 0);
        if (item.anchors & kFollowBottom)
            r.translate(0, dy);
        if (item.anchors & kGrowWidth)
            r.setWidth(std::max(0, r.width() + dx));
        if (item.anchors & kGrowHeight)
            r.setHeight(std::max(0, r.height() + dy));
        item.widget->setGeometry(r);
    }
}
