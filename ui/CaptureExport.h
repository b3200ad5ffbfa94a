// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CCaptureExport: the context menu's way into Wireshark. "Export Capture to
// pcap..." converts the last capture (or a file chosen when there is none)
// into a pcap of GSMTAP messages at a path the user chooses; "Open Capture in
// Wireshark", offered only when wireshark is on the PATH, converts it into a
// new file in the temporary folder and starts wireshark -r on it, detached.
// Either says what it sent and skipped on the capture line. A FIFO or device
// is refused at once (the converter opens only regular files). Window thread.
#include "ui/ContextMenuPart.h"

#include <QAction>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <string>

class IPrompts;

class CCaptureExport : public QObject, public IContextMenuPart {
    Q_OBJECT

public:
    using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;

    CCaptureExport(IPrompts& prompts, QObject* parent = nullptr);

    // The capture to export: the open or last one; empty when there is none.
    void SetCapturePath(std::function<std::string()> path) { m_capturePath = std::move(path); }
    // Where the counts go (the capture line's note).
    void OnNote(std::function<void(const QString&)> sink) { m_noteSink = std::move(sink); }
    // How wireshark is started (QProcess::startDetached; tests put a fake here).
    void SetLauncher(Launcher launcher) { m_launch = std::move(launcher); }
    // The wireshark program found on the PATH; empty when there is none.
    static QString WiresharkProgram();

    // The actions' work; false when nothing was written (the user was told why).
    bool ExportToPcap();
    bool OpenInWireshark();
    // Converts capture into pcap and tells the counts; false (user told) on failure.
    bool Convert(const QString& capture, const QString& pcap);

    void AddContextActions(QMenu& menu, const ContextMenuState& state) override;

private:
    std::optional<QString> CaptureToExport();
    static QString TemporaryPcapPath();

    IPrompts& m_prompts;
    QAction m_actionExport{QStringLiteral("Export Capture to pcap..."), this};
    QAction m_actionWireshark{QStringLiteral("Open Capture in Wireshark"), this};
    std::function<std::string()> m_capturePath;
    std::function<void(const QString&)> m_noteSink;
    Launcher m_launch;
};
