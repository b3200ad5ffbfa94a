// SPDX-License-Identifier: GPL-2.0-or-later
#include "logclient/LogClientSession.h"

#include "logclient/DefaultPackets.h"
#include "logclient/MaskBuilders.h"

#include <array>

namespace {

// No list needs more packets than it has entries; this only guards the loop
// against a builder that would stop making progress.
constexpr int kMaxPacketsPerStep = 65537;

std::tm LocalTimeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// The builders fill a room of kMaskPacketRoom bytes; the packet is taken out of it.
template <typename Build>
std::vector<std::uint8_t> BuildInRoom(Build build)
{
    std::array<std::uint8_t, kMaskPacketRoom> room{};
    const std::size_t length = build(std::span<std::uint8_t>(room));
    return {room.begin(), room.begin() + static_cast<std::ptrdiff_t>(length)};
}

// A builder that walks a list across packets also says whether the list is
// done; done may be null when the caller takes the packet alone.
template <typename Build>
std::vector<std::uint8_t> BuildListInRoom(std::int32_t* done, Build build)
{
    std::int32_t finished = 1;
    auto packet = BuildInRoom([&](std::span<std::uint8_t> room) { return build(room, &finished); });
    if (done)
        *done = finished;
    return packet;
}

void Take(std::vector<std::uint8_t> bytes, std::chrono::milliseconds pause, std::vector<LogClientPacket>& packets)
{
    if (!bytes.empty())
        packets.push_back({std::move(bytes), pause});
}

}   // namespace

CLogClientSession::CLogClientSession() : m_clock(LocalTimeNow) {}

CLogClientSession::CLogClientSession(MessageSink sink) : m_sink(std::move(sink)), m_clock(LocalTimeNow) {}

void CLogClientSession::Tell(std::string text, std::string detail) const
{
    if (m_sink)
        m_sink({std::move(text), std::move(detail)});
}

std::optional<LogClientStep> CLogClientSession::LoadConfiguration(const std::string& path)
{
    m_strDmcPath = path;
    if (m_strDmcPath.empty()) {
        Tell(kMsgSelectDmcFile);
        return std::nullopt;
    }
    std::string error;
    if (!m_XmlReader.LoadDocument(m_strDmcPath, m_pXmlDoc, &error)) {
        Tell(kMsgLoadDmcFailed, error);
        return std::nullopt;
    }
    CreateCaptureFile();
    return Start(LogClientSequence::Config);
}

LogClientStep CLogClientSession::ApplyDocument(const std::string& path, DmcDocument doc)
{
    m_strDmcPath = path;
    m_pXmlDoc = std::move(doc);
    CreateCaptureFile();
    return Start(LogClientSequence::Config);
}

LogClientStep CLogClientSession::LoadDefaultConfig()
{
    CreateCaptureFile();
    return Start(LogClientSequence::Defaults);
}

LogClientStep CLogClientSession::Start(LogClientSequence sequence)
{
    return sequence == LogClientSequence::Config ? RunConfigStep(true) : SendDefaultStep(true);
}

LogClientStep CLogClientSession::Step(LogClientSequence sequence)
{
    return sequence == LogClientSequence::Config ? RunConfigStep(false) : SendDefaultStep(false);
}

void CLogClientSession::BeforeConnect()
{
    if (ConfigurationApplied())
        CreateCaptureFile();
}

std::optional<LogClientStep> CLogClientSession::AfterConnect()
{
    if (!ConfigurationApplied())
        return std::nullopt;
    if (m_strDmcPath.empty())
        return Start(LogClientSequence::Defaults);
    if (!m_XmlReader.LoadDocument(m_strDmcPath, m_pXmlDoc)) {
        Tell(kMsgReloadDmcFailed);
        return std::nullopt;
    }
    return Start(LogClientSequence::Config);
}

// One step of applying the loaded .dmc file: 0 events, 1 log codes, 2 message
// levels. A list missing from the document is skipped; its step still counts.
LogClientStep CLogClientSession::RunConfigStep(bool restart)
{
    if (restart)
        m_nStep = 0;
    LogClientStep step{LogClientSequence::Config, {}, std::nullopt};
    switch (m_nStep) {
    case 0:
        EventStep(step.packets);
        break;
    case 1:
        LogCodeStep(step.packets);
        break;
    case 2:
        MessageLevelStep(step.packets);
        break;
    default:
        return step;   // past the end (the defaults moved the counter): stays off
    }
    ++m_nStep;
    if (m_nStep < kConfigStepCount)
        step.next = kLogClientStepPeriod;
    return step;
}

