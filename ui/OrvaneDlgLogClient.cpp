#include "ui/OrvaneDlg.h"
// Configuration sequence, default packets and capture file.
//
// Everything here runs on the window's thread: the button handlers, the
// Connect handler and the two timers; CaptureChunk runs inside OnCommRxChar
// under m_csRx while the reader thread waits for it.
#include "logclient/DefaultPackets.h"
#include "logclient/MaskBuilders.h"

#include <QFile>
#include <QThread>

#include <algorithm>
#include <ctime>
#include <optional>
#include <span>

namespace {

// Pause between two packets of one step, so the modem can take each one in.
void PausePacket()
{
    QThread::msleep(10);
}

// No list needs more packets than it has entries; this only guards the loop
// against a builder that would stop making progress.
constexpr int kMaxPacketsPerStep = 65537;

// The room the builders fill: the part of m_TxBuf a frame can come from whole.
std::span<std::uint8_t> BuilderRoom(std::array<std::uint8_t, kTxBufSize>& buffer)
{
    return {buffer.data(), kMaskPacketRoom};
}

}   // namespace

void COrvaneDlg::SendEventReport(std::string text)
{
    const std::size_t length = BuildEventReport(text, BuilderRoom(m_TxBuf));
    if (length == 0)
        return;
    m_nTxLen = static_cast<std::int32_t>(length);
    FrameAndWrite(m_nTxLen);
}

void COrvaneDlg::SendEventMask(std::string text, int* done)
{
    std::int32_t finished = 1;
    const std::size_t length = BuildEventMask(text, m_nListPos, BuilderRoom(m_TxBuf), &finished);
    *done = finished;
    if (length == 0)
        return;
    m_nTxLen = static_cast<std::int32_t>(length);
    FrameAndWrite(m_nTxLen);
}

void COrvaneDlg::SendLogConfig(std::string textA, std::string textB, int* done)
{
    std::int32_t finished = 1;
    const std::size_t length = BuildLogConfig(textA, textB, m_nListPos, m_nListPos2, BuilderRoom(m_TxBuf), &finished);
    *done = finished;
    if (length == 0)
        return;
    m_nTxLen = static_cast<std::int32_t>(length);
    FrameAndWrite(m_nTxLen);
}

void COrvaneDlg::SendExtMsgConfig(std::string text, int* done)
{
    std::int32_t finished = 1;
    const std::size_t length = BuildExtMsgConfig(text, m_nListPos, BuilderRoom(m_TxBuf), &finished);
    *done = finished;
    if (length == 0)
        return;
    m_nTxLen = static_cast<std::int32_t>(length);
    FrameAndWrite(m_nTxLen);
}

// "Load Configuration..." in Log client mode, after the connection check.
void COrvaneDlg::LoadConfiguration()
{
    const std::optional<QString> chosen = m_prompts.GetOpenFileName(QStringLiteral("Config file(*.dmc)|*.dmc|"));
    if (!chosen)
        return;
    m_strDmcPath = QFile::encodeName(*chosen).toStdString();
    if (m_strDmcPath.empty()) {
        m_prompts.MessageBox(QStringLiteral("Please select dmc file"), IPrompts::Icon::Exclamation);
        return;
    }
    std::string error;
    if (!m_XmlReader.LoadDocument(m_strDmcPath, m_pXmlDoc, &error)) {
        m_prompts.MessageBox(QStringLiteral("Fail to load dmc file"), IPrompts::Icon::Exclamation,
                             QString::fromStdString(error));
        return;
    }
    ShowListSummary();   // window: which lists the file holds, on the capture line
    CreateCaptureFile();
    RunConfigStep(1);
}

// "Load Default Cfg..." (the Clear button in the other modes).
void COrvaneDlg::LoadDefaultConfig()
{
    m_editCommand.clear();
    if (m_nMode != MODE_LOG_CLIENT)
        return;
    if (!CheckConnected())
        return;
    CreateCaptureFile();
    SendDefaultStep(1);
}

void COrvaneDlg::OnTimer(int id)
{
    switch (id) {
    case TIMER_DEFAULTS:
        SendDefaultStep(0);
        break;
    case TIMER_CONFIG:
        RunConfigStep(0);
        break;
    default:
        break;
    }
}

