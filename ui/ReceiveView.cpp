// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/ReceiveView.h"

#include "dm/TextCodec.h"
#include "serial/SerialPort.h"
#include "ui/OperatingMode.h"

#include <QFontDatabase>

#include <algorithm>

std::array<char, kRxTextSize> g_szRxText{};

namespace {
// Hex text takes three characters a byte: this many bytes fit g_szRxText with
// its terminator.
constexpr std::uint32_t kHexPieceBytes = (kRxTextSize - 1) / 3;
static_assert(kHexPieceBytes == 2734);
// Past this many bytes shown since it was last emptied, the box starts afresh.
constexpr std::uint32_t kShownBytesLimit = 512;

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

CReceiveView::CReceiveView(QWidget* parent) : m_box(parent)
{
    m_box.setObjectName(QStringLiteral("IDC_RESULTS"));
    m_box.setReadOnly(true);
    m_box.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_box.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_box.setUndoRedoEnabled(false);
    m_box.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

void CReceiveView::Take(int mode, std::span<const std::uint8_t> chunk)
{
    const auto count = static_cast<std::uint32_t>(std::min(chunk.size(), kMaxChunk));
    m_nRxTotal += count;
    QString text;
    switch (mode) {
    case MODE_DM_AT:
    case MODE_ASCII:
        CopyBytesAsText(chunk.data(), g_szRxText.data(), static_cast<int>(count));
        text = ReceivedText(g_szRxText.data());
        break;
    case MODE_HEX:
    case MODE_LOG_SERVER:
        text = HexText(chunk.data(), count);
        break;
    default:
        // Log client: the bytes go to the capture, the box is left alone.
        return;
    }
    m_nShownBytes += count;
    if (m_nShownBytes > kShownBytesLimit) {
        m_nShownBytes = 0;
        m_box.clear();
    }
    // Drawn with the next redraw of the box: a flood is not laid out chunk by chunk.
    m_box.Append(text);
}

void CReceiveView::Clear()
{
    m_nRxTotal = 0;
    m_box.clear();
}

void CReceiveView::AppendNote(const QString& note)
{
    m_box.Append(QStringLiteral("\n") + note + QStringLiteral("\n"));
}

QString CReceiveView::StatusText() const
{
    return QStringLiteral("Received %1 bytes...").arg(m_nRxTotal);
}
