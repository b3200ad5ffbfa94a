// SPDX-License-Identifier: GPL-2.0-or-later
// Takes the README's screenshots of the main window: run by
// scripts/screenshots.sh under Xvfb with the virtual modem linked as COM1.
//   orvane-screenshots <out-dir> <prefix>
// writes <prefix>-capture.png (Log client against the modem, the capture line
// counting), <prefix>-resized.png (the same window made larger) and
// <prefix>-decoded.png (the larger window with the decoded view shown). The
// window's kept settings are a fresh set of the run's own, never the user's.
#include "ui/OrvaneDlg.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>

namespace {
void Pump(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool Shoot(QWidget& window, const QString& path)
{
    Pump(700);
    const QPixmap shot = window.screen()->grabWindow(0, window.x(), window.y(), window.width(), window.height());
    return shot.save(path);
}
}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: orvane-screenshots <out-dir> <prefix>\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString prefix = QString::fromLocal8Bit(argv[2]);
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    CQtPrompts prompts;
    COrvaneDlg dlg(prompts);
    prompts.SetParent(&dlg);
    dlg.move(0, 0);
    dlg.show();
    Pump(300);
    dlg.OnModeLogClient();
    dlg.OnConnect();
    if (!dlg.m_SerialPort.IsOpen()) {
        std::fprintf(stderr, "orvane-screenshots: connect failed: %s\n", dlg.m_SerialPort.GetLastErrorText().c_str());
        return 1;
    }
    dlg.LoadDefaultConfig();
    Pump(3000);   // the default packets go out and the modem's log stream comes in
    bool ok = Shoot(dlg, out + QStringLiteral("/%1-capture.png").arg(prefix));
    dlg.resize(dlg.size() + QSize(240, 120));
    ok = Shoot(dlg, out + QStringLiteral("/%1-resized.png").arg(prefix)) && ok;
    dlg.resize(dlg.size() + QSize(360, 120));
    dlg.Decoded().ShowAction().trigger();
    Pump(3000);   // the modem's messages and records fill the view
    ok = Shoot(dlg, out + QStringLiteral("/%1-decoded.png").arg(prefix)) && ok;
    dlg.OnDisconnect();
    return ok ? 0 : 1;
}
