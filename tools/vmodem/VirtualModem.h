// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CVirtualModem: the DM side of a modem, as bytes in and bytes out.
//
// It reads HDLC frames and text lines from the client, answers them, and once
// the client enables records it produces a stream of framed records at a set
// rate: log records of the enabled codes it can build (LogRecords.h) or, with
// a capture set, the capture's records of the enabled codes; event reports
// while event reporting is on; extended messages while their level is on.
// It reads no clock: the caller passes the time in, so tests drive it with
// made-up time points. Its only I/O is a capture's file, when one is set.
//
// Requests it answers (payloads before framing; multi-byte fields little-endian):
//   60 on                  -> 60 00 00
//   82 00 00 00 bits mask  -> 82 00 00 00 bits mask           (status 0 = success)
//   73 000000 op ...       -> 73 000000 op status ...         (status 0 = success)
//       op 0 disable all   -> (nothing more)
//       op 1 get ranges    -> 16 x u32: last item number per equipment id
//       op 3 set mask      -> equip u32, items u32, mask
//       op 4 get mask      -> equip u32, items u32, mask
//   7D sub ...             (status 1 = success)
//       01 get ranges      -> 7D 01 status 00 count u32, count x (first u16, last u16)
//       03 get masks       -> 7D 03 first last status 00, one u32 mask per ssid
//       04 set masks       -> 7D 04 first last status 00, the masks set
//       05 set all masks   -> 7D 05 status 00 mask u32
//   5E text 0D (DM AT)     -> 5E and the text answer
//   00, 7C                 -> the modem's own version and build id (ModemReplies.h)
//   what the Log server answers (its canned table) -> the same reply
//   anything else          -> 13 and the first 16 request bytes (bad command)
//   a known request cut short -> 15 and the first 16 request bytes (bad length)
#include "dm/HdlcDeframer.h"
#include "tools/vmodem/CaptureStream.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CVirtualModem {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    static constexpr std::uint32_t kDefaultRate = 20000;     // bytes per second
    static constexpr std::size_t kEquipmentIds = 16;
    static constexpr std::uint32_t kMaxLogItems = 0x1000;    // item numbers are 12 bits

    // rate: framed log bytes per second; 0 means as fast as the caller takes them.
    explicit CVirtualModem(std::uint32_t rate = kDefaultRate);

    // Bytes from the client; returns what goes back (framed replies, text answers).
    std::vector<std::uint8_t> Receive(std::span<const std::uint8_t> bytes);

    // Log frames due at `now`, whole frames only and at most `room` bytes; but
    // a frame longer than a `room` of at least kLargeFrameRoom goes alone, so
    // that a large captured record cannot stop the stream for good.
    static constexpr std::size_t kLargeFrameRoom = 1024;
    std::vector<std::uint8_t> TakeLogStream(TimePoint now, std::size_t room);
    // Time until the next log frame is due (zero if one is due now), or until
    // a hold ends; nothing while the stream is off or runs unpaced (rate 0).
    std::optional<std::chrono::nanoseconds> NextLogDue(TimePoint now);
    bool StreamActive() const { return !m_rotation.empty(); }

    // Streams the capture's log records instead of built ones; with fresh
    // timestamps, round and round.
    void SetCapture(std::unique_ptr<CCaptureStream> capture);
    // Holds the stream until the client has left the masks alone for `quiet`.
    // Clients set their masks one request at a time and read each reply with
    // a read that takes whatever has come; a stream running meanwhile is cut
    // mid-frame by those reads, and the client's first frame after its
    // start-up is then broken. Default: no hold.
    void SetMaskQuiet(std::chrono::nanoseconds quiet);
    // Timestamps tell the wall-clock time: `wall` was the time at `at`.
    // Without it they count from the start of the stream.
    void SetWallClock(std::chrono::system_clock::time_point wall, TimePoint at);

    // The unframed reply to one un-escaped request; empty for none.
    std::vector<std::uint8_t> Answer(std::span<const std::uint8_t> request);
    // The answer to a text line, as a modem in command mode gives it.
    static std::string AnswerText(std::string_view line);

    // What the client has set.
    bool EventReporting() const { return m_bEventReport; }
    std::uint16_t EventMaskBits() const { return m_nEventBits; }
    const std::vector<std::uint8_t>& EventMask() const { return m_eventMask; }
    std::uint32_t LogItems(std::uint32_t equipId) const;
    const std::vector<std::uint8_t>& LogMask(std::uint32_t equipId) const;
    std::uint32_t MessageMask(std::uint16_t ssid) const;
    const std::vector<std::uint16_t>& EnabledLogCodes() const { return m_enabledCodes; }
    // The enabled codes it builds records for (without a capture).
    const std::vector<std::uint16_t>& StreamedLogCodes() const { return m_streamCodes; }
    bool EventsEnabled() const;       // any of the stream's events (LogRecords.h)
    bool MessagesEnabled() const;     // any of the stream's messages
    bool EventEnabled(std::uint16_t id) const;

    // The table answered by 73 op 1 and 7D 01.
    static const std::array<std::uint32_t, kEquipmentIds>& LastLogItems();
    struct SsidRange { std::uint16_t first, last; };
    static std::span<const SsidRange> MessageRanges();

    std::uint64_t GoodFrames() const { return m_deframer.GoodFrames(); }
    std::uint64_t BadFrames() const { return m_deframer.BadFrames(); }
    std::uint64_t LogPackets() const { return m_nLogPackets; }

