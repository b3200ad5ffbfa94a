#include "ui/OrvaneDlg.h"

#include "ui/AboutDlg.h"
#include "ui/AppIcon.h"
#include "ui/DialogUnits.h"

#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>

#include <filesystem>

namespace {
constexpr int kPortCount = 60;
// The least height the results box keeps in a small window, in dialog units.
constexpr int kMinResultsHeight = 60;

struct ModeLook {
    const char* send;
    const char* clear;
    bool options;           // CR/LF (or CRC/0x7E) check boxes enabled
    const char* addCR;      // nullptr: caption unchanged
    const char* addLF;
    bool command;           // command line enabled
};

// Captions and enabling that each mode gives the controls.
constexpr ModeLook kModeLooks[] = {
    /* MODE_LOG_CLIENT */ {"Load Configuration...", "Load Default Cfg...", false, nullptr, nullptr, false},
    /* MODE_DM_AT      */ {"Send At command...", "Clear", false, nullptr, nullptr, true},
    /* MODE_HEX        */ {"Send Hex...", "Clear", true, "Add CRC", "Add 0x7E", true},
    /* MODE_ASCII      */ {"Send Ascii...", "Clear", true, "Add CR", "Add LF", true},
    /* MODE_LOG_SERVER */ {"Send Log...", "Clear", false, nullptr, nullptr, false},
};
}  // namespace

COrvaneDlg::COrvaneDlg(IPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_prompts(prompts)
{
    setObjectName(QStringLiteral("IDD_MAIN"));
    if (m_SerialPort.WakeFd() >= 0) {
        m_commNotifier = std::make_unique<QSocketNotifier>(m_SerialPort.WakeFd(), QSocketNotifier::Read, this);
        // A capture takes a flood as it comes, chunk after chunk on this
        // thread; the display modes take one chunk per visit, so a reply or
        // a redraw never waits behind a burst.
        connect(m_commNotifier.get(), &QSocketNotifier::activated, this,
                [this] { m_SerialPort.RunHandOver(m_nMode == MODE_LOG_CLIENT); });
    }
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
    // The template, in tab order, and how each control follows a resized window.
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
        {&m_editResults, "IDC_RESULTS", 11, 141, 261, 216, kStretch},
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
    ConnectMessageMap();
    SetUpWindowAdditions();
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

    m_editResults.setReadOnly(true);
    m_editResults.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_editResults.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_editResults.setUndoRedoEnabled(false);
    m_editResults.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

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

void COrvaneDlg::ConnectMessageMap()
{
    connect(&m_btnConnect, &QPushButton::clicked, this, [this] { OnConnect(); });
    connect(&m_btnDisconnect, &QPushButton::clicked, this, [this] { OnDisconnect(); });
    connect(&m_comboPort, &QComboBox::activated, this, [this] { OnSelChangePort(); });
    connect(&m_btnSend, &QPushButton::clicked, this, [this] { OnSend(); });
    connect(&m_btnCharToHex, &QPushButton::clicked, this, [this] { OnCharToHex(); });
    connect(&m_btnSetting, &QPushButton::clicked, this, [this] { OnSetting(); });
    connect(&m_btnClearResults, &QPushButton::clicked, this, [this] { OnClearResults(); });
    connect(&m_btnClear, &QPushButton::clicked, this, [this] { LoadDefaultConfig(); });
    connect(&m_radioLogClient, &QRadioButton::clicked, this, [this] { OnModeLogClient(); });
    connect(&m_radioAscii, &QRadioButton::clicked, this, [this] { OnModeAscii(); });
    connect(&m_radioDmAt, &QRadioButton::clicked, this, [this] { OnModeDmAt(); });
    connect(&m_radioHex, &QRadioButton::clicked, this, [this] { OnModeHex(); });
    connect(&m_radioLogServer, &QRadioButton::clicked, this, [this] { OnModeLogServer(); });

    for (QTimer* timer : {&m_timerDefaults, &m_timerConfig}) {
        timer->setSingleShot(true);
        timer->setInterval(100);
    }
    m_timerReconnect.setInterval(250);
    connect(&m_timerReconnect, &QTimer::timeout, this, [this] { TryReconnect(); });
    connect(&m_timerDefaults, &QTimer::timeout, this, [this] { OnTimer(TIMER_DEFAULTS); });
    connect(&m_timerConfig, &QTimer::timeout, this, [this] { OnTimer(TIMER_CONFIG); });
    // While a capture is open: is its file still there, even when nothing arrives?
    m_timerCaptureCheck.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(CCaptureFile::kLinkCheckInterval));
    connect(&m_timerCaptureCheck, &QTimer::timeout, this, [this] { CheckCaptureFile(); });
    m_timerCaptureCheck.start();
}

bool COrvaneDlg::OnInitDialog()
{
    UpdateData(false);
    SetStatus(QString());
    m_editResults.clear();
    m_nMode = MODE_DM_AT;
    m_btnSend.setEnabled(true);
    m_btnSend.setText(QStringLiteral("Send At command..."));
    m_checkAddCR.setEnabled(false);
    m_checkAddLF.setEnabled(false);
    m_btnConnect.setEnabled(true);
    m_btnDisconnect.setEnabled(false);
    m_comboPort.setCurrentIndex(0);
    OnSelChangePort();
    std::error_code ec;
    m_szStartDir = std::filesystem::current_path(ec).string();
    return true;
}

void COrvaneDlg::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_bAddCR = m_checkAddCR.isChecked() ? 1 : 0;
        m_bAddLF = m_checkAddLF.isChecked() ? 1 : 0;
        m_nMode = m_modeGroup.checkedId();
    } else {
        m_checkAddCR.setChecked(m_bAddCR != 0);
        m_checkAddLF.setChecked(m_bAddLF != 0);
        if (QAbstractButton* radio = m_modeGroup.button(m_nMode))
            radio->setChecked(true);
    }
}

