// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/DecodedFeed.h"

#include "ui/Prompts.h"

#include <QFileInfo>
#include <QMenu>

#include <algorithm>

namespace {
// Records handed to the view at a time while a file is decoded: the model
// keeps only its newest rows, so a long file never sits whole in memory.
constexpr std::size_t kFileBatch = 4096;
}  // namespace

CDecodedFeed::CDecodedFeed(IPrompts& prompts, QWidget* viewParent, QObject* parent)
    : QObject(parent), m_prompts(prompts), m_view(prompts, viewParent)
{
    m_view.setObjectName(QStringLiteral("decodedView"));
    m_view.hide();
    m_actionShow.setObjectName(QStringLiteral("actionDecodedView"));
    m_actionShow.setCheckable(true);
    connect(&m_actionShow, &QAction::triggered, this, [this](bool on) {
        m_settings.SetDecodedViewShown(on);
        SetShown(on);
    });
    connect(&m_view, &CDecodedView::MessageDatabaseChosen, this, [this](const QString& p) { LoadMessageDatabase(p); });
    connect(&m_view, &CDecodedView::CaptureFileChosen, this, [this](const QString& p) { DecodeCaptureFile(p); });
    // The worker decodes; the window takes its records at most 30 times a second.
    m_take.setInterval(33);
    connect(&m_take, &QTimer::timeout, this, [this] { TakeRecords(); });
}

CDecodedFeed::~CDecodedFeed() = default;

void CDecodedFeed::ApplyKeptChoice()
{
    const bool shown = m_settings.DecodedViewShown();
    m_actionShow.setChecked(shown);
    SetShown(shown);
}

void CDecodedFeed::SetShown(bool shown)
{
    m_actionShow.setChecked(shown);
    m_view.setVisible(shown);
    // What arrived while hidden was never read: the next frame starts clean.
    m_worker.Reset();
    if (shown)
        m_take.start();
    else
        m_take.stop();
    if (m_onShownChanged)
        m_onShownChanged(shown);
    ReportCount();
}

void CDecodedFeed::ReportCount()
{
    if (m_countSink)
        m_countSink(Shown() ? std::optional<std::uint64_t>(m_debugMessages) : std::nullopt);
}

void CDecodedFeed::OnReceived(std::span<const std::uint8_t> chunk)
{
    // One copy of the chunk: the worker thread deframes and decodes it, so a
    // flood costs the window's thread nothing per record.
    if (Shown())
        m_worker.Push(chunk);
}

// Window thread, on the 33 ms timer: the records decoded since the last turn.
void CDecodedFeed::TakeRecords()
{
    decode::CRecordWorker::Batch batch = m_worker.Take();
    if (batch.debugMessages != 0) {
        m_debugMessages += batch.debugMessages;
        ReportCount();
    }
    if (!batch.records.empty())
        m_view.Append(std::move(batch.records));
}

void CDecodedFeed::Reset()
{
    m_worker.Reset();
    m_debugMessages = 0;
    ReportCount();
}

bool CDecodedFeed::LoadMessageDatabase(const QString& path)
{
    auto database = std::make_shared<decode::CMessageDatabase>();
    std::string error;
    if (!database->Load(path.toStdString(), &error)) {
        m_prompts.MessageBox(QStringLiteral("The message database could not be loaded."), IPrompts::Icon::Exclamation,
                             path + QStringLiteral(": ") + QString::fromStdString(error));
        return false;
    }
    m_database = std::move(database);
    m_worker.SetDatabase(m_database);
    if (m_noteSink)
        m_noteSink(QStringLiteral("Load Message Database: %1 messages from %2")
                       .arg(m_database->Size())
                       .arg(QFileInfo(path).fileName()));
    return true;
}

bool CDecodedFeed::DecodeCaptureFile(const QString& path)
{
    m_view.Clear();
    decode::CRecordStream stream(m_database);
    std::vector<decode::DecodedRecord> batch;
    std::uint64_t records = 0;
    decode::CaptureSinks sinks;
    sinks.onPacket = [&](std::span<const std::uint8_t>, std::span<const decode::DecodedRecord> decoded) {
        batch.insert(batch.end(), decoded.begin(), decoded.end());
        records += decoded.size();
        if (batch.size() >= kFileBatch)
            m_view.Append(std::exchange(batch, {}));
    };
    std::string error;
    const bool ok = decode::DecodeCaptureFile(path.toStdString(), stream, sinks, &error);
    if (!batch.empty())
        m_view.Append(std::move(batch));
    if (!ok) {
        m_prompts.MessageBox(QStringLiteral("The capture file could not be decoded."), IPrompts::Icon::Exclamation,
                             QString::fromStdString(error));
        return false;
    }
    if (m_noteSink)
        m_noteSink(QStringLiteral("Decode Capture File: %1 records from %2").arg(records).arg(QFileInfo(path).fileName()));
    return true;
}

void CDecodedFeed::AddContextActions(QMenu& menu, const ContextMenuState& state)
{
    (void)state;
    menu.addSeparator();
    menu.addAction(&m_actionShow);
    if (!Shown())
        return;
    m_view.SaveDecodedTextAction().setEnabled(m_view.Model().rowCount() > 0);
    menu.addActions({&m_view.SaveDecodedTextAction(), &m_view.DecodeCaptureFileAction(),
                     &m_view.LoadMessageDatabaseAction()});
}
