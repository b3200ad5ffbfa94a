// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/DecodedView.h"

#include "decode/RecordText.h"
#include "decode/TextLineFile.h"
#include "ui/Prompts.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// What each column is wide enough for; the text takes the rest.
constexpr const char* kTimeSample = "00:00:00.000";
constexpr const char* kKindSample = "MALFORMED";
constexpr const char* kCodeSample = "0xB0C0";
constexpr const char* kNameSample = "EVENT_LTE_RRC_STATE_CHANGE";
}  // namespace

CDecodedView::CDecodedView(IPrompts& prompts, QWidget* parent) : QWidget(parent), m_prompts(prompts)
{
    setObjectName(QStringLiteral("decodedView"));
    m_model.SetFixedFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* layout = new QVBoxLayout(this);   // owned by this widget
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* bar = new QHBoxLayout();   // owned by layout
    layout->addLayout(bar);
    bar->addWidget(&m_filter, 1);
    bar->addWidget(&m_kindsButton);
    layout->addWidget(&m_table, 1);
    SetUpBar();
    SetUpTable();
    SetUpActions();
    SetUpFollowing();
}

CDecodedView::~CDecodedView() = default;

void CDecodedView::SetUpBar()
{
    m_filter.setObjectName(QStringLiteral("decodedFilter"));
    m_filter.setPlaceholderText(QStringLiteral("Filter"));
    m_filter.setClearButtonEnabled(true);
    connect(&m_filter, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });

    m_kindsButton.setObjectName(QStringLiteral("decodedKinds"));
    m_kindsButton.setPopupMode(QToolButton::InstantPopup);
    m_kindsButton.setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_kindsButton.setMenu(&m_kindsMenu);
    m_kindsMenu.installEventFilter(this);
    for (int kind = 0; kind < kKinds; ++kind) {
        QAction& action = m_kindActions[static_cast<std::size_t>(kind)];
        action.setParent(this);   // a member: the parent only finds it by name
        action.setText(QString::fromLatin1(decode::KindName(static_cast<decode::RecordKind>(kind))));
        action.setObjectName(QStringLiteral("decodedKind") + action.text());
        action.setCheckable(true);
        action.setChecked(true);
        connect(&action, &QAction::toggled, this, [this] { ApplyFilter(); });
        m_kindsMenu.addAction(&action);
    }
    UpdateKindsButton();
}

void CDecodedView::SetUpTable()
{
    m_table.setObjectName(QStringLiteral("decodedTable"));
    m_table.setModel(&m_model);
    m_table.setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table.setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table.setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    m_table.setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_table.setWordWrap(false);
    m_table.setTextElideMode(Qt::ElideRight);
    m_table.setShowGrid(false);
    m_table.setAlternatingRowColors(true);
    m_table.setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&m_table, &QWidget::customContextMenuRequested, this, &CDecodedView::ShowContextMenu);

    // Rows of one height: the table then never measures 100,000 rows.
    QHeaderView* rows = m_table.verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    const QFontMetrics fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    rows->setDefaultSectionSize(std::max(fixed.height(), fontMetrics().height()) + 4);

    QHeaderView* columns = m_table.horizontalHeader();
    columns->setHighlightSections(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setStretchLastSection(true);
    const QFontMetrics text = fontMetrics();
    // Cell margins on both sides, plus room for the header's sort mark.
    const int pad = 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 2 * text.averageCharWidth();
    columns->resizeSection(CDecodedRecordModel::ColTime, fixed.horizontalAdvance(QLatin1String(kTimeSample)) + pad);
    columns->resizeSection(CDecodedRecordModel::ColKind, text.horizontalAdvance(QLatin1String(kKindSample)) + pad);
    columns->resizeSection(CDecodedRecordModel::ColCode, fixed.horizontalAdvance(QLatin1String(kCodeSample)) + pad);
    columns->resizeSection(CDecodedRecordModel::ColName, text.horizontalAdvance(QLatin1String(kNameSample)) + pad);
}

void CDecodedView::SetUpActions()
{
    for (QAction* action : {&m_actionCopy, &m_actionSave, &m_actionDecodeCapture, &m_actionLoadDatabase})
        action->setParent(this);   // members: the parent only finds them by name
    m_actionCopy.setText(QStringLiteral("&Copy"));
    m_actionCopy.setObjectName(QStringLiteral("actionDecodedCopy"));
    m_actionCopy.setShortcut(QKeySequence::Copy);
    m_actionCopy.setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_table.addAction(&m_actionCopy);
    m_table.installEventFilter(this);
    connect(&m_actionCopy, &QAction::triggered, this, [this] { CopySelection(); });

    m_actionSave.setText(QStringLiteral("Save Decoded Text..."));
    m_actionSave.setObjectName(QStringLiteral("actionSaveDecodedText"));
    connect(&m_actionSave, &QAction::triggered, this, [this] { OnSaveDecodedText(); });

    m_actionDecodeCapture.setText(QStringLiteral("Decode Capture File..."));
    m_actionDecodeCapture.setObjectName(QStringLiteral("actionDecodeCaptureFile"));
    connect(&m_actionDecodeCapture, &QAction::triggered, this, [this] {
        if (const std::optional<QString> path = m_prompts.GetOpenFileName(QString::fromLatin1(kCaptureFilter)); path && !path->isEmpty())
            emit CaptureFileChosen(*path);
    });

    m_actionLoadDatabase.setText(QStringLiteral("Load Message Database..."));
    m_actionLoadDatabase.setObjectName(QStringLiteral("actionLoadMessageDatabase"));
    connect(&m_actionLoadDatabase, &QAction::triggered, this, [this] {
        if (const std::optional<QString> path = m_prompts.GetOpenFileName(QString::fromLatin1(kDatabaseFilter)); path && !path->isEmpty())
            emit MessageDatabaseChosen(*path);
    });
}