private:
    std::vector<std::uint8_t> AnswerEventMask(std::span<const std::uint8_t> req);
    std::vector<std::uint8_t> AnswerLogConfig(std::span<const std::uint8_t> req);
    std::vector<std::uint8_t> AnswerLogSetMask(std::uint32_t op, std::span<const std::uint8_t> req);
    std::vector<std::uint8_t> AnswerLogGetMask(std::uint32_t op, std::span<const std::uint8_t> req);
    std::vector<std::uint8_t> AnswerMessageConfig(std::span<const std::uint8_t> req);
    void MasksChanged();
    void PreparePending(TimePoint now);
    std::uint64_t Timestamp(TimePoint now) const;
    bool HeldAt(TimePoint now);
    void StreamStopped();
    std::vector<std::uint8_t> NextRecord(TimePoint now);

    // What the stream sends in turn: one slot per log code it builds (or one
    // for the capture), one for events and one for messages.
    enum class Slot : std::uint8_t { Log, CaptureLog, Event, Message };
    // The next of the stream's events (messages) from number `seq` on that
    // the masks enable; `seq` moves past the ones skipped.
    std::vector<std::uint8_t> NextEvent(std::uint32_t& seq, std::uint64_t stamp) const;
    std::vector<std::uint8_t> NextMessage(std::uint32_t& seq, std::uint64_t stamp) const;

    struct StreamSlot {
        Slot kind;
        std::uint16_t code;
        std::uint32_t seq;   // records this slot has sent, to walk through its messages
    };

    CHdlcDeframer m_deframer{true};
    std::uint32_t m_nRate;

    bool m_bEventReport = false;
    bool m_bEventMaskSet = false;
    std::uint16_t m_nEventBits = 0;
    std::vector<std::uint8_t> m_eventMask;
    std::array<std::uint32_t, kEquipmentIds> m_logItems{};
    std::array<std::vector<std::uint8_t>, kEquipmentIds> m_logMasks;
    std::map<std::uint16_t, std::uint32_t> m_msgMasks;   // set per ssid, over m_msgAll
    std::uint32_t m_msgAll = 0;

    std::vector<std::uint16_t> m_enabledCodes;
    std::vector<std::uint16_t> m_streamCodes;
    std::vector<StreamSlot> m_rotation;
    std::size_t m_nNextSlot = 0;
    std::unique_ptr<CCaptureStream> m_capture;
    std::chrono::nanoseconds m_quiet{0};
    bool m_bMasksTouched = false;                  // the hold starts at the next look at the clock
    std::optional<TimePoint> m_holdUntil;
    std::optional<std::pair<std::chrono::system_clock::time_point, TimePoint>> m_wallClock;
    std::uint64_t m_nLogPackets = 0;
    std::vector<std::uint8_t> m_pending;           // the next framed log packet
    std::optional<TimePoint> m_streamStart;
    std::optional<TimePoint> m_lastPace;
    double m_credit = 0;                           // bytes the rate allows now
};

