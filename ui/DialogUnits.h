// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Dialog templates are laid out in dialog units, which scale with the font:
// a horizontal unit is a quarter of the font's average character width, a
// vertical unit an eighth of its height. Converting with the window's own font
// keeps the arrangement of the templates whatever font the desktop uses.
#include <QFont>
#include <QFontMetrics>
#include <QRect>

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font)
    {
        const QFontMetrics metrics(font);
        const int letters = metrics.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        m_baseX = (letters / 26 + 1) / 2;
        m_baseY = metrics.height();
    }
    // Desktop fonts on Linux set text wider against their average letter than
    // the templates' font did, so a horizontal unit gets an eighth more room:
    // captions fit their boxes instead of being cut.
    int X(int units) const { return (units * m_baseX * 9 + 16) / 32; }
    int Y(int units) const { return (units * m_baseY + 4) / 8; }
    QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
    QSize Size(int w, int h) const { return QSize(X(w), Y(h)); }

private:
    int m_baseX;
    int m_baseY;
};
