// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/CaptureExport.h"

#include "decode/DiagDecoder.h"
#include "decode/GsmtapConverter.h"
#include "ui/DecodedView.h"
#include "ui/Prompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {
constexpr const char* kPcapFilter = "pcap file(*.pcap)|*.pcap|";
}  // namespace

CCaptureExport::CCaptureExport(IPrompts& prompts, QObject* parent)
    : QObject(parent),
      m_prompts(prompts),
      m_launch([](const QString& program, const QStringList& arguments) {
          return QProcess::startDetached(program, arguments);
      })
{
    m_actionExport.setObjectName(QStringLiteral("actionExportPcap"));
    m_actionWireshark.setObjectName(QStringLiteral("actionOpenInWireshark"));
    connect(&m_actionExport, &QAction::triggered, this, [this] { ExportToPcap(); });
    connect(&m_actionWireshark, &QAction::triggered, this, [this] { OpenInWireshark(); });
}

QString CCaptureExport::WiresharkProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("wireshark"));
}

std::optional<QString> CCaptureExport::CaptureToExport()
{
    const std::string last = m_capturePath ? m_capturePath() : std::string();
    if (!last.empty())
        return QString::fromStdString(last);
    return m_prompts.GetOpenFileName(QString::fromLatin1(CDecodedView::kCaptureFilter));
}

bool CCaptureExport::Convert(const QString& capture, const QString& pcap)
{
    const decode::PcapConversion done = decode::ConvertCaptureToPcap(capture.toStdString(), pcap.toStdString());
    if (!done.ok) {
        m_prompts.MessageBox(QStringLiteral("The capture could not be exported to pcap."), IPrompts::Icon::Exclamation,
                             QString::fromStdString(done.error));
        return false;
    }
    if (m_noteSink)
        m_noteSink(QStringLiteral("%1: %2")
                       .arg(QFileInfo(pcap).fileName(), QString::fromStdString(decode::DescribeGsmtapCounts(done.counts))));
    return true;
}

bool CCaptureExport::ExportToPcap()
{
    const std::optional<QString> capture = CaptureToExport();
    if (!capture)
        return false;
    const std::optional<QString> pcap = m_prompts.GetSaveFileName(QString::fromLatin1(kPcapFilter));
    if (!pcap)
        return false;
    return Convert(*capture, *pcap);
}

// A new, empty file of our own in the temporary folder; wireshark reads it
// after we are gone, so it stays.
QString CCaptureExport::TemporaryPcapPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    if (folder.isEmpty())
        folder = QStringLiteral("/tmp");
    QTemporaryFile file(QDir(folder).filePath(QStringLiteral("orvane-XXXXXX.pcap")));
    file.setAutoRemove(false);
    if (!file.open())
        return {};
    return file.fileName();
}

bool CCaptureExport::OpenInWireshark()
{
    const std::optional<QString> capture = CaptureToExport();
    if (!capture)
        return false;
    const QString pcap = TemporaryPcapPath();
    if (pcap.isEmpty()) {
        m_prompts.MessageBox(QStringLiteral("No temporary file could be made for Wireshark."),
                             IPrompts::Icon::Exclamation);
        return false;
    }
    if (!Convert(*capture, pcap)) {
        QFile::remove(pcap);
        return false;
    }
    const QString program = WiresharkProgram();
    if (program.isEmpty() || !m_launch(program, {QStringLiteral("-r"), pcap})) {
        m_prompts.MessageBox(QStringLiteral("Wireshark could not be started."), IPrompts::Icon::Exclamation,
                             QStringLiteral("The pcap is %1").arg(pcap));
        return false;
    }
    return true;
}

void CCaptureExport::AddContextActions(QMenu& menu, const ContextMenuState& state)
{
    (void)state;
    menu.addAction(&m_actionExport);
    if (!WiresharkProgram().isEmpty())
        menu.addAction(&m_actionWireshark);
}
