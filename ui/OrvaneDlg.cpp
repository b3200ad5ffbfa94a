// SPDX-License-Identifier: GPL-2.0-or-later
// Building the window: its controls from the template, its parts and how they
// are wired, and its size.
#include "ui/OrvaneDlg.h"

#include "ui/AppIcon.h"
#include "ui/DialogUnits.h"

#include <QScreen>

namespace {
constexpr int kPortCount = 60;
// The least height the results box keeps in a small window, in dialog units.
constexpr int kMinResultsHeight = 60;
// The capture line under the results box: three lines of text, and a gap.
constexpr int kCaptureLineHeight = 26;   // dialog units
constexpr int kCaptureLineGap = 2;
// Room left around a window for its frame and title bar when it must fit a screen.
const QSize kFrameAllowance(16, 48);
}  // namespace

COrvaneDlg::COrvaneDlg(IPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_prompts(prompts)
{
    setObjectName(QStringLiteral("IDD_MAIN"));
    // A capture takes a flood as it comes; the display modes a chunk per visit.
    m_connection.HandOverChunks([this] { return m_nMode == MODE_LOG_CLIENT; });
    // OnCreate: the port reports to this window from now on.
    m_SerialPort.SetNotifyWindow(this);
    CreateControls();
    OnInitDialog();
}

COrvaneDlg::~COrvaneDlg()
{
    OnDestroy();
    // The port closes before the controls go: its reader may be waiting for us.
    m_SerialPort.Close();
    // The controls go before the dialog does; events they send on the way
    // must not reach a filter that looks at controls already gone.
    m_editCommand.removeEventFilter(this);
    m_editResults.removeEventFilter(this);
    m_editResults.viewport()->removeEventFilter(this);
}

void COrvaneDlg::SetConnectSettleForTests(int milliseconds)
{
    CConnection::SetSettleForTests(milliseconds);
}

void COrvaneDlg::CreateControls()
{
    setWindowTitle(QStringLiteral("Orvane"));
    // Resizable: the results box takes any room the window is given.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogUnits du(font());
    m_templateSize = du.Size(283, 392);

    constexpr unsigned kStretch = kGrowWidth | kGrowHeight;
    constexpr unsigned kCorner = kFollowRight | kFollowBottom;
    // The template, and how each control follows a resized window. The
    // results box sits in the results area, which holds the parts shown there.
    const DialogPlacement placements[] = {
        {&m_labelPort, "IDC_STATIC_PORT", 19, 21, 16, 8},
        {&m_comboPort, "IDC_PORT", 40, 19, 48, 14},
        {&m_staticStatus, "IDC_STATIC_STATUS", 12, 127, 260, 11, kGrowWidth},
        {&m_btnConnect, "IDC_CONNECT", 93, 18, 50, 14},
        {&m_btnDisconnect, "IDC_DISCONNECT", 145, 18, 50, 14},
        {&m_editCommand, "IDC_COMMAND", 7, 78, 269, 14, kGrowWidth},
        {&m_btnSend, "IDC_SEND", 7, 96, 86, 16},
        {&m_groupResults, "IDC_STATIC_RESULTS", 7, 119, 269, 248, kStretch},
        {&m_groupConnection, "IDC_STATIC_CONNECTION", 7, 7, 269, 34, kGrowWidth},
        {&m_checkAddCR, "IDC_ADD_CR", 183, 100, 41, 10},
        {&m_editChar, "IDC_CHAR", 214, 369, 15, 14, kCorner},
        {&m_btnCharToHex, "IDC_CHAR_TO_HEX", 232, 369, 15, 14, kCorner},
        {&m_staticHexValue, "IDC_HEX_VALUE", 250, 369, 19, 14, kCorner},
        {&m_labelCharToHex, "IDC_STATIC_CHAR_TO_HEX", 168, 372, 44, 8, kCorner},
        {&m_btnSetting, "IDC_SETTING", 218, 18, 50, 14},
        {&m_resultsArea, "resultsArea", 11, 141, 261, 216, kStretch},
        {&m_btnClearResults, "IDC_CLEAR_RESULTS", 12, 369, 33, 15, kFollowBottom},
        {&m_checkAddLF, "IDC_ADD_LF", 231, 100, 40, 10},
        {&m_btnClear, "IDC_CLEAR", 98, 96, 78, 15},
        {&m_radioLogClient, "IDC_MODE_LOG_CLIENT", 14, 55, 47, 10},
        {&m_groupMode, "IDC_STATIC_SELECT_MODE", 7, 43, 269, 29, kGrowWidth},
        {&m_radioDmAt, "IDC_MODE_DM_AT", 65, 55, 37, 10},
        {&m_radioHex, "IDC_MODE_HEX", 110, 55, 29, 10},
        {&m_radioAscii, "IDC_MODE_ASCII", 153, 55, 33, 10},
        {&m_radioLogServer, "IDC_MODE_LOG_SERVER", 195, 55, 50, 10},
    };
    m_layout.Place(placements, du);
    // Frames sit behind the controls they enclose.
    for (QWidget* frame : {static_cast<QWidget*>(&m_groupConnection), static_cast<QWidget*>(&m_groupMode),
                           static_cast<QWidget*>(&m_groupResults)})
        frame->lower();
    // The window may be smaller than the template (a small screen at a large
    // scale factor): the results box gives up its height first.
    setMinimumSize(m_templateSize.width(), m_templateSize.height() - du.Y(216 - kMinResultsHeight));
    resize(m_templateSize);

    SetUpControls();
    SetUpResultsArea();
    SetTabOrder();
    ConnectMessageMap();
    WireParts();
}

void COrvaneDlg::SetUpControls()
{
    for (int i = 1; i <= kPortCount; ++i)
        m_comboPort.addItem(QStringLiteral("COM%1").arg(i));
    m_comboPort.setMaxVisibleItems(12);

    m_staticStatus.setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_staticStatus.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_staticHexValue.setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_staticHexValue.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_staticHexValue.setTextFormat(Qt::PlainText);

    // HEX lines may hold more tokens than m_TxBuf takes; Send refuses what does not fit.
    m_editCommand.setMaxLength(32767);

    // Enter never presses a button: nothing is a default button.
    for (QPushButton* b : {&m_btnConnect, &m_btnDisconnect, &m_btnSetting, &m_btnSend, &m_btnClear,
                           &m_btnClearResults, &m_btnCharToHex}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    m_modeGroup.addButton(&m_radioLogClient, MODE_LOG_CLIENT);
    m_modeGroup.addButton(&m_radioDmAt, MODE_DM_AT);
    m_modeGroup.addButton(&m_radioHex, MODE_HEX);
    m_modeGroup.addButton(&m_radioAscii, MODE_ASCII);
    m_modeGroup.addButton(&m_radioLogServer, MODE_LOG_SERVER);

    setWindowIcon(OrvaneIcon());
}

// The results area stacks the results splitter over the capture line. The
// splitter holds the results box alone; a part shown beside the box is added
// to it, and the box keeps the room until the user drags the handle.
void COrvaneDlg::SetUpResultsArea()
{
    const DialogUnits du(font());
    m_resultsArea.setFocusPolicy(Qt::NoFocus);
    m_resultsLayout.setContentsMargins(0, 0, 0, 0);
    m_resultsLayout.setSpacing(du.Y(kCaptureLineGap));
    m_resultsSplitter.setObjectName(QStringLiteral("resultsSplitter"));
    m_resultsSplitter.setChildrenCollapsible(false);
    m_resultsSplitter.addWidget(&m_editResults);
    m_resultsSplitter.addWidget(&m_decoded.View());
    m_resultsLayout.addWidget(&m_resultsSplitter, 1);
    CCaptureLine& line = m_logClient.Line();
    line.setFixedHeight(du.Y(kCaptureLineHeight));
    m_resultsLayout.addWidget(&line);
}

// Tab goes through the controls as they are laid out: top to bottom, and left
// to right along a row.
void COrvaneDlg::SetTabOrder()
{
    QWidget* const order[] = {&m_comboPort,  &m_btnConnect, &m_btnDisconnect,   &m_btnSetting,   &m_radioLogClient,
                              &m_radioDmAt,  &m_radioHex,   &m_radioAscii,      &m_radioLogServer, &m_editCommand,
                              &m_btnSend,    &m_btnClear,   &m_checkAddCR,      &m_checkAddLF,   &m_editResults,
                              &m_decoded.View(),  &m_btnClearResults, &m_editChar, &m_btnCharToHex};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

// A click first ends the note an addition left on the capture line.
template <class Button>
void COrvaneDlg::OnClicked(Button& button, void (COrvaneDlg::*handler)())
{
    connect(&button, &Button::clicked, this, [this, handler] {
        EndAdditionNotes();
        (this->*handler)();
    });
}

void COrvaneDlg::ConnectMessageMap()
{
    OnClicked(m_btnConnect, &COrvaneDlg::OnConnect);
    OnClicked(m_btnDisconnect, &COrvaneDlg::OnDisconnect);
    connect(&m_comboPort, &QComboBox::activated, this, [this] { OnSelChangePort(); });
    OnClicked(m_btnSend, &COrvaneDlg::OnSend);
    OnClicked(m_btnCharToHex, &COrvaneDlg::OnCharToHex);
    OnClicked(m_btnSetting, &COrvaneDlg::OnSetting);
    OnClicked(m_btnClearResults, &COrvaneDlg::OnClearResults);
    OnClicked(m_btnClear, &COrvaneDlg::LoadDefaultConfig);
    OnClicked(m_radioLogClient, &COrvaneDlg::OnModeLogClient);
    OnClicked(m_radioAscii, &COrvaneDlg::OnModeAscii);
    OnClicked(m_radioDmAt, &COrvaneDlg::OnModeDmAt);
    OnClicked(m_radioHex, &COrvaneDlg::OnModeHex);
    OnClicked(m_radioLogServer, &COrvaneDlg::OnModeLogServer);
    connect(&m_actionAbout, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
}

void COrvaneDlg::WireParts()
{
    m_logClient.SetSender([this](std::span<const std::uint8_t> packet) { return SendPacket(packet); });
    m_logClient.OnTimerDue([this](int id) { OnTimer(id); });
    m_logClient.OnNote([this](const QString& note) { ShowStopLoggingNote(note); });
    m_logClient.SetConnectedCheck([this] { return m_connection.IsOpen(); });
    m_logServer.OnReplyReady([this](std::vector<std::uint8_t> reply) { OnSendReply(std::move(reply)); });
    m_decoded.OnShownChanged([this](bool shown) { ShowDecodedView(shown); });
    m_decoded.OnMessageCount([this](std::optional<std::uint64_t> n) { m_logClient.Line().SetDebugMessages(n); });
    m_decoded.OnNote([this](const QString& note) { m_logClient.Line().SetNote(note); });
    m_export.SetCapturePath([this] { return m_logClient.Line().CapturePath(); });
    m_export.OnNote([this](const QString& note) { m_logClient.Line().SetNote(note); });
    m_menuParts = {&m_logClient, &m_decoded, &m_export};
    m_decoded.ApplyKeptChoice();

    for (int mode = 0; mode < CCommandHistory::kModes; ++mode)
        m_history.SetLines(mode, m_settings.History(mode));
    m_editCommand.installEventFilter(this);
    m_editResults.installEventFilter(this);
    m_editResults.viewport()->installEventFilter(this);
    m_prompts.SetStartFolder(m_settings.LastFolder());
    m_connection.RefreshPortMarks();
}

// Shown, the decoded view sits under the results box and takes most of the
// room (in Log client mode the box stays empty); hidden, the box has it all.
void COrvaneDlg::ShowDecodedView(bool shown)
{
    m_resultsSplitter.setOrientation(shown ? Qt::Vertical : Qt::Horizontal);
    if (!shown)
        return;
    const int height = std::max(m_resultsSplitter.height(), 4);
    m_resultsSplitter.setSizes({height / 4, height - height / 4});
}

void COrvaneDlg::EndAdditionNotes()
{
    m_logClient.Line().SetNote({});
}

void COrvaneDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    m_layout.Resize(m_templateSize, size());
}

void COrvaneDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_bShownOnce)
        return;
    m_bShownOnce = true;
    // The template's size, unless the screen is smaller than that.
    const QScreen* screen = this->screen();
    if (!screen)
        return;
    const QSize room = screen->availableGeometry().size() - kFrameAllowance;
    resize(m_templateSize.boundedTo(room).expandedTo(minimumSize()));
}

void COrvaneDlg::done(int result)
{
    // Closing the window closes the capture file now and the port with the dialog.
    OnDestroy();
    QDialog::done(result);
}
