// SPDX-License-Identifier: GPL-2.0-or-later
// Widget tests need one QApplication for the whole program.
#include "ui/OrvaneDlg.h"

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    // The modem on the far end of these ptys is the test itself: it needs no
    // settling time after Open.
    COrvaneDlg::SetConnectSettleForTests(0);
    // The window keeps a few settings between runs; a test run keeps its own,
    // starting empty, and never touches the user's.
    QStandardPaths::setTestModeEnabled(true);
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