bool COrvaneDlg::UpdateData(bool saveAndValidate)
{
    DoDataExchange(saveAndValidate);
    return true;
}

void COrvaneDlg::SetStatus(const QString& text)
{
    m_staticStatus.setText(text);
}

void COrvaneDlg::ApplyMode(int mode)
{
    m_nMode = mode;
    // A click has checked the radio already; a handler called directly checks it here.
    if (QAbstractButton* radio = m_modeGroup.button(mode); radio && !radio->isChecked())
        radio->setChecked(true);
    const ModeLook& look = kModeLooks[mode];
    m_btnSend.setEnabled(true);
    m_btnSend.setText(QString::fromLatin1(look.send));
    m_btnClear.setEnabled(true);
    m_btnClear.setText(QString::fromLatin1(look.clear));
    m_checkAddCR.setEnabled(look.options);
    m_checkAddLF.setEnabled(look.options);
    if (look.addCR)
        m_checkAddCR.setText(QString::fromLatin1(look.addCR));
    if (look.addLF)
        m_checkAddLF.setText(QString::fromLatin1(look.addLF));
    m_editCommand.setEnabled(look.command);
}

void COrvaneDlg::OnModeLogClient()
{
    if (m_nMode == MODE_LOG_CLIENT)
        return;
    ApplyMode(MODE_LOG_CLIENT);
}

void COrvaneDlg::OnModeLogServer()
{
    if (m_nMode == MODE_LOG_SERVER)
        return;
    ApplyMode(MODE_LOG_SERVER);
}

namespace {
// While connected, a log mode is left only for the other log mode.
bool LeavingLogModeWhileConnected(const CSerialPort& port, int mode)
{
    return port.IsOpen() && (mode == MODE_LOG_CLIENT || mode == MODE_LOG_SERVER);
}
}  // namespace

void COrvaneDlg::OnModeDmAt()
{
    if (LeavingLogModeWhileConnected(m_SerialPort, m_nMode)) {
        UpdateData(false);
        return;
    }
    ApplyMode(MODE_DM_AT);
}

void COrvaneDlg::OnModeHex()
{
    if (LeavingLogModeWhileConnected(m_SerialPort, m_nMode)) {
        UpdateData(false);
        return;
    }
    ApplyMode(MODE_HEX);
}

void COrvaneDlg::OnModeAscii()
{
    if (LeavingLogModeWhileConnected(m_SerialPort, m_nMode)) {
        UpdateData(false);
        return;
    }
    ApplyMode(MODE_ASCII);
}

void COrvaneDlg::OnSysCommand(unsigned id)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.exec();
    }
}

void COrvaneDlg::OnDestroy()
{
    if (m_bDestroyed)
        return;
    m_bDestroyed = true;
    StopReconnecting();
    if (const QString folder = m_prompts.StartFolder(); !folder.isEmpty())
        m_settings.SetLastFolder(folder);
    CloseCaptureFile();
}

void COrvaneDlg::done(int result)
{
    // Closing the window closes the capture file now and the port with the dialog.
    OnDestroy();
    QDialog::done(result);
}

void COrvaneDlg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        OnOK();
        event->accept();
        return;
    case Qt::Key_F1:
        OnSysCommand(IDM_ABOUTBOX);
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void COrvaneDlg::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* about = menu.addAction(QStringLiteral("&About Orvane..."));
    menu.addSeparator();
    m_actionStopModemLogging.setEnabled(m_SerialPort.IsOpen());
    const bool captured = !m_captureInfo.CapturePath().empty();
    m_actionOpenCaptureFolder.setEnabled(captured);
    m_actionCopyCapturePath.setEnabled(captured);
    menu.addActions({&m_actionStopModemLogging, &m_actionOpenCaptureFolder, &m_actionCopyCapturePath,
                     &m_actionListsFromLoggingView});
    if (menu.exec(event->globalPos()) == about)
        OnSysCommand(IDM_ABOUTBOX);
}

void COrvaneDlg::SetTimer(int id)
{
    (id == TIMER_DEFAULTS ? m_timerDefaults : m_timerConfig).start();
}

void COrvaneDlg::KillTimer(int id)
{
    (id == TIMER_DEFAULTS ? m_timerDefaults : m_timerConfig).stop();
}

void COrvaneDlg::OnCommMessage(const CommMessage& message)
{
    switch (message.message) {
    case WM_COMM_RXCHAR:
        OnCommRxChar(message.chunk);
        break;
    case WM_COMM_EVENT:
        OnCommEvent();
        break;
    case WM_COMM_GONE:
        OnCommGone();
        break;
    default:
        break;
    }
}