void CLogClientSession::EventStep(std::vector<LogClientPacket>& packets)
{
    const CDmcReader::MessageSink show = [this](const char* text) { Tell(text); };
    std::string text;
    if (!m_XmlReader.GetListText(m_pXmlDoc, *DmcPathsFor(m_listView).eventIDs, text, show))
        return;
    ResetListPositions();
    Take(EventReportPacket(text), kLogClientPacketPause, packets);
    std::int32_t done = 0;
    Take(EventMaskPacket(text, &done), std::chrono::milliseconds{0}, packets);
}

void CLogClientSession::LogCodeStep(std::vector<LogClientPacket>& packets)
{
    const CDmcReader::MessageSink show = [this](const char* text) { Tell(text); };
    std::string textA, textB;
    // Both lookups are always made; a list not found takes part as an empty text.
    const int a = m_XmlReader.GetListText(m_pXmlDoc, *DmcPathsFor(m_listView).logCodes, textA, show);
    const int b = m_XmlReader.GetListText(m_pXmlDoc, *DmcPathsFor(m_listView).otaTypes, textB, show);
    if (!a && !b)
        return;
    ResetListPositions();
    std::int32_t done = 0;
    for (int n = 0; !done && n < kMaxPacketsPerStep; ++n)
        Take(LogConfigPacket(textA, textB, &done), kLogClientPacketPause, packets);
}

void CLogClientSession::MessageLevelStep(std::vector<LogClientPacket>& packets)
{
    const CDmcReader::MessageSink show = [this](const char* text) { Tell(text); };
    std::string text;
    if (!m_XmlReader.GetListText(m_pXmlDoc, *DmcPathsFor(m_listView).messageLevels, text, show))
        return;
    ResetListPositions();
    std::int32_t done = 0;
    for (int n = 0; !done && n < kMaxPacketsPerStep; ++n)
        Take(ExtMsgConfigPacket(text, &done), kLogClientPacketPause, packets);
}

void CLogClientSession::ResetListPositions()
{
    m_nListPos = 0;
    m_nListPos2 = 0;
}

std::vector<std::uint8_t> CLogClientSession::EventReportPacket(std::string_view eventIds)
{
    return BuildInRoom([&](std::span<std::uint8_t> room) { return BuildEventReport(eventIds, room); });
}

std::vector<std::uint8_t> CLogClientSession::EventMaskPacket(std::string_view eventIds, std::int32_t* done)
{
    return BuildListInRoom(done, [&](std::span<std::uint8_t> room, std::int32_t* finished) {
        return BuildEventMask(eventIds, m_nListPos, room, finished);
    });
}

std::vector<std::uint8_t> CLogClientSession::LogConfigPacket(std::string_view logCodes, std::string_view otaTypes,
                                                             std::int32_t* done)
{
    return BuildListInRoom(done, [&](std::span<std::uint8_t> room, std::int32_t* finished) {
        return BuildLogConfig(logCodes, otaTypes, m_nListPos, m_nListPos2, room, finished);
    });
}

std::vector<std::uint8_t> CLogClientSession::ExtMsgConfigPacket(std::string_view messageLevels, std::int32_t* done)
{
    return BuildListInRoom(done, [&](std::span<std::uint8_t> room, std::int32_t* finished) {
        return BuildExtMsgConfig(messageLevels, m_nListPos, room, finished);
    });
}

// Default packet m_nStep, and the next step when packets remain.
LogClientStep CLogClientSession::SendDefaultStep(bool restart)
{
    if (restart)
        m_nStep = 0;
    LogClientStep step{LogClientSequence::Defaults, {}, std::nullopt};
    const DefaultPacketTable& table = DefaultConfigPackets();
    // Past the table only when the .dmc sequence moved the shared counter: end.
    if (m_nStep >= table.size())
        return step;
    const std::vector<std::uint8_t>& packet = table[m_nStep];
    const std::size_t length = dmcmd::PacketLengthFromHeader(packet);
    if (length == 0 || length > packet.size() || length > kMaskPacketRoom)
        return step;
    step.packets.push_back({{packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(length)}, {}});
    ++m_nStep;
    if (m_nStep < table.size())
        step.next = kLogClientStepPeriod;
    return step;
}

// The directory is named in the path rather than made current, so a file
// dialog that moved the current directory cannot send the capture elsewhere.
bool CLogClientSession::CreateCaptureFile()
{
    if (m_capture.IsOpen())
        return true;
    std::string error;
    if (!m_capture.Create(m_captureDir, m_clock(), &error)) {
        Tell(kMsgCreateCaptureFailed, error);
        return false;
    }
    return true;
}

void CLogClientSession::CloseCaptureFile()
{
    m_capture.Close();
}

bool CLogClientSession::OnReceived(std::span<const std::uint8_t> chunk)
{
    if (!m_capture.IsOpen())
        return true;
    return m_capture.Write(chunk.data(), chunk.size());
}
