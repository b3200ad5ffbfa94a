// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// COrvaneDlg: the main window. It builds its parts, wires them and lays them
// out; its designed On... handlers read the controls, call a part or the core
// and show the result.
//
// Parts, each with its own file pair:
//   CConnection      (Connection.h)      port name, open and settle, the port
//                                        marks, reconnect when the device returns
//   CReceiveView     (ReceiveView.h)     results box, byte counts, text forms
//   CLogClientDriver (LogClientDriver.h) Log client timers, pacing, capture and
//                                        its line, Stop Modem Logging
//   CLogServerDriver (LogServerDriver.h) canned replies, replay
//   CDecodedFeed     (DecodedFeed.h)     the decoded view and its record stream
//   CCaptureExport   (CaptureExport.h)   Export Capture to pcap, Open in Wireshark
// The dialog's own files: OrvaneDlg.cpp (building, layout, wiring),
// OrvaneDlgMenu.cpp (keys, context menu), OrvaneDlgModes.cpp (start-up state,
// data exchange, modes, connect), OrvaneDlgSend.cpp (Send, the command
// history, the character converter, receive), and OrvaneDlgLog.cpp (the
// designed Log client and Log server members, which forward to the drivers;
// the port settings).
#include "dm/HdlcFramer.h"
#include "logclient/CaptureFile.h"
#include "serial/SerialPort.h"
#include "ui/CaptureExport.h"
#include "ui/CommandHistory.h"
#include "ui/Connection.h"
#include "ui/ContextMenuPart.h"
#include "ui/DecodedFeed.h"
#include "ui/DialogIds.h"
#include "ui/DialogLayout.h"
#include "ui/LogClientDriver.h"
#include "ui/LogServerDriver.h"
#include "ui/OperatingMode.h"
#include "ui/PortCombo.h"
#include "ui/Prompts.h"
#include "ui/ReceiveView.h"
#include "ui/SettingsStore.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QVBoxLayout>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

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

class COrvaneDlg : public QDialog, public ISerialNotify {
    Q_OBJECT

public:
    explicit COrvaneDlg(IPrompts& prompts, QWidget* parent = nullptr);
    ~COrvaneDlg() override;

    // Forwards to CConnection::SetSettleForTests.
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

    // Log client: each forwards to the Log client driver.
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

    // Log server: each forwards to the Log server driver.
    void LoadLogFile();
    int OnSendLog(std::int64_t size);
    int OnSendReply(std::vector<std::uint8_t> reply);

    // ISerialNotify (window thread, from the port's RunHandOver): the reader's
    // WM_COMM_RXCHAR, WM_COMM_EVENT and WM_COMM_GONE.
    void OnCommMessage(const CommMessage& message) override;

    // The parts, for those who drive one directly (tests, a new part's wiring).
    CConnection& Connection() { return m_connection; }
    CReceiveView& ReceiveView() { return m_receive; }
    CLogClientDriver& LogClient() { return m_logClient; }
    CLogServerDriver& LogServer() { return m_logServer; }
    CDecodedFeed& Decoded() { return m_decoded; }
    CCaptureExport& Export() { return m_export; }

private:
    IPrompts& m_prompts;
    // The results frame's inside: a splitter that holds the results box (a
    // part shown beside the box joins it there), and the capture line under it.
    QWidget m_resultsArea{this};
    QVBoxLayout m_resultsLayout{&m_resultsArea};
    QSplitter m_resultsSplitter{Qt::Horizontal, &m_resultsArea};

public:
    // Parts that hold designed state are built before the names that view it.
    CSerialPort m_SerialPort;

private:
    CReceiveView m_receive{&m_resultsSplitter};
    CLogClientDriver m_logClient{m_prompts, &m_resultsArea, this};
    CLogServerDriver m_logServer{m_prompts, this};
    CDecodedFeed m_decoded{m_prompts, &m_resultsSplitter, this};
    CCaptureExport m_export{m_prompts, this};

public:
    // State, in the order of the design; the names that belong to a part are
    // views into it.
    CCaptureFile& m_hCaptureFile = m_logClient.Capture();
    // The designed framer; every packet is framed by FrameAndWrite's encoder.
    CHdlcFramer m_Framer;
    std::array<std::uint8_t, kTxBufSize> m_TxBuf{};
    std::int32_t m_nTxLen = 0;
    std::int64_t& m_nRxTotal = m_receive.RxTotal();
    std::uint32_t& m_nShownBytes = m_receive.ShownBytes();
    const std::vector<std::uint8_t>& m_pLogData = m_logServer.Session().LogData();
    std::int32_t& m_bReplaying = m_logServer.Session().ReplayingFlag();
    const std::uint32_t& m_nStep = m_logClient.Session().StepCounter();
    const std::string& m_strDmcPath = m_logClient.Session().DmcPath();
    std::string& m_szStartDir = m_logClient.Session().CaptureDirectory();
    CResultsBox& m_editResults = m_receive.Box();
    QLineEdit m_editCommand{this};
    QLabel m_staticStatus{this};
    CPortCombo m_comboPort{this};
    std::int32_t m_bAddCR = 1;
    std::int32_t m_bAddLF = 1;
    std::int32_t m_nMode = MODE_DM_AT;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void done(int result) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void CreateControls();
    void SetUpControls();
    void SetUpResultsArea();
    void ShowDecodedView(bool shown);
    void SetTabOrder();
    void ConnectMessageMap();
    void WireParts();
    template <class Button>
    void OnClicked(Button& button, void (COrvaneDlg::*handler)());
    void EndAdditionNotes();
    void ApplyMode(int mode);
    bool Connect(bool quiet);
    void ShowConnected(bool connected);
    void OnCommGone();
    void SetStatus(const QString& text);
    // Frames the first rawLength bytes of m_TxBuf and writes the whole frame,
    // however long escaping makes it. Returns the bytes written.
    int FrameAndWrite(int rawLength);
    std::size_t SendPacket(std::span<const std::uint8_t> packet);
    void ShowStopLoggingNote(const QString& note);
    bool WalkHistory(int key);
    void RecordCommand();
    void OpenContextMenu(QPoint globalPos, QMenu* menu);
    bool IsContextMenuKey(const QKeyEvent& key) const;

    CConnection m_connection{m_SerialPort, m_comboPort, this};

    // Controls (objectName is the id's name).
    QGroupBox m_groupConnection{QStringLiteral("Connection"), this};
    QLabel m_labelPort{QStringLiteral("Port:"), this};
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
    QPushButton m_btnSend{QStringLiteral("&Send"), this};
    QPushButton m_btnClear{QStringLiteral("&Clear"), this};
    QCheckBox m_checkAddCR{QStringLiteral("Add CR"), this};
    QCheckBox m_checkAddLF{QStringLiteral("Add LF"), this};
    QGroupBox m_groupResults{QStringLiteral("Results"), this};
    QPushButton m_btnClearResults{QStringLiteral("Clear"), this};
    QLabel m_labelCharToHex{QStringLiteral("Char to Hex :"), this};
    QLineEdit m_editChar{this};
    QPushButton m_btnCharToHex{QStringLiteral(">>"), this};
    QLabel m_staticHexValue{this};
    QAction m_actionAbout{QStringLiteral("&About Orvane..."), this};

    // The parts with entries in the context menu, in menu order.
    std::vector<IContextMenuPart*> m_menuParts;
    // Kept between runs: command history per mode, the file dialogs' folder.
    CSettingsStore m_settings;
    CCommandHistory m_history;
    CDialogLayout m_layout;
    QSize m_templateSize;
    bool m_bShownOnce = false;
    bool m_bDestroyed = false;
};
