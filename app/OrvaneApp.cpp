// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/OrvaneApp.h"

#include "sys/StopSignals.h"
#include "ui/OrvaneDlg.h"
#include "ui/Prompts.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <memory>

int COrvaneApp::InitInstance(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setApplicationVersion(QStringLiteral("0.3.1"));
    // SIGTERM, SIGHUP and SIGINT end the program as closing the window does:
    // the capture is closed, then the port with its own settings restored, exit 0.
    // Before the dialog, so it outlives it: a signal while the port closes waits.
    sysio::CStopSignalPipe stopSignals;
    if (stopSignals.Fd() < 0)
        std::fprintf(stderr, "orvane: %s; signals end the program at once\n", stopSignals.Error().c_str());
    CQtPrompts prompts;
    COrvaneDlg dialog(prompts);
    prompts.SetParent(&dialog);

    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (stopSignals.Fd() >= 0) {
        stopNotifier = std::make_unique<QSocketNotifier>(stopSignals.Fd(), QSocketNotifier::Read);
        QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, &dialog, [&] {
            stopSignals.Drain();
            // As the close box does: the capture closes now, the port when the
            // dialog goes at the end of this function. exit() also ends any
            // message box or file dialog that is open.
            dialog.reject();
            QCoreApplication::exit(0);
        });
    }
    dialog.show();
    app.exec();
    return 0;
}
