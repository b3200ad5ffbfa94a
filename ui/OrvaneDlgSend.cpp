// Send and receive: the Send button per mode, the character converter, and the
// display of every received chunk.
#include "ui/OrvaneDlg.h"

#include "dm/SendPackets.h"
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
constexpr int kMaxCommandText = static_cast<int>(sendpkt::kMaxCommandText);
static_assert(sendpkt::kSendBufferSize == kTxBufSize);

// The command line as 8-bit text, one byte per character.
std::string CommandBytes(const QLineEdit& edit)
{
    return edit.text().toLatin1().toStdString();
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
    const std::vector<std::uint8_t> packet = sendpkt::HexPacket(CommandBytes(m_editCommand));
    std::copy(packet.begin(), packet.end(), m_TxBuf.begin());
    m_nTxLen = static_cast<std::int32_t>(packet.size());
}

std::size_t COrvaneDlg::PortWriter::Write(std::span<const std::uint8_t> data)
{
    const int n = m_port.Write(data.data(), static_cast<int>(std::min<std::size_t>(data.size(), INT32_MAX)));
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

int COrvaneDlg::FrameAndWrite(int rawLength)
{
    const auto length = static_cast<std::size_t>(std::clamp(rawLength, 0, kTxBufSize));
    PortWriter port(m_SerialPort);
    m_nTxLen = static_cast<std::int32_t>(::FrameAndWrite(port, std::span<const std::uint8_t>(m_TxBuf.data(), length)));
    return m_nTxLen;
}

void COrvaneDlg::OnSend()
{
    if (!CheckConnected())
        return;
    UpdateData(true);
    RecordCommand();   // window: the command history, for Up and Down

    sendpkt::SendMode mode{};
    switch (m_nMode) {
    case MODE_HEX:
        mode = sendpkt::SendMode::Hex;
        break;
    case MODE_ASCII:
        mode = sendpkt::SendMode::Ascii;
        break;
    case MODE_DM_AT:
        mode = sendpkt::SendMode::DmAt;
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

    // A line too long for the buffer, or a frame the framer would cut, is not sent.
    const std::vector<std::uint8_t> wire = sendpkt::WireBytes(mode, CommandBytes(m_editCommand), m_bAddCR, m_bAddLF);
    std::copy(wire.begin(), wire.end(), m_TxBuf.begin());
    m_nTxLen = static_cast<std::int32_t>(wire.size());
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
    // Drawn with the next redraw of the box: a flood is not laid out chunk by chunk.
    m_editResults.Append(text);
}

void COrvaneDlg::OnCommEvent()
{
}

void COrvaneDlg::OnClearResults()
{
    m_nRxTotal = 0;
    m_editResults.clear();
}
