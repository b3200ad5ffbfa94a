// SPDX-License-Identifier: GPL-2.0-or-later
// Send and receive: the Send button per mode, the command line's history, the
// character converter, and the hand-over of every received chunk to the parts.
#include "ui/OrvaneDlg.h"

#include "dm/SendPackets.h"
#include "ui/PortWriter.h"

#include <algorithm>
#include <string>

namespace {
constexpr int kMaxCommandText = static_cast<int>(sendpkt::kMaxCommandText);
static_assert(sendpkt::kSendBufferSize == kTxBufSize);

// The command line as 8-bit text, one byte per character.
std::string CommandBytes(const QLineEdit& edit)
{
    return edit.text().toLatin1().toStdString();
}
}  // namespace

bool COrvaneDlg::CheckConnected()
{
    if (m_connection.IsOpen())
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

int COrvaneDlg::FrameAndWrite(int rawLength)
{
    const auto length = static_cast<std::size_t>(std::clamp(rawLength, 0, kTxBufSize));
    CPortWriter port(m_SerialPort);
    m_nTxLen = static_cast<std::int32_t>(::FrameAndWrite(port, std::span<const std::uint8_t>(m_TxBuf.data(), length)));
    return m_nTxLen;
}

// A packet of the Log client driver: built in m_TxBuf, then framed and written.
std::size_t COrvaneDlg::SendPacket(std::span<const std::uint8_t> packet)
{
    if (packet.empty() || packet.size() > m_TxBuf.size())
        return 0;
    std::copy(packet.begin(), packet.end(), m_TxBuf.begin());
    m_nTxLen = static_cast<std::int32_t>(packet.size());
    return static_cast<std::size_t>(std::max(FrameAndWrite(m_nTxLen), 0));
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

bool COrvaneDlg::WalkHistory(int key)
{
    const std::optional<QString> line =
        key == Qt::Key_Up ? m_history.Older(m_nMode, m_editCommand.text()) : m_history.Newer(m_nMode);
    if (line)
        m_editCommand.setText(*line);
    return true;
}

void COrvaneDlg::RecordCommand()
{
    // Only the modes that send the command line keep it.
    if (!m_editCommand.isEnabled())
        return;
    m_history.Record(m_nMode, m_editCommand.text());
    m_settings.SetHistory(m_nMode, m_history.Lines(m_nMode));
}

// Inside the hand-over: the receive view counts and shows the chunk, the
// capture takes it (Log client) or its reply is queued (Log server).
void COrvaneDlg::OnCommRxChar(std::span<const std::uint8_t> chunk)
{
    chunk = chunk.first(std::min(chunk.size(), kMaxChunk));
    m_receive.Take(m_nMode, chunk);
    if (m_nMode == MODE_LOG_CLIENT)
        m_logClient.OnReceived(chunk);
    else if (m_nMode == MODE_LOG_SERVER)
        m_logServer.OnReceived(chunk);
    if (m_nMode == MODE_LOG_CLIENT || m_nMode == MODE_LOG_SERVER)
        m_decoded.OnReceived(chunk);
    SetStatus(m_receive.StatusText());
}

void COrvaneDlg::OnCommEvent()
{
}

// Forwards to CReceiveView::Clear.
void COrvaneDlg::OnClearResults()
{
    m_receive.Clear();
}
