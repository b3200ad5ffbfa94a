// SPDX-License-Identifier: GPL-2.0-or-later
// orvane-iconexport: writes the application icon, as drawn by the program
// itself, to PNG files for the desktop's icon theme, so the installed icon and
// the one in the window's title bar never drift apart.
//
//   orvane-iconexport OUTDIR SIZE...
//
// writes OUTDIR/<n>x<n>/apps/orvane.png for each SIZE.
#include "ui/AppIcon.h"

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "Usage: orvane-iconexport OUTDIR SIZE...\n");
        return 2;
    }
    // Painting into a QImage needs no application object and no display, so
    // this runs in a build without X or Wayland.
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        char* end = nullptr;
        const long size = std::strtol(argv[i], &end, 10);
        if (end == argv[i] || *end != '\0' || size < 1 || size > 1024) {
            std::fprintf(stderr, "orvane-iconexport: bad size '%s'\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        if (!QDir().mkpath(dir)) {
            std::fprintf(stderr, "orvane-iconexport: cannot create %s\n", qPrintable(dir));
            return 1;
        }
        const QImage image = RenderOrvaneIcon(static_cast<int>(size));
        const QString file = dir + QStringLiteral("/orvane.png");
        if (image.isNull() || image.width() != size || !image.save(file, "PNG")) {
            std::fprintf(stderr, "orvane-iconexport: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
