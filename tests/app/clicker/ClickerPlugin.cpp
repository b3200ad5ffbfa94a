// SPDX-License-Identifier: GPL-2.0-or-later
// A Qt input plugin that plays the user inside a real `orvane` started by a
// test: once the main window shows, it clicks the controls named (by
// objectName) in $ORVANE_TEST_CLICKS, comma-separated, in order. The program
// itself has no hook for this; Qt loads the plugin when the test sets
// QT_PLUGIN_PATH and QT_QPA_GENERIC_PLUGINS=orvaneclicker.
#include <QAbstractButton>
#include <QApplication>
#include <QGenericPlugin>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class CClicker : public QObject {
public:
    explicit CClicker(QObject* parent) : QObject(parent)
    {
        m_names = QString::fromLocal8Bit(qgetenv("ORVANE_TEST_CLICKS")).split(QLatin1Char(','), Qt::SkipEmptyParts);
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] { Step(); });
        m_timer.start();
    }

private:
    // Window thread, every 20 ms until every control was clicked.
    void Step()
    {
        QWidget* main = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("IDD_MAIN") && w->isVisible())
                main = w;
        if (main == nullptr)
            return;
        m_timer.stop();
        for (const QString& name : m_names) {
            auto* button = main->findChild<QAbstractButton*>(name);
            if (button == nullptr) {
                std::fprintf(stderr, "clicker: no control %s\n", qPrintable(name));
                continue;
            }
            button->click();
        }
        std::fprintf(stderr, "clicker: done\n");
    }

    QStringList m_names;
    QTimer m_timer;
};

}   // namespace

class CClickerPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "clicker.json")

public:
    // The application keeps what this returns and deletes it when it ends.
    QObject* create(const QString& key, const QString&) override
    {
        if (key.compare(QLatin1String("orvaneclicker"), Qt::CaseInsensitive) != 0)
            return nullptr;
        return new CClicker(nullptr);
    }
};

#include "ClickerPlugin.moc"
