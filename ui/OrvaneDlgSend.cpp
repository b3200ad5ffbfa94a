// Send and receive: the Send button per mode, the character converter, and the
// display of every received chunk.
#include "ui/OrvaneDlg.h"

#include "dm/TextCodec.h"

#include <QScrollBar>

#include <algorithm>
#include <cstring>
#include <string>

std::array<char, kRxTextSize> g_szRxText{};

namespace {
// Hex text takes three characters a byte: this many bytes fit g_szRxText with
// its terminator.
constexpr std::uint32_t kHexPieceBytes = (kRxTextSize - 1) / 3;
static_assert(kHexPieceBytes == 2734);
constexpr int kMaxCommandText = kTxBufSize - 2;

// A frame is complete when it ends in its closing flag: a 0x7E in the data or
// the FCS is always escaped, so only the flag is a bare 0x7E.
bool IsCompleteFrame(const std::uint8_t* frame, int length)
{
    return length > 0 && frame[length - 1] == 0x7E;
}

// Received text as the box shows it: 8-bit characters up to the first zero,
// with CR LF and lone CR taken as line breaks.
QString ReceivedText(const char* text)
{
    QString s = QString::fromLatin1(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

QString HexText(const std::uint8_t* data, std::uint32_t count)
{
    QString text;
    text.reserve(static_cast<qsizetype>(count) * 3);
    for (std::uint32_t done = 0; done < count;) {
        const std::uint32_t piece = std::min(count - done, kHexPieceBytes);
        BytesToHexText(data + done, g_szRxText.data(), static_cast<int>(piece));
        text += QLatin1String(g_szRxText.data(), static_cast<qsizetype>(piece) * 3);
        done += piece;
    }
    if (count == 0)
        g_szRxText[0] = '\0';
    return text;
}
}  // namespace

bool COrvaneDlg::CommandTextFits()
{
    // A longer line would go out cut short, so it is not sent at all.
    if (m_editCommand.text().size() <= kMaxCommandText)
        return true;
    m_nTxLen = 0;
    return false;
}

bool COrvaneDlg::CheckConnected()
{
    if (m_SerialPort.IsOpen())
        return true;
    m_prompts.MessageBox(QStringLiteral("You do not connect to the device yet"), IPrompts::Icon::None);
    m_btnConnect.setFocus();
    return false;
}

void COrvaneDlg::CopyCommandText()
{
    const QByteArray text = m_editCommand.text().toLatin1();
    // At most 2046 characters: the text, its terminator and two appended bytes fit.
    const int length = std::min<int>(static_cast<int>(text.size()), kMaxCommandText);
    std::copy_n(text.constData(), length, m_TxBuf.begin());
    m_TxBuf[static_cast<std::size_t>(length)] = 0;
    m_nTxLen = length;
}

void COrvaneDlg::BuildHexPacket()
{
    std::string text = m_editCommand.text().toLatin1().toStdString();
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    m_nTxLen = HexTokensToBytes(text.data(), m_TxBuf.data(), m_TxBuf.size(), " \r\n\t");
}

int COrvaneDlg::FrameAndWrite(int rawLength)
{
    m_nTxLen = m_Framer.Frame(m_TxBuf.data(), rawLength);
    if (!IsCompleteFrame(m_TxBuf.data(), m_nTxLen))
        return 0;   // a frame cut by the framer's room would only confuse the modem
    return m_SerialPort.Write(m_TxBuf.data(), m_nTxLen);
}

void COrvaneDlg::OnSend()
{
    if (!CheckConnected())
        return;
    UpdateData(true);

    bool framed = false;
    switch (m_nMode) {
    case MODE_HEX:
        BuildHexPacket();
        framed = m_bAddCR && m_bAddLF;
        break;
    case MODE_ASCII:
        if (!CommandTextFits())
            break;
        CopyCommandText();
        if (m_bAddCR)
            m_TxBuf[static_cast<std::size_t>(m_nTxLen++)] = 0x0D;
        if (m_bAddLF)
            m_TxBuf[static_cast<std::size_t>(m_nTxLen++)] = 0x0A;
        break;
    case MODE_DM_AT:
        if (!CommandTextFits())
            break;
        CopyCommandText();
        std::copy_backward(m_TxBuf.begin(), m_TxBuf.begin() + m_nTxLen, m_TxBuf.begin() + m_nTxLen + 1);
        m_TxBuf[0] = 0x5E;
        ++m_nTxLen;
        m_TxBuf[static_cast<std::size_t>(m_nTxLen++)] = 0x0D;
        framed = true;
        break;
    case MODE_LOG_CLIENT:
        LoadConfiguration();
        return;
    case MODE_LOG_SERVER:
        LoadLogFile();
        return;
    default:
        return;
    }

    if (framed) {
        m_nTxLen = m_Framer.Frame(m_TxBuf.data(), m_nTxLen);
        if (!IsCompleteFrame(m_TxBuf.data(), m_nTxLen)) {
            SetStatus(QStringLiteral("Not Sent..."));
            return;
        }
    }
    if (m_nTxLen == 0) {
        SetStatus(QStringLiteral("Not Sent..."));
        return;
    }
    SetStatus(QStringLiteral("Sending..."));
    m_staticStatus.repaint();
    const int written = m_SerialPort.Write(m_TxBuf.data(), m_nTxLen);
    SetStatus(written == m_nTxLen ? QStringLiteral("Sent") : QStringLiteral("Not Sent..."));
}

void COrvaneDlg::OnCharToHex()
{
    const QString text = m_editChar.text();
    if (text.isEmpty()) {
        m_prompts.MessageBox(QStringLiteral("Please enter an Ascii character"), IPrompts::Icon::None);
        m_editChar.setFocus();
        return;
    }
    const auto value = static_cast<unsigned char>(text.left(1).toLatin1().at(0));
    m_staticHexValue.setText(QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper());
}

void COrvaneDlg::OnCommRxChar(std::span<const std::uint8_t> chunk)
{
    const auto count = static_cast<std::uint32_t>(std::min(chunk.size(), kMaxChunk));
    const std::uint8_t* data = chunk.data();
    QString text;
    {
        m_nRxTotal += count;
        switch (m_nMode) {
        case MODE_LOG_CLIENT:
            CaptureChunk(data, count);
            break;
        case MODE_DM_AT:
        case MODE_ASCII:
            CopyBytesAsText(data, g_szRxText.data(), static_cast<int>(count));
            text = ReceivedText(g_szRxText.data());
            break;
        case MODE_HEX:
            text = HexText(data, count);
            break;
        case MODE_LOG_SERVER:
            text = HexText(data, count);
            QueueCannedReply(data, count);
            break;
        default:
            break;
        }
    }
    if (m_nMode != MODE_LOG_CLIENT) {
        m_nShownBytes += count;
        if (m_nShownBytes > 512) {
            m_nShownBytes = 0;
            m_editResults.clear();
        }
        AppendResults(text);
    }
    SetStatus(QStringLiteral("Received %1 bytes...").arg(m_nRxTotal));
}

void COrvaneDlg::AppendResults(const QString& text)
{
    if (!text.isEmpty()) {
        QTextCursor cursor = m_editResults.textCursor();
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(text);
        m_editResults.setTextCursor(cursor);
    }
    m_editResults.verticalScrollBar()->setValue(m_editResults.verticalScrollBar()->maximum());
}

void COrvaneDlg::OnCommEvent()
{
}

void COrvaneDlg::OnClearResults()
{
    m_nRxTotal = 0;
    m_editResults.clear();
}
