// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/AppIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

// A dark rounded tile with a framed signal trace: the line a DM port carries,
// ending in the closing flag of an HDLC frame (the orange dot).
QImage RenderOrvaneIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    QLinearGradient background(0, 0, 0, s);
    background.setColorAt(0, QColor(0x1f, 0x4e, 0x79));
    background.setColorAt(1, QColor(0x10, 0x2a, 0x43));
    p.setPen(Qt::NoPen);
    p.setBrush(background);
    p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);

    QPainterPath trace;
    const qreal y0 = s * 0.62, y1 = s * 0.30;
    trace.moveTo(s * 0.12, y0);
    trace.lineTo(s * 0.26, y0);
    trace.lineTo(s * 0.26, y1);
    trace.lineTo(s * 0.42, y1);
    trace.lineTo(s * 0.42, y0);
    trace.lineTo(s * 0.52, y0);
    trace.lineTo(s * 0.52, y1);
    trace.lineTo(s * 0.64, y1);
    trace.lineTo(s * 0.64, y0);
    trace.lineTo(s * 0.74, y0);
    QPen pen(QColor(0xe8, 0xf1, 0xf8), qMax<qreal>(1.5, s * 0.085), Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(trace);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf3, 0x9c, 0x12));
    const qreal r = qMax<qreal>(1.5, s * 0.10);
    p.drawEllipse(QPointF(s * 0.84, y0), r, r);
    return image;
}

QIcon OrvaneIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addPixmap(QPixmap::fromImage(RenderOrvaneIcon(size)));
    return icon;
}