void CDecodedView::SetUpFollowing()
{
    QScrollBar* bar = m_table.verticalScrollBar();
    // The user at the foot follows the newest row; anywhere else reads older ones.
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) { m_follow = value >= bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (m_follow)
            bar->setValue(maximum);
    });
    // Rows dropped above the ones being read would slide them up: scroll back by as many.
    connect(&m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex&, int first, int last) {
        m_rowsDroppedAbove = (!m_follow && first == 0) ? last + 1 : 0;
    });
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, [this, bar] {
        if (m_rowsDroppedAbove > 0)
            bar->setValue(std::max(0, bar->value() - m_rowsDroppedAbove));
        m_rowsDroppedAbove = 0;
    });
    // A new filter shows other rows: start again at the newest.
    connect(&m_model, &QAbstractItemModel::modelReset, this, [this] {
        m_follow = true;
        m_table.scrollToBottom();
    });
}

bool CDecodedView::eventFilter(QObject* watched, QEvent* event)
{
    // The table would copy its current cell on Ctrl+C: the view copies the selected rows instead.
    if (watched == &m_table && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)
        && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        event->accept();
        if (event->type() == QEvent::KeyPress)
            CopySelection();
        return true;
    }
    // The kinds menu stays open while the user ticks several kinds.
    if (watched == &m_kindsMenu && event->type() == QEvent::MouseButtonRelease) {
        if (QAction* action = m_kindsMenu.actionAt(static_cast<QMouseEvent*>(event)->position().toPoint())) {
            action->trigger();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CDecodedView::ApplyFilter()
{
    unsigned mask = 0;
    for (int kind = 0; kind < kKinds; ++kind)
        if (m_kindActions[static_cast<std::size_t>(kind)].isChecked())
            mask |= CDecodedRecordModel::KindBit(static_cast<decode::RecordKind>(kind));
    UpdateKindsButton();
    m_model.SetFilter(m_filter.text(), mask);
}

void CDecodedView::UpdateKindsButton()
{
    QStringList chosen;
    for (const QAction& action : m_kindActions)
        if (action.isChecked())
            chosen << action.text();
    // Short enough to leave the filter box its room: names only for one or two.
    if (chosen.size() == kKinds)
        m_kindsButton.setText(QStringLiteral("All kinds"));
    else if (chosen.isEmpty())
        m_kindsButton.setText(QStringLiteral("No kinds"));
    else if (chosen.size() <= 2)
        m_kindsButton.setText(chosen.join(QStringLiteral(", ")));
    else
        m_kindsButton.setText(QStringLiteral("%1 kinds").arg(chosen.size()));
    m_kindsButton.setToolTip(chosen.join(QStringLiteral(", ")));
}

void CDecodedView::ShowContextMenu(const QPoint& pos)
{
    QMenu menu(this);
    m_actionCopy.setEnabled(m_table.selectionModel()->hasSelection());
    m_actionSave.setEnabled(m_model.rowCount() > 0);
    menu.addAction(&m_actionCopy);
    menu.addAction(&m_actionSave);
    menu.addSeparator();
    menu.addAction(&m_actionDecodeCapture);
    menu.addAction(&m_actionLoadDatabase);
    menu.exec(m_table.viewport()->mapToGlobal(pos));
    m_actionCopy.setEnabled(true);
    m_actionSave.setEnabled(true);
}

void CDecodedView::CopySelection()
{
    QModelIndexList rows = m_table.selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::string text;
    for (const QModelIndex& index : rows) {
        text += m_model.Line(index.row());
        text += '\n';
    }
    QApplication::clipboard()->setText(QString::fromStdString(text));
}

void CDecodedView::OnSaveDecodedText()
{
    const std::optional<QString> path = m_prompts.GetSaveFileName(QString::fromLatin1(kTextFilter));
    if (!path || path->isEmpty())
        return;
    QString error;
    if (!SaveShownRows(*path, &error))
        m_prompts.MessageBox(QStringLiteral("Fail to write decoded text"), IPrompts::Icon::Exclamation, error);
}

bool CDecodedView::SaveShownRows(const QString& path, QString* error)
{
    // Rows still queued belong to what the user sees as written.
    m_model.Flush();
    decode::CTextLineFile file;
    bool ok = file.Open(path.toStdString());
    for (int row = 0; ok && row < m_model.rowCount(); ++row)
        ok = file.WriteLine(m_model.Line(row));
    ok = file.Close() && ok;
    if (!ok && error)
        *error = QString::fromStdString(file.LastError());
    return ok;
}
