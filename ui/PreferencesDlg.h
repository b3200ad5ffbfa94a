// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CPreferencesDlg: the port settings dialog behind "Setting...". It edits a
// working copy of the port's settings record; the caller copies the record in
// before DoModal and back only when DoModal returned IDOK. Fields the dialog
// has no control for (flag bits 15-31, DCBlength, the reserved words) and the
// five characters, whose edits are read-only, leave the dialog as they came.
//
// Threads: everything runs on the window's thread.
#include "serial/Dcb.h"
#include "ui/Prompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <array>
#include <cstdint>

// Control ids of IDD_PREFERENCES. IDOK (1) and IDCANCEL (2) are the
// framework's own and live with the other resource ids in OrvaneDlg.h.
enum : int {
    IDC_BAUDRATE = 1025,
    IDC_BYTESIZE = 1026,
    IDC_STOPBITS = 1027,
    IDC_PARITY = 1028,
    IDC_DTR_FLOW = 1029,
    IDC_RTS_FLOW = 1030,
    IDC_BINARY = 1054,
    IDC_PARITY_CHECK = 1055,
    IDC_CTS_FLOW = 1056,
    IDC_DSR_FLOW = 1057,
    IDC_DSR_SENSITIVITY = 1058,
    IDC_TX_CONTINUE = 1059,
    IDC_OUTX = 1060,
    IDC_INX = 1061,
    IDC_ERROR_REPLACE = 1062,
    IDC_NULL_STRIP = 1063,
    IDC_ABORT_ON_ERROR = 1064,
    IDC_XON_LIMIT = 1065,
    IDC_XOFF_LIMIT = 1066,
    IDC_XON_CHAR = 1067,
    IDC_XOFF_CHAR = 1069,
    IDC_ERROR_CHAR = 1070,
    IDC_EOF_CHAR = 1071,
    IDC_EVT_CHAR = 1072,
};

class CPreferencesDlg : public QDialog {
    Q_OBJECT

public:
    enum { IDD = 130 };   // IDD_PREFERENCES
    // Shown when a threshold edit does not hold a number the record can take.
    static constexpr const char* kNumberPrompt = "Please enter an integer.";

    explicit CPreferencesDlg(IPrompts& prompts, QWidget* parent = nullptr);
    ~CPreferencesDlg() override;

    // Shows the record (OnInitDialog), runs the dialog modally and returns
    // IDOK or IDCANCEL.
    int DoModal();

    virtual void DoDataExchange(bool saveAndValidate);
    // Reads the controls into the members (true) or shows the members (false).
    // Returns false when a control holds something its member cannot take; the
    // user has been told and the focus is on that control.
    bool UpdateData(bool saveAndValidate = true);
    virtual bool OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    // Working copy of the settings, in the members' order of the design.
    DCB m_dcb;
    QComboBox m_cbStopBits{this};
    QComboBox m_cbRtsFlow{this};
    QComboBox m_cbParity{this};
    QComboBox m_cbDtrFlow{this};
    QComboBox m_cbByteSize{this};
    QComboBox m_cbBaudRate{this};
    std::int32_t m_bBinary = 0;
    std::int32_t m_bParityCheck = 0;
    std::int32_t m_bCtsFlow = 0;
    std::int32_t m_bDsrSensitivity = 0;
    std::int32_t m_bTxContinueOnXoff = 0;
    std::int32_t m_bOutX = 0;
    std::int32_t m_bInX = 0;
    std::int32_t m_bErrorReplace = 0;
    std::int32_t m_bNullStrip = 0;
    std::int32_t m_bAbortOnError = 0;
    std::int32_t m_bDsrFlow = 0;
    QString m_strEofChar;
    QString m_strErrorChar;
    QString m_strEvtChar;
    QString m_strXoffChar;
    std::int32_t m_nXoffLim = 0;
    std::int32_t m_nXonLim = 0;
    QString m_strXonChar;

    // The other controls of the template (objectName is the id's name).
    QPushButton m_btnOk{QStringLiteral("OK"), this};
    QPushButton m_btnCancel{QStringLiteral("Cancel"), this};
    QCheckBox m_checkBinary{QStringLiteral("Binary mode"), this};
    QCheckBox m_checkParityCheck{QStringLiteral("Parity checking"), this};
    QCheckBox m_checkCtsFlow{QStringLiteral("CTS output flow control"), this};
    QCheckBox m_checkDsrFlow{QStringLiteral("DSR output flow control"), this};
    QCheckBox m_checkDsrSensitivity{QStringLiteral("DSR sensitivity"), this};
    QCheckBox m_checkTxContinue{QStringLiteral("XOFF continues Tx"), this};
    QCheckBox m_checkOutX{QStringLiteral("XON/XOFF out flow control"), this};
    QCheckBox m_checkInX{QStringLiteral("XON/XOFF in flow control"), this};
    QCheckBox m_checkErrorReplace{QStringLiteral("enable error replacement"), this};
    QCheckBox m_checkNullStrip{QStringLiteral("enable null stripping "), this};
    QCheckBox m_checkAbortOnError{QStringLiteral("abort reads/writes on error "), this};
    QLineEdit m_editXonLimit{this};
    QLineEdit m_editXoffLimit{this};
    QLineEdit m_editXonChar{this};
    QLineEdit m_editXoffChar{this};
    QLineEdit m_editErrorChar{this};
    QLineEdit m_editEofChar{this};
    QLineEdit m_editEvtChar{this};
    QLabel m_labelBaudRate{QStringLiteral("Baudrate :"), this};
    QLabel m_labelByteSize{QStringLiteral("Byte Size :"), this};
    QLabel m_labelStopBits{QStringLiteral("Stop Bits :"), this};
    QLabel m_labelParity{QStringLiteral("Parity :"), this};
    QLabel m_labelDtrFlow{QStringLiteral("DTR Flow :"), this};
    QLabel m_labelRtsFlow{QStringLiteral("RTS Flow :"), this};
    QLabel m_labelXonLimit{QStringLiteral("transmit XON threshold "), this};
    QLabel m_labelXoffLimit{QStringLiteral("transmit XOFF threshold"), this};
    QLabel m_labelChars{QStringLiteral(" Xon    Xoff   ERR   EOF   Evt"), this};

public slots:
    // Enter, the default button and accept() all mean OK; Esc, the close
    // button and reject() all mean Cancel.
    void accept() override;
    void reject() override;

private:
    void CreateControls();
    void SetUpControls();
    bool m_bFailed = false;   // a control failed validation during this exchange
    IPrompts& m_prompts;
};
