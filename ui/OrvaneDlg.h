#pragma once
// COrvaneDlg: the main window. It owns the port, the framer, the outgoing
// packet buffer, the counters, the capture file and the configuration state;
// its On... handlers read the controls, call the core and show the result.
//
// Source files: OrvaneDlg.cpp (window, modes), OrvaneDlgConnect.cpp (port
// choice, connection, reconnect), OrvaneDlgSend.cpp (send and receive),
// OrvaneDlgLogClient.cpp (configuration sequence, default packets, capture),
// OrvaneDlgLogServer.cpp (canned replies, replay), OrvaneDlgSetting.cpp (port
// settings), OrvaneDlgWindow.cpp (the capture line, the context menu's logging
// entries, command history, port marks, resizing).
#include "dm/FramedWriter.h"
#include "dm/HdlcFramer.h"
#include "logclient/CaptureFile.h"
#include "logclient/LogClientSession.h"
#include "logserver/LogServerSession.h"
#include "serial/SerialPort.h"
#include "ui/CaptureLine.h"
#include "ui/CommandHistory.h"
#include "ui/DialogLayout.h"
#include "ui/PortCombo.h"
#include "ui/DialogIds.h"
#include "ui/Prompts.h"
#include "ui/ResultsBox.h"
#include "ui/SettingsStore.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QTimer>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

enum OperatingMode : std::int32_t {
    MODE_LOG_CLIENT = 0,
    MODE_DM_AT = 1,
    MODE_HEX = 2,
    MODE_ASCII = 3,
    MODE_LOG_SERVER = 4,
};

enum : int {
    IDD_ABOUTBOX = 100,
    IDS_ABOUTBOX = 101,
    IDD_MAIN = 102,
    IDR_MAINFRAME = 128,
    IDD_PREFERENCES = 130,
    IDM_ABOUTBOX = 0x10,
    IDC_PORT = 1000,
    IDC_STATIC_STATUS = 1001,
    IDC_CONNECT = 1003,
    IDC_DISCONNECT = 1004,
    IDC_COMMAND = 1006,
    IDC_SEND = 1007,
    IDC_ADD_CR = 1016,
    IDC_CHAR = 1019,
    IDC_CHAR_TO_HEX = 1020,
    IDC_HEX_VALUE = 1021,
    IDC_SETTING = 1024,
    IDC_RESULTS = 1039,
    IDC_CLEAR_RESULTS = 1053,
    IDC_ADD_LF = 1076,
    IDC_CLEAR = 1077,
    IDC_MODE_LOG_CLIENT = 1079,
    IDC_MODE_DM_AT = 1080,
    IDC_MODE_HEX = 1081,
    IDC_MODE_ASCII = 1082,
    IDC_MODE_LOG_SERVER = 1083,
};

enum : int { TIMER_DEFAULTS = 0, TIMER_CONFIG = 1 };

inline constexpr int kTxBufSize = 2048;
inline constexpr int kRxTextSize = 8204;
// The received-text buffer: the plain text of a whole chunk, or the hex text of
// up to 2734 bytes (larger chunks are converted in pieces).
extern std::array<char, kRxTextSize> g_szRxText;

class COrvaneDlg : public QDialog, public ISerialNotify {
    Q_OBJECT

public:
    explicit COrvaneDlg(IPrompts& prompts, QWidget* parent = nullptr);
    ~COrvaneDlg() override;

    // Test programs shorten the 500 ms the modem is given after Open, for
    // their many connects over a pty; the program itself never calls this.
    static void SetConnectSettleForTests(int milliseconds);

    // Window and connection.
    bool OnInitDialog();
    void DoDataExchange(bool saveAndValidate);
    bool UpdateData(bool saveAndValidate = true);
    void OnOK() {}
    void OnConnect();
    void OnDisconnect();
    void OnSelChangePort();
    void OnModeLogClient();
    void OnModeDmAt();
    void OnModeHex();
    void OnModeAscii();
    void OnModeLogServer();
    void OnSysCommand(unsigned id);
    void OnDestroy();
    void OnSetting();

