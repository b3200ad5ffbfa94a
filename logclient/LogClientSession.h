// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CLogClientSession: the Log client without a window. It holds the loaded
// ".dmc" document, the list positions, the step counter shared by the two timed
// sequences (the three configuration steps and the eleven default packets) and
// the capture file.
//
// It has no thread and no timer of its own: the driver (the main window, the
// headless logger, a test) calls it and gets back the raw packets to frame and
// write (FrameAndWrite, dm/FramedWriter.h), the pause to keep after each one
// and when to call Step again. Texts for the user come back through the
// message sink; the capture directory and the clock are the driver's.
//
// Every call comes from one thread, the driver's.
#include "logclient/CaptureFile.h"
#include "logclient/DmcReader.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The two timed sequences; the values are the window's timer ids.
enum class LogClientSequence : int {
    Defaults = 0,   // one built-in packet per step
    Config = 1,     // the three steps of a .dmc file
};

// Time between two steps of a sequence.
inline constexpr std::chrono::milliseconds kLogClientStepPeriod{100};
// Time between two packets of one configuration step, so the modem can take each in.
inline constexpr std::chrono::milliseconds kLogClientPacketPause{10};
inline constexpr std::uint32_t kConfigStepCount = 3;

// Texts the session asks its driver to show.
inline constexpr const char* kMsgSelectDmcFile = "Please select dmc file";
inline constexpr const char* kMsgLoadDmcFailed = "Fail to load dmc file";
inline constexpr const char* kMsgCreateCaptureFailed = "Fail to create log file";
inline constexpr const char* kMsgReloadDmcFailed = "malformated dmc file, reload it!";

struct LogClientPacket {
    std::vector<std::uint8_t> bytes;           // raw, unframed
    std::chrono::milliseconds pauseAfter{0};   // wait this long after writing it
};

struct LogClientStep {
    LogClientSequence sequence = LogClientSequence::Config;
    std::vector<LogClientPacket> packets;              // in order
    std::optional<std::chrono::milliseconds> next;     // call Step(sequence) after this; none: over
};

struct LogClientMessage {
    std::string text;     // one of the texts above, or a reader's message, shown as it is
    std::string detail;   // the reason when known ("open: No such file or directory")
};

class CLogClientSession {
public:
    using MessageSink = std::function<void(const LogClientMessage&)>;
    using Clock = std::function<std::tm()>;   // the local time a capture is named after

    CLogClientSession();
    explicit CLogClientSession(MessageSink sink);

    void SetMessageSink(MessageSink sink) { m_sink = std::move(sink); }
    void SetClock(Clock clock) { m_clock = std::move(clock); }
    // Where captures are created: the start-up directory. The driver may set it
    // at any time; it is read when a capture is created.
    std::string& CaptureDirectory() { return m_captureDir; }

    // "Load Configuration..." with the chosen path. An empty path tells "Please
    // select dmc file"; a file that does not load tells "Fail to load dmc file"
    // with the reason and keeps the path for a later reconnect. Otherwise the
    // document is replaced, the capture opened (an open one stays) and the
    // configuration started: step 0 is returned.
    std::optional<LogClientStep> LoadConfiguration(const std::string& path);

    // As LoadConfiguration, with the file at path already loaded into doc by
    // the caller (a driver that checked it first parses it once).
    LogClientStep ApplyDocument(const std::string& path, DmcDocument doc);

    // "Load Default Cfg..." while connected: the capture, then the first packet.
    LogClientStep LoadDefaultConfig();

    // Starts a sequence from its beginning, or runs its next step (a timer
    // tick). Both sequences move the same counter, as the window's always did:
    // started close together they interleave and skip each other's steps.
    LogClientStep Start(LogClientSequence sequence);
    LogClientStep Step(LogClientSequence sequence);

    // Reconnect: before the port opens, the capture (only once a configuration
    // was applied); after it opened, the configuration applied last, started
    // again (the .dmc file is read again; when that fails "malformated dmc file,
    // reload it!" is told and nothing starts). Nothing when none was applied.
    void BeforeConnect();
    std::optional<LogClientStep> AfterConnect();

    // The capture file, in one place: created in CaptureDirectory under the
    // clock's time (false and "Fail to create log file" told when it cannot be),
    // written with every received chunk, closed on disconnect.
    bool CreateCaptureFile();
    void CloseCaptureFile();
    // Appends chunk to the open capture; nothing without one. false when the
    // capture refused it: the reason is in Capture().LastError().
    bool OnReceived(std::span<const std::uint8_t> chunk);
    CCaptureFile& Capture() { return m_capture; }
    const CCaptureFile& Capture() const { return m_capture; }

    // One packet of a list as the configuration steps build it, with the
    // session's list positions (ResetListPositions starts a list again). done
    // is set with a list's last packet; an empty packet means nothing to send.
    void ResetListPositions();
    std::vector<std::uint8_t> EventReportPacket(std::string_view eventIds);
    std::vector<std::uint8_t> EventMaskPacket(std::string_view eventIds, std::int32_t* done);
    std::vector<std::uint8_t> LogConfigPacket(std::string_view logCodes, std::string_view otaTypes, std::int32_t* done);
    std::vector<std::uint8_t> ExtMsgConfigPacket(std::string_view messageLevels, std::int32_t* done);

    // Steps taken since the last start; nonzero once a configuration was applied.
    const std::uint32_t& StepCounter() const { return m_nStep; }
    bool ConfigurationApplied() const { return m_nStep != 0; }
    // The .dmc file chosen last (empty: the defaults are repeated on reconnect).
    const std::string& DmcPath() const { return m_strDmcPath; }
    const DmcDocument& Document() const { return m_pXmlDoc; }

    // Which view of the .dmc file the lists are read from: the designed
    // MessagesView, or LoggingView where real saved files keep theirs.
    void SetListView(DmcListView view) { m_listView = view; }
    DmcListView ListView() const { return m_listView; }
    // Where the loaded document's lists are and how many entries each has.
    DmcListSummary ListSummary() const { return SummarizeLists(m_XmlReader, m_pXmlDoc, m_listView); }

private:
    LogClientStep RunConfigStep(bool restart);
    LogClientStep SendDefaultStep(bool restart);
    void EventStep(std::vector<LogClientPacket>& packets);
    void LogCodeStep(std::vector<LogClientPacket>& packets);
    void MessageLevelStep(std::vector<LogClientPacket>& packets);
    void Tell(std::string text, std::string detail = {}) const;

    CDmcReader m_XmlReader;
    DmcDocument m_pXmlDoc;
    std::string m_strDmcPath;
    std::int32_t m_nListPos = 0;
    std::int32_t m_nListPos2 = 0;
    std::uint32_t m_nStep = 0;
    DmcListView m_listView = DmcListView::MessagesView;
    CCaptureFile m_capture;
    std::string m_captureDir;
    MessageSink m_sink;
    Clock m_clock;
};
