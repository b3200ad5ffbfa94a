#include "tools/orvanelog/LogSequence.h"

#include "dm/HdlcFramer.h"
#include "logclient/DefaultPackets.h"
#include "logclient/MaskBuilders.h"

#include <array>
#include <thread>

namespace {

// The lists under the element the user chose; MessagesView is the designed one.
struct ListPaths {
    DmcPath eventIds, logCodes, otaTypes, messageLevels;
};

const ListPaths& PathsFor(ListView view)
{
    static const ListPaths kMessages{g_pathEventIDs, g_pathLogCodes, g_pathOTATypes, g_pathMessageLevels};
    static const ListPaths kLogging{
        DmcPath{"QXDM", "Persistence", "LoggingView", "ISVConfig", "EventIDs"},
        DmcPath{"QXDM", "Persistence", "LoggingView", "ISVConfig", "LogCodes"},
        DmcPath{"QXDM", "Persistence", "LoggingView", "ISVConfig", "OTATypes"},
        DmcPath{"QXDM", "Persistence", "LoggingView", "ISVConfig", "MessageLevels"}};
    return view == ListView::Logging ? kLogging : kMessages;
}

// No list needs more packets than it has entries; this only guards the loop.
constexpr int kMaxPacketsPerStep = 65537;

void PausePacket()
{
    std::this_thread::sleep_for(CLogSequence::kPacketPause);
}

}  // namespace

CLogSequence::CLogSequence(FrameWriter write, MessageSink message, ListView view)
    : m_write(std::move(write)), m_message(std::move(message)), m_view(view)
{
}

bool CLogSequence::Load(const std::string& path, std::string* error)
{
    if (!m_reader.LoadDocument(path, m_doc, error))
        return false;
    m_haveDoc = true;
    return true;
}

void CLogSequence::Start()
{
    m_nStep = 0;
    m_running = true;
}

std::optional<std::chrono::milliseconds> CLogSequence::Step()
{
    if (!m_running)
        return std::nullopt;
    m_running = m_haveDoc ? ConfigStep() : DefaultStep();
    if (!m_running)
        return std::nullopt;
    return kStepPause;
}

// As the window's FrameAndWrite: framed in a buffer of the framer's room; a
// frame the framer had to cut is not written.
void CLogSequence::FrameAndWrite(std::span<const std::uint8_t> packet)
{
    std::array<unsigned char, 2048> buffer{};
    if (packet.empty() || packet.size() > kMaskPacketRoom)
        return;
    std::copy(packet.begin(), packet.end(), buffer.begin());
    CHdlcFramer framer;
    const int length = framer.Frame(buffer.data(), static_cast<int>(packet.size()));
    if (length < 1 || buffer[static_cast<std::size_t>(length) - 1] != kHdlcFlag)
        return;
    ++m_packets;
    m_write(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(length)));
}

// One step of the .dmc file; true while steps remain.
bool CLogSequence::ConfigStep()
{
    const ListPaths& paths = PathsFor(m_view);
    const CDmcReader::MessageSink showMessage = [this](const char* text) { m_message(text); };
    std::array<std::uint8_t, kMaskPacketRoom> room{};
    std::int32_t pos = 0, pos2 = 0;
    switch (m_nStep) {
    case 0: {
        std::string text;
        if (m_reader.GetListText(m_doc, paths.eventIds, text, showMessage)) {
            FrameAndWrite(std::span(room).first(BuildEventReport(text, room)));
            PausePacket();
            std::int32_t done = 0;
            FrameAndWrite(std::span(room).first(BuildEventMask(text, 0, room, &done)));
        }
        break;
    }
    case 1: {
        std::string textA, textB;
        const int a = m_reader.GetListText(m_doc, paths.logCodes, textA, showMessage);
        const int b = m_reader.GetListText(m_doc, paths.otaTypes, textB, showMessage);
        if (a || b) {
            std::int32_t done = 0;
            for (int n = 0; !done && n < kMaxPacketsPerStep; ++n) {
                FrameAndWrite(std::span(room).first(BuildLogConfig(textA, textB, pos, pos2, room, &done)));
                PausePacket();
            }
        }
        break;
    }
    case 2: {
        std::string text;
        if (m_reader.GetListText(m_doc, paths.messageLevels, text, showMessage)) {
            std::int32_t done = 0;
            for (int n = 0; !done && n < kMaxPacketsPerStep; ++n) {
                FrameAndWrite(std::span(room).first(BuildExtMsgConfig(text, pos, room, &done)));
                PausePacket();
            }
        }
        break;
    }
    default:
        return false;
    }
    return ++m_nStep < 3;
}

// One default packet; true while packets remain.
bool CLogSequence::DefaultStep()
{
    const DefaultPacketTable& packets = DefaultConfigPackets();
    if (m_nStep >= packets.size())
        return false;
    const std::vector<std::uint8_t>& packet = packets[m_nStep];
    const std::size_t length = dmcmd::PacketLengthFromHeader(packet);
    if (length == 0 || length > packet.size())
        return false;
    FrameAndWrite(std::span(packet).first(length));
    return ++m_nStep < packets.size();
}