    // Send.
    void OnSend();
    bool CheckConnected();
    void CopyCommandText();
    void BuildHexPacket();
    void OnCharToHex();

    // Receive. The chunk comes from the port's mailbox and is valid during the call.
    void OnCommRxChar(std::span<const std::uint8_t> chunk);
    void OnCommEvent();
    void OnClearResults();
    void OnCommGone();

    // Log client.
    void SendEventReport(std::string text);
    void SendEventMask(std::string text, int* done);
    void SendLogConfig(std::string textA, std::string textB, int* done);
    void SendExtMsgConfig(std::string text, int* done);
    void LoadConfiguration();
    void LoadDefaultConfig();
    void OnTimer(int id);
    void RunConfigStep(int restart);
    void SendDefaultStep(int restart);
    void CreateCaptureFile();
    void CloseCaptureFile();
    // After a successful Connect in Log client mode: the configuration again.
    void RepeatConfiguration();

    // Log server.
    void LoadLogFile();
    int OnSendLog(std::int64_t size);
    int OnSendReply(std::vector<std::uint8_t> reply);

    // Frames the first rawLength bytes of m_TxBuf and writes the whole frame,
    // however long escaping makes it. Returns the bytes written.
    int FrameAndWrite(int rawLength);
    void SetStatus(const QString& text);
    void SetTimer(int id);
    void KillTimer(int id);

    // Window additions (OrvaneDlgWindow.cpp), all on the window's thread.
    // Sends the packets that switch the modem's logging off and says so.
    void OnStopModemLogging();
    void OnOpenCaptureFolder();
    void OnCopyCapturePath();
    void OnListsFromLoggingView(bool on);
    // After a configuration loaded: which lists it sends, on the capture line.
    void ShowListSummary();
    // Marks the port names that have a device behind them.
    void RefreshPortMarks();
    // Keeps the command line's text in this mode's history (and the settings).
    void RecordCommand();

    // ISerialNotify (window thread, from the port's RunHandOver): the reader's
    // WM_COMM_RXCHAR, WM_COMM_EVENT and WM_COMM_GONE.
    void OnCommMessage(const CommMessage& message) override;

    // The Log client and Log server sessions hold the state of those modes; the
    // designed names below that belong to them are views into the sessions.
    CLogClientSession m_logClient{[this](const LogClientMessage& m) { ShowLogClientMessage(m); }};
    CLogServerSession m_logServer;

    // State, in the order of the design.
    CCaptureFile& m_hCaptureFile = m_logClient.Capture();
    CSerialPort m_SerialPort;
    CHdlcFramer m_Framer;
    std::array<std::uint8_t, kTxBufSize> m_TxBuf{};
    std::int32_t m_nTxLen = 0;
    std::int64_t m_nRxTotal = 0;   // 64-bit: a logging session passes 2 GiB
    std::uint32_t m_nShownBytes = 0;
    const std::vector<std::uint8_t>& m_pLogData = m_logServer.LogData();
    std::int32_t& m_bReplaying = m_logServer.ReplayingFlag();
    const std::uint32_t& m_nStep = m_logClient.StepCounter();
    const std::string& m_strDmcPath = m_logClient.DmcPath();
    std::string& m_szStartDir = m_logClient.CaptureDirectory();
    std::int32_t m_bAddCR = 1;
    std::int32_t m_bAddLF = 1;
    std::int32_t m_nMode = MODE_DM_AT;

    IPrompts& m_prompts;