// One step of applying the loaded .dmc file: 0 events, 1 log codes, 2 message
// levels. A list missing from the document is skipped; its step still counts.
void COrvaneDlg::RunConfigStep(int restart)
{
    if (restart)
        m_nStep = 0;
    KillTimer(TIMER_CONFIG);

    const DmcListPaths& paths = DmcPathsFor(m_listView);   // window: MessagesView or LoggingView
    const CDmcReader::MessageSink showMessage = [this](const char* text) {
        m_prompts.MessageBox(QString::fromLatin1(text), IPrompts::Icon::Exclamation);
    };
    switch (m_nStep) {
    case 0: {
        std::string text;
        if (m_XmlReader.GetListText(m_pXmlDoc, *paths.eventIDs, text, showMessage)) {
            m_nListPos = 0;
            SendEventReport(text);
            PausePacket();
            int done = 0;
            SendEventMask(text, &done);
        }
        break;
    }
    case 1: {
        std::string textA, textB;
        const int a = m_XmlReader.GetListText(m_pXmlDoc, *paths.logCodes, textA, showMessage);
        const int b = m_XmlReader.GetListText(m_pXmlDoc, *paths.otaTypes, textB, showMessage);
        if (a || b) {
            m_nListPos = 0;
            m_nListPos2 = 0;
            int done = 0;
            for (int n = 0; !done && n < kMaxPacketsPerStep; ++n) {
                SendLogConfig(textA, textB, &done);
                PausePacket();
            }
        }
        break;
    }
    case 2: {
        std::string text;
        if (m_XmlReader.GetListText(m_pXmlDoc, *paths.messageLevels, text, showMessage)) {
            m_nListPos = 0;
            int done = 0;
            for (int n = 0; !done && n < kMaxPacketsPerStep; ++n) {
                SendExtMsgConfig(text, &done);
                PausePacket();
            }
        }
        break;
    }
    default:
        return;
    }

    ++m_nStep;
    if (m_nStep < 3)
        SetTimer(TIMER_CONFIG);
}

// Sends default packet m_nStep and arms the timer for the next one.
void COrvaneDlg::SendDefaultStep(int restart)
{
    if (restart)
        m_nStep = 0;
    KillTimer(TIMER_DEFAULTS);

    const DefaultPacketTable& packets = DefaultConfigPackets();
    // Past the table only when the .dmc sequence moved the shared counter: end.
    if (m_nStep >= packets.size())
        return;
    const std::vector<std::uint8_t>& packet = packets[m_nStep];
    const std::size_t length = dmcmd::PacketLengthFromHeader(packet);
    if (length == 0 || length > packet.size() || length > kMaskPacketRoom)
        return;
    std::copy_n(packet.begin(), length, m_TxBuf.begin());
    m_nTxLen = static_cast<std::int32_t>(length);
    FrameAndWrite(m_nTxLen);

    ++m_nStep;
    if (m_nStep < packets.size())
        SetTimer(TIMER_DEFAULTS);
}

// A new capture in the start-up directory named after the local time; an open
// capture stays open. The directory is named in the path rather than made
// current again, so a file dialog that moved the current directory cannot
// send the capture elsewhere.
void COrvaneDlg::CreateCaptureFile()
{
    if (m_hCaptureFile.IsOpen())
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::string error;
    if (!m_hCaptureFile.Create(m_szStartDir, local, &error))
        m_prompts.MessageBox(QStringLiteral("Fail to create log file"), IPrompts::Icon::Exclamation,
                             QString::fromStdString(error));
}

void COrvaneDlg::CloseCaptureFile()
{
    m_hCaptureFile.Close();
}

// Window thread, inside OnCommRxChar under m_csRx: the reader does not hand
// over the next chunk before this returns, so chunks land in arrival order.
// A failed write is not reported; the data is still counted.
void COrvaneDlg::CaptureChunk(const std::uint8_t* data, std::uint32_t count)
{
    if (m_hCaptureFile.IsOpen())
        m_hCaptureFile.Write(data, count);
    m_captureInfo.Feed({data, count});   // window: the capture line counts what went to the file
}
