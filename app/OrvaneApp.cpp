#include "app/OrvaneApp.h"

#include "ui/OrvaneDlg.h"
#include "ui/Prompts.h"

#include <QApplication>

int COrvaneApp::InitInstance(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setApplicationVersion(QStringLiteral("0.3.1"));
    CQtPrompts prompts;
    COrvaneDlg dialog(prompts);
    prompts.SetParent(&dialog);
    dialog.show();
    app.exec();
    return 0;
}