    // Controls (objectName is the id's name).
    QGroupBox m_groupConnection{QStringLiteral("Connection"), this};
    QLabel m_labelPort{QStringLiteral("Port:"), this};
    CPortCombo m_comboPort{this};
    QPushButton m_btnConnect{QStringLiteral("&Connect"), this};
    QPushButton m_btnDisconnect{QStringLiteral("&Disconnect"), this};
    QPushButton m_btnSetting{QStringLiteral("Setting..."), this};
    QGroupBox m_groupMode{QStringLiteral("Select Mode"), this};
    QRadioButton m_radioLogClient{QStringLiteral("Log client"), this};
    QRadioButton m_radioDmAt{QStringLiteral("DM AT"), this};
    QRadioButton m_radioHex{QStringLiteral("HEX"), this};
    QRadioButton m_radioAscii{QStringLiteral("ASCII"), this};
    QRadioButton m_radioLogServer{QStringLiteral("Log server"), this};
    QButtonGroup m_modeGroup{this};
    QLineEdit m_editCommand{this};
    QPushButton m_btnSend{QStringLiteral("&Send"), this};
    QPushButton m_btnClear{QStringLiteral("&Clear"), this};
    QCheckBox m_checkAddCR{QStringLiteral("Add CR"), this};
    QCheckBox m_checkAddLF{QStringLiteral("Add LF"), this};
    QGroupBox m_groupResults{QStringLiteral("Results"), this};
    QLabel m_staticStatus{this};
    CResultsBox m_editResults{this};
    QPushButton m_btnClearResults{QStringLiteral("Clear"), this};
    QLabel m_labelCharToHex{QStringLiteral("Char to Hex :"), this};
    QLineEdit m_editChar{this};
    QPushButton m_btnCharToHex{QStringLiteral(">>"), this};
    QLabel m_staticHexValue{this};
    // Under the results box while a capture is open: its path, size and counts.
    CCaptureLine m_captureInfo{this};

    // The context menu's entries beside the About box.
    QAction m_actionStopModemLogging{QStringLiteral("Stop Modem Logging"), this};
    QAction m_actionOpenCaptureFolder{QStringLiteral("Open Capture Folder"), this};
    QAction m_actionCopyCapturePath{QStringLiteral("Copy Capture Path"), this};
    QAction m_actionListsFromLoggingView{QStringLiteral("Read Lists From LoggingView"), this};

    // Kept between runs: command history per mode, the file dialogs' folder,
    // where the lists are read from.
    CSettingsStore m_settings;
    CCommandHistory m_history;

    QTimer m_timerDefaults;
    QTimer m_timerConfig;
    // After the device went away under an open connection: looks for it again.
    QTimer m_timerReconnect;
    // Once a second while a capture is open: looks whether its file is still there.
    QTimer m_timerCaptureCheck;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void CreateControls();
    void SetUpControls();
    void ConnectMessageMap();
    void SetUpWindowAdditions();
    void LayOutResults();
    bool WalkHistory(int key);
    CDialogLayout m_layout;
    QSize m_templateSize;
    bool m_bShownOnce = false;
    void ApplyMode(int mode);
    void AppendResults(const QString& text);
    void QueueCannedReply(const std::uint8_t* data, std::uint32_t count);
    void CaptureChunk(const std::uint8_t* data, std::uint32_t count);
    void ShowLogClientMessage(const LogClientMessage& message);
    void PlayLogClientStep(const LogClientStep& step);
    void SendLogClientPacket(std::span<const std::uint8_t> packet);
    void SendQueuedReply();
    // Writes to the port for the core's framed writer and replay.
    class PortWriter final : public IByteWriter {
    public:
        explicit PortWriter(CSerialPort& port) : m_port(port) {}
        std::size_t Write(std::span<const std::uint8_t> data) override;

    private:
        CSerialPort& m_port;
    };
    void CheckCaptureFile();
    void ReportCaptureFailure();
    // Watches the port's wake descriptor; each activation runs one hand-over,
    // so timers and painting still get their turn while the line floods.
    std::unique_ptr<QSocketNotifier> m_commNotifier;
    void TryReconnect();
    void StopReconnecting();
    bool Connect(bool quiet);
    bool m_bDestroyed = false;
};
