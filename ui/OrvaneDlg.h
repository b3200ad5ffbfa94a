#pragma once
// COrvaneDlg: the main window. It owns the port, the framer, the outgoing
// packet buffer, the counters, the capture file and the configuration state;
// its On... handlers read the controls, call the core and show the result.
//
// Source files: OrvaneDlg.cpp (window, connection, modes), OrvaneDlgSend.cpp
// (send and receive), OrvaneDlgLogClient.cpp (configuration sequence, default
// packets, capture), OrvaneDlgLogServer.cpp (canned replies, replay),
// OrvaneDlgSetting.cpp (port settings).
#include "dm/HdlcFramer.h"
#include "logclient/CaptureFile.h"
#include "logclient/DmcReader.h"
#include "serial/SerialPort.h"
#include "ui/DialogIds.h"
#include "ui/Prompts.h"

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
    bool CommandTextFits();
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

    // Log server.
    void LoadLogFile();
    int OnSendLog(std::int64_t size);
    int OnSendReply(std::vector<std::uint8_t> reply);

    // Frames the first rawLength bytes of m_TxBuf in place and writes the frame.
    // A frame that the framer had to cut is not written. Returns bytes written.
    int FrameAndWrite(int rawLength);
    void SetStatus(const QString& text);
    void SetTimer(int id);
    void KillTimer(int id);

    // ISerialNotify (window thread, from the port's RunHandOver): the reader's
    // WM_COMM_RXCHAR, WM_COMM_EVENT and WM_COMM_GONE.
    void OnCommMessage(const CommMessage& message) override;

    // State, in the order of the design.
    CCaptureFile m_hCaptureFile;
    CSerialPort m_SerialPort;
    CHdlcFramer m_Framer;
    std::array<std::uint8_t, kTxBufSize> m_TxBuf{};
    std::int32_t m_nTxLen = 0;
    std::int64_t m_nRxTotal = 0;   // 64-bit: a logging session passes 2 GiB
    std::uint32_t m_nShownBytes = 0;
    std::vector<std::uint8_t> m_pLogData;
    std::int32_t m_bReplaying = 0;
    CDmcReader m_XmlReader;
    DmcDocument m_pXmlDoc;
    std::int32_t m_nListPos = 0;
    std::int32_t m_nListPos2 = 0;
    std::uint32_t m_nStep = 0;
    std::string m_strDmcPath;
    std::string m_szStartDir;
    std::int32_t m_bAddCR = 1;
    std::int32_t m_bAddLF = 1;
    std::int32_t m_nMode = MODE_DM_AT;

    IPrompts& m_prompts;

    // Controls (objectName is the id's name).
    QGroupBox m_groupConnection{QStringLiteral("Connection"), this};
    QLabel m_labelPort{QStringLiteral("Port:"), this};
    QComboBox m_comboPort{this};
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
    QPlainTextEdit m_editResults{this};
    QPushButton m_btnClearResults{QStringLiteral("Clear"), this};
    QLabel m_labelCharToHex{QStringLiteral("Char to Hex :"), this};
    QLineEdit m_editChar{this};
    QPushButton m_btnCharToHex{QStringLiteral(">>"), this};
    QLabel m_staticHexValue{this};

    QTimer m_timerDefaults;
    QTimer m_timerConfig;
    // After the device went away under an open connection: looks for it again.
    QTimer m_timerReconnect;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void CreateControls();
    void ApplyMode(int mode);
    void AppendResults(const QString& text);
    void QueueCannedReply(const std::uint8_t* data, std::uint32_t count);
    void CaptureChunk(const std::uint8_t* data, std::uint32_t count);
    // Watches the port's wake descriptor; each activation runs one hand-over,
    // so timers and painting still get their turn while the line floods.
    std::unique_ptr<QSocketNotifier> m_commNotifier;
    void TryReconnect();
    void StopReconnecting();
    bool Connect(bool quiet);
    bool m_bDestroyed = false;
};
