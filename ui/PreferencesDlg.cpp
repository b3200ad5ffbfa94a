// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/PreferencesDlg.h"

#include "ui/DialogLayout.h"
#include "ui/DialogIds.h"
#include "ui/DialogUnits.h"

#include "serial/DcbControls.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <limits>
#include <vector>

namespace {
// The combo lists. The baud rates and byte sizes are the record's own tables;
// for stop bits, parity, DTR and RTS the index of an entry is the value the
// record holds for it.
template <typename Table>
QStringList Numbers(const Table& table)
{
    QStringList list;
    for (const auto value : table)
        list << QString::number(static_cast<unsigned>(value));
    return list;
}
const QStringList kStopBits = {QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")};
const QStringList kParities = {QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even"),
                               QStringLiteral("Mask"), QStringLiteral("Space")};
const QStringList kDtrControls = {QStringLiteral("Disable"), QStringLiteral("Enable"), QStringLiteral("Handshake")};
const QStringList kRtsControls = {QStringLiteral("Disable"), QStringLiteral("Enable"), QStringLiteral("Handshake"),
                                  QStringLiteral("Toggle")};

// The eleven check boxes' members and the record flag each one stands for.
struct FlagBox {
    std::int32_t CPreferencesDlg::*value;
    dcbctl::Flag flag;
};
constexpr FlagBox kFlagBoxes[] = {
    {&CPreferencesDlg::m_bBinary, dcbctl::Flag::Binary},
    {&CPreferencesDlg::m_bParityCheck, dcbctl::Flag::ParityCheck},
    {&CPreferencesDlg::m_bCtsFlow, dcbctl::Flag::CtsFlow},
    {&CPreferencesDlg::m_bDsrFlow, dcbctl::Flag::DsrFlow},
    {&CPreferencesDlg::m_bDsrSensitivity, dcbctl::Flag::DsrSensitivity},
    {&CPreferencesDlg::m_bTxContinueOnXoff, dcbctl::Flag::TxContinueOnXoff},
    {&CPreferencesDlg::m_bOutX, dcbctl::Flag::OutX},
    {&CPreferencesDlg::m_bInX, dcbctl::Flag::InX},
    {&CPreferencesDlg::m_bErrorReplace, dcbctl::Flag::ErrorReplace},
    {&CPreferencesDlg::m_bNullStrip, dcbctl::Flag::NullStrip},
    {&CPreferencesDlg::m_bAbortOnError, dcbctl::Flag::AbortOnError},
};
static_assert(std::size(kFlagBoxes) == dcbctl::kFlagCount);

// A record character as the one-character text its read-only edit shows
// (0 shows as empty), and back. Characters are octets: 0x80-0xFF map to the
// Latin-1 code points so that every value survives the round trip.
QString CharText(char c)
{
    const auto octet = static_cast<unsigned char>(c);
    return octet == 0 ? QString() : QString(QChar(octet));
}

void StoreChar(const QString& text, char& field)
{
    if (text.isEmpty()) {
        field = 0;
        return;
    }
    const char16_t code = text.front().unicode();
    if (code <= 0xFF)
        field = static_cast<char>(static_cast<unsigned char>(code));
    // anything else cannot come from a record: keep the field
}

// The decimal number of a threshold edit: digits only (blanks around them are
// ignored) and within the range of the member.
bool ParseNumber(const QString& text, std::int32_t& value)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return false;
    for (const QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    bool ok = false;
    const qlonglong number = digits.toLongLong(&ok, 10);
    if (!ok || number > std::numeric_limits<std::int32_t>::max())
        return false;
    value = static_cast<std::int32_t>(number);
    return true;
}
}  // namespace

CPreferencesDlg::CPreferencesDlg(IPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_dcb{}, m_prompts(prompts)
{
    CreateControls();
}

CPreferencesDlg::~CPreferencesDlg() = default;

void CPreferencesDlg::CreateControls()
{
    setObjectName(QStringLiteral("IDD_PREFERENCES"));
    setWindowTitle(QStringLiteral("Preferences"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    const DialogUnits du(font());
    setFixedSize(du.Size(220, 186));

    // The template, in tab order. A combo's height is that of its dropped list.
    const DialogPlacement placements[] = {
        {&m_btnOk, "IDOK", 163, 165, 50, 14},
        {&m_btnCancel, "IDCANCEL", 109, 165, 50, 14},
        {&m_labelBaudRate, "IDC_STATIC_BAUDRATE", 7, 9, 34, 8},
        {&m_cbBaudRate, "IDC_BAUDRATE", 49, 7, 48, 171},
        {&m_labelByteSize, "IDC_STATIC_BYTESIZE", 7, 23, 34, 8},
        {&m_cbByteSize, "IDC_BYTESIZE", 49, 21, 48, 95},
        {&m_labelStopBits, "IDC_STATIC_STOPBITS", 7, 37, 33, 8},
        {&m_cbStopBits, "IDC_STOPBITS", 49, 35, 48, 93},
        {&m_labelParity, "IDC_STATIC_PARITY", 7, 51, 22, 8},
        {&m_cbParity, "IDC_PARITY", 49, 49, 48, 74},
        {&m_labelDtrFlow, "IDC_STATIC_DTR_FLOW", 7, 67, 37, 8},
        {&m_cbDtrFlow, "IDC_DTR_FLOW", 49, 65, 48, 93},
        {&m_labelRtsFlow, "IDC_STATIC_RTS_FLOW", 7, 81, 36, 8},
        {&m_cbRtsFlow, "IDC_RTS_FLOW", 49, 79, 48, 74},
        {&m_checkBinary, "IDC_BINARY", 102, 7, 55, 10},
        {&m_checkParityCheck, "IDC_PARITY_CHECK", 102, 20, 65, 10},
        {&m_checkCtsFlow, "IDC_CTS_FLOW", 102, 33, 90, 10},
        {&m_checkDsrFlow, "IDC_DSR_FLOW", 102, 46, 91, 10},
        {&m_checkDsrSensitivity, "IDC_DSR_SENSITIVITY", 102, 59, 63, 10},
        {&m_checkTxContinue, "IDC_TX_CONTINUE", 102, 72, 77, 10},
        {&m_checkOutX, "IDC_OUTX", 102, 85, 103, 10},
        {&m_checkInX, "IDC_INX", 102, 98, 98, 10},
        {&m_checkErrorReplace, "IDC_ERROR_REPLACE", 102, 111, 94, 10},
        {&m_checkNullStrip, "IDC_NULL_STRIP", 102, 124, 80, 10},
        {&m_checkAbortOnError, "IDC_ABORT_ON_ERROR", 102, 137, 101, 10},
        {&m_editXonLimit, "IDC_XON_LIMIT", 7, 108, 40, 14},
        {&m_editXoffLimit, "IDC_XOFF_LIMIT", 7, 138, 40, 14},
        {&m_labelXonLimit, "IDC_STATIC_XON_LIMIT", 7, 97, 75, 8},
        {&m_labelXoffLimit, "IDC_STATIC_XOFF_LIMIT", 7, 125, 76, 8},
        {&m_editXonChar, "IDC_XON_CHAR", 7, 166, 16, 14},
        {&m_editXoffChar, "IDC_XOFF_CHAR", 27, 166, 16, 14},
        {&m_editErrorChar, "IDC_ERROR_CHAR", 47, 166, 16, 14},
        {&m_editEofChar, "IDC_EOF_CHAR", 67, 166, 16, 14},
        {&m_editEvtChar, "IDC_EVT_CHAR", 87, 166, 16, 14},
        {&m_labelChars, "IDC_STATIC_CHARS", 7, 156, 98, 8},
    };
    CDialogLayout().Place(placements, du, {.everyControlTakesFocus = true});
    SetUpControls();
}

void CPreferencesDlg::SetUpControls()
{
    m_btnOk.setDefault(true);
    m_btnCancel.setAutoDefault(false);

    m_cbBaudRate.addItems(Numbers(dcbctl::kBaudRates));
    m_cbByteSize.addItems(Numbers(dcbctl::kByteSizes));
    m_cbStopBits.addItems(kStopBits);
    m_cbParity.addItems(kParities);
    m_cbDtrFlow.addItems(kDtrControls);
    m_cbRtsFlow.addItems(kRtsControls);
    // A list starts without a selection; OnInitDialog selects from the record.
    for (QComboBox* combo : {&m_cbStopBits, &m_cbRtsFlow, &m_cbParity, &m_cbDtrFlow, &m_cbByteSize, &m_cbBaudRate})
        combo->setCurrentIndex(-1);

    const auto digitsOnly = QRegularExpression(QStringLiteral("[0-9]*"));
    for (QLineEdit* edit : {&m_editXonLimit, &m_editXoffLimit})
        edit->setValidator(new QRegularExpressionValidator(digitsOnly, edit));   // owned by the edit
    for (QLineEdit* edit : {&m_editXonChar, &m_editXoffChar, &m_editErrorChar, &m_editEofChar, &m_editEvtChar})
        edit->setReadOnly(true);

    connect(&m_btnOk, &QPushButton::clicked, this, &CPreferencesDlg::OnOK);
    connect(&m_btnCancel, &QPushButton::clicked, this, &CPreferencesDlg::OnCancel);
}

int CPreferencesDlg::DoModal()
{
    if (OnInitDialog())
        m_btnOk.setFocus();   // the first tab stop
    return exec();
}

bool CPreferencesDlg::UpdateData(bool saveAndValidate)
{
    m_bFailed = false;
    DoDataExchange(saveAndValidate);
    return !m_bFailed;
}

void CPreferencesDlg::DoDataExchange(bool saveAndValidate)
{
    // Like the framework's exchange, the first control that fails ends it.
    const auto check = [&](QCheckBox& box, std::int32_t& value) {
        if (m_bFailed)
            return;
        if (saveAndValidate)
            value = box.isChecked() ? 1 : 0;
        else
            box.setChecked(value != 0);
    };
    const auto text = [&](QLineEdit& edit, QString& value) {
        if (m_bFailed)
            return;
        if (saveAndValidate)
            value = edit.text();
        else
            edit.setText(value);
    };
    const auto number = [&](QLineEdit& edit, std::int32_t& value) {
        if (m_bFailed)
            return;
        if (!saveAndValidate) {
            edit.setText(QString::number(value));
            return;
        }
        // An empty, non-numeric or out-of-range edit keeps the member and
        // fails the exchange: the user is told once and sent back to it.
        if (!ParseNumber(edit.text(), value)) {
            m_bFailed = true;
            m_prompts.MessageBox(QString::fromLatin1(kNumberPrompt), IPrompts::Icon::Exclamation);
            edit.setFocus();
            edit.selectAll();
        }
    };

    // The combos are used as controls (m_cb...), nothing to exchange.
    check(m_checkBinary, m_bBinary);
    check(m_checkParityCheck, m_bParityCheck);
    check(m_checkCtsFlow, m_bCtsFlow);
    check(m_checkDsrSensitivity, m_bDsrSensitivity);
    check(m_checkTxContinue, m_bTxContinueOnXoff);
    check(m_checkOutX, m_bOutX);
    check(m_checkInX, m_bInX);
    check(m_checkErrorReplace, m_bErrorReplace);
    check(m_checkNullStrip, m_bNullStrip);
    check(m_checkAbortOnError, m_bAbortOnError);
    check(m_checkDsrFlow, m_bDsrFlow);
    text(m_editEofChar, m_strEofChar);
    text(m_editErrorChar, m_strErrorChar);
    text(m_editEvtChar, m_strEvtChar);
    text(m_editXoffChar, m_strXoffChar);
    number(m_editXoffLimit, m_nXoffLim);
    number(m_editXonLimit, m_nXonLim);
    text(m_editXonChar, m_strXonChar);
}

bool CPreferencesDlg::OnInitDialog()
{
    UpdateData(false);

    // A value a list lacks selects nothing (serial/DcbControls.h).
    const DcbControls c = ControlsFromDcb(m_dcb);
    m_cbBaudRate.setCurrentIndex(c.baudRate);
    m_cbByteSize.setCurrentIndex(c.byteSize);
    m_cbStopBits.setCurrentIndex(c.stopBits);
    m_cbParity.setCurrentIndex(c.parity);
    m_cbDtrFlow.setCurrentIndex(c.dtrControl);
    m_cbRtsFlow.setCurrentIndex(c.rtsControl);
    for (const FlagBox& f : kFlagBoxes)
        this->*f.value = c.Flag(f.flag) ? 1 : 0;

    m_nXoffLim = c.xoffLim;
    m_nXonLim = c.xonLim;

    m_strXonChar = CharText(c.xonChar);
    m_strXoffChar = CharText(c.xoffChar);
    m_strErrorChar = CharText(c.errorChar);
    m_strEofChar = CharText(c.eofChar);
    m_strEvtChar = CharText(c.evtChar);

    UpdateData(false);
    return true;
}

void CPreferencesDlg::OnOK()
{
    // Nothing reaches the record unless every control holds a valid value.
    if (!UpdateData(true))
        return;

    DcbControls c = ControlsFromDcb(m_dcb);
    c.baudRate = m_cbBaudRate.currentIndex();
    c.byteSize = m_cbByteSize.currentIndex();
    c.stopBits = m_cbStopBits.currentIndex();
    c.parity = m_cbParity.currentIndex();
    c.dtrControl = m_cbDtrFlow.currentIndex();
    c.rtsControl = m_cbRtsFlow.currentIndex();
    for (const FlagBox& f : kFlagBoxes)
        c.Flag(f.flag) = (this->*f.value & 1) != 0;
    c.xoffLim = m_nXoffLim;
    c.xonLim = m_nXonLim;
    StoreChar(m_strXonChar, c.xonChar);
    StoreChar(m_strXoffChar, c.xoffChar);
    StoreChar(m_strErrorChar, c.errorChar);
    StoreChar(m_strEofChar, c.eofChar);
    StoreChar(m_strEvtChar, c.evtChar);
    ApplyControls(c, m_dcb);

    if (!UpdateData(true))
        return;
    QDialog::done(IDOK);
}

void CPreferencesDlg::OnCancel()
{
    QDialog::done(IDCANCEL);
}

void CPreferencesDlg::accept()
{
    OnOK();
}

void CPreferencesDlg::reject()
{
    OnCancel();
}
