#pragma once
// CVirtualModem: the DM side of a modem, as bytes in and bytes out.
//
// It reads HDLC frames and text lines from the client, answers them, and once
// a log mask enables any log code it produces a stream of framed log packets
// at a set rate. It does no I/O and reads no clock: the caller passes the time
// in, so tests drive it with made-up time points.
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
//   what the Log server answers (its canned table) -> the same reply
//   anything else          -> 13 and the first 16 request bytes (bad command)
//   a known request cut short -> 15 and the first 16 request bytes (bad length)
#include "dm/HdlcDeframer.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
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

    // Log frames due at `now`, whole frames only and at most `room` bytes.
    std::vector<std::uint8_t> TakeLogStream(TimePoint now, std::size_t room);
    // Time until the next log frame is due (zero if one is due now);
    // nothing while the stream is off or runs unpaced (rate 0).
    std::optional<std::chrono::nanoseconds> NextLogDue(TimePoint now);
    bool StreamActive() const { return !m_enabledCodes.empty(); }

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

    // The table answered by 73 op 1 and 7D 01.
    static const std::array<std::uint32_t, kEquipmentIds>& LastLogItems();
    struct SsidRange { std::uint16_t first, last; };
    static std::span<const SsidRange> MessageRanges();

    std::uint64_t GoodFrames() const { return m_deframer.GoodFrames(); }
    std::uint64_t BadFrames() const { return m_deframer.BadFrames(); }
    std::uint64_t LogPackets() const { return m_nLogPackets; }

    // The log packet (unframed) that carries `code` with running counter `counter`.
    static std::vector<std::uint8_t> BuildLogPacket(std::uint16_t code, std::uint32_t counter, std::uint64_t timestamp);
    // Payload bytes after the counter in every log packet.
    static constexpr std::size_t kLogFiller = 24;

private:
    std::vector<std::uint8_t> AnswerEventMask(std::span<const std::uint8_t> req);
    std::vector<std::uint8_t> AnswerLogConfig(std::span<const std::uint8_t> req);
    std::vector<std::uint8_t> AnswerMessageConfig(std::span<const std::uint8_t> req);
    void MasksChanged();
    void PreparePending(TimePoint now);

    CHdlcDeframer m_deframer{true};
    std::uint32_t m_nRate;

    bool m_bEventReport = false;
    std::uint16_t m_nEventBits = 0;
    std::vector<std::uint8_t> m_eventMask;
    std::array<std::uint32_t, kEquipmentIds> m_logItems{};
    std::array<std::vector<std::uint8_t>, kEquipmentIds> m_logMasks;
    std::map<std::uint16_t, std::uint32_t> m_msgMasks;   // set per ssid, over m_msgAll
    std::uint32_t m_msgAll = 0;

    std::vector<std::uint16_t> m_enabledCodes;
    std::size_t m_nNextCode = 0;
    std::uint32_t m_nCounter = 0;
    std::uint64_t m_nLogPackets = 0;
    std::vector<std::uint8_t> m_pending;           // the next framed log packet
    std::optional<TimePoint> m_streamStart;
    std::optional<TimePoint> m_lastPace;
    double m_credit = 0;                           // bytes the rate allows now
};

