// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/vmodem/VirtualModem.h"

#include "dm/DmCommand.h"
#include "dm/HdlcFramer.h"
#include "dm/LittleEndian.h"
#include "logserver/CannedReplies.h"
#include "tools/vmodem/LogRecords.h"
#include "tools/vmodem/ModemReplies.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#ifndef ORVANE_VERSION
#define ORVANE_VERSION "0"
#endif

namespace {
// 0x73 operations and 0x7D sub-commands with their status values.
using dm::kLogOpDisable;
using dm::kLogOpGetRanges;
using dm::kLogOpSetMask;
using dm::kLogOpGetMask;
using dm::kLogStatusSuccess;
using dm::kLogStatusInvalid;
using dm::kMsgGetRanges;
using dm::kMsgGetMasks;
using dm::kMsgSetMasks;
using dm::kMsgSetAll;
using dm::kMsgStatusFail;
using dm::kMsgStatusSuccess;
// Most ssids one 7D 03 request may read back.
constexpr std::uint32_t kMaxSsidsPerRequest = 1024;

// Last log item number per equipment id, as a modem reports it to 73 op 1;
// wide enough for every mask the tool's own default configuration sets.
constexpr std::array<std::uint32_t, CVirtualModem::kEquipmentIds> kLastLogItems = {
    0x000, 0x7FF, 0x0FF, 0x0FF, 0xA1F, 0x5FF, 0x0FF, 0x7FF,
    0x0FF, 0x0FF, 0x0FF, 0xFFF, 0x0FF, 0x0FF, 0x0FF, 0x0FF,
};

// Message ssid ranges, as a modem reports them to 7D 01.
constexpr std::array<CVirtualModem::SsidRange, 12> kSsidRanges = {{
    {0, 129}, {500, 526}, {1000, 1010}, {2000, 2008}, {3000, 3012}, {4000, 4010},
    {4500, 4526}, {5000, 5018}, {5500, 5521}, {6000, 6080}, {7000, 7002}, {8000, 8003},
}};

// An error reply: the code and the request's first 16 bytes, like the Log server's.
std::vector<std::uint8_t> ErrorReply(std::uint8_t code, std::span<const std::uint8_t> req)
{
    const std::size_t echo = std::min<std::size_t>(req.size(), kMaxBadCommandReply - 1);
    std::vector<std::uint8_t> out(1 + echo);
    out[0] = code;
    std::copy_n(req.begin(), echo, out.begin() + 1);
    return out;
}

std::vector<std::uint8_t> LogConfigHeader(std::uint32_t op, std::uint32_t status)
{
    std::vector<std::uint8_t> out{dm::kLogConfig, 0, 0, 0};
    dm::AppendU32(out, op);
    dm::AppendU32(out, status);
    return out;
}

std::vector<std::uint8_t> MessageRangeHeader(std::uint8_t sub, std::uint32_t first, std::uint32_t last, std::uint8_t status)
{
    std::vector<std::uint8_t> out{dm::kExtMsgConfig, sub};
    dm::AppendU16(out, first);
    dm::AppendU16(out, last);
    out.push_back(status);
    out.push_back(0);
    return out;
}

std::string Trim(std::string_view s)
{
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    auto b = std::find_if(s.begin(), s.end(), notSpace);
    auto e = std::find_if(s.rbegin(), s.rend(), notSpace).base();
    return b < e ? std::string(b, e) : std::string();
}
}  // namespace

CVirtualModem::CVirtualModem(std::uint32_t rate) : m_nRate(rate) {}

const std::array<std::uint32_t, CVirtualModem::kEquipmentIds>& CVirtualModem::LastLogItems() { return kLastLogItems; }

std::span<const CVirtualModem::SsidRange> CVirtualModem::MessageRanges() { return kSsidRanges; }

std::uint32_t CVirtualModem::LogItems(std::uint32_t equipId) const
{
    return equipId < kEquipmentIds ? m_logItems[equipId] : 0;
}

const std::vector<std::uint8_t>& CVirtualModem::LogMask(std::uint32_t equipId) const
{
    static const std::vector<std::uint8_t> kNone;
    return equipId < kEquipmentIds ? m_logMasks[equipId] : kNone;
}

std::uint32_t CVirtualModem::MessageMask(std::uint16_t ssid) const
{
    const auto it = m_msgMasks.find(ssid);
    return it != m_msgMasks.end() ? it->second : m_msgAll;
}

std::string CVirtualModem::AnswerText(std::string_view line)
{
    std::string cmd = Trim(line);
    if (cmd.empty())
        return {};
    std::transform(cmd.begin(), cmd.end(), cmd.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (cmd == "AT")
        return "\r\nOK\r\n";
    if (cmd == "ATI")
        return "\r\nOrvane virtual modem\r\nModel: orvane-vmodem\r\nRevision: " ORVANE_VERSION "\r\n\r\nOK\r\n";
    return "\r\nERROR\r\n";
}

std::vector<std::uint8_t> CVirtualModem::Receive(std::span<const std::uint8_t> bytes)
{
    std::vector<HdlcItem> items;
    m_deframer.Push(bytes, items);
    std::vector<std::uint8_t> out;
    for (const HdlcItem& item : items) {
        if (item.kind == HdlcItem::Kind::Frame && !item.data.empty()) {
            const std::vector<std::uint8_t> reply = Answer(item.data);
            const std::vector<std::uint8_t> frame = HdlcFramePacket(reply);
            out.insert(out.end(), frame.begin(), frame.end());
        } else if (item.kind == HdlcItem::Kind::TextLine) {
            const std::string text = AnswerText(std::string(item.data.begin(), item.data.end()));
            out.insert(out.end(), text.begin(), text.end());
        }
    }
    return out;
}

std::vector<std::uint8_t> CVirtualModem::Answer(std::span<const std::uint8_t> req)
{
    if (req.empty())
        return {};
    switch (req[0]) {
    case dm::kEventReport: {
        if (req.size() < 2)
            return ErrorReply(dm::kBadLength, req);
        m_bEventReport = req[1] != 0;
        MasksChanged();
        return {dm::kEventReport, 0, 0};
    }
    case dm::kEventMask:
        return AnswerEventMask(req);
    case dm::kLogConfig:
        return AnswerLogConfig(req);
    case dm::kExtMsgConfig:
        return AnswerMessageConfig(req);
    case dm::kDmAt: {
        std::string_view text(reinterpret_cast<const char*>(req.data()) + 1, req.size() - 1);
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == '\0'))
            text.remove_suffix(1);
        const std::string answer = AnswerText(text);
        std::vector<std::uint8_t> out{dm::kDmAt};
        out.insert(out.end(), answer.begin(), answer.end());
        return out;
    }
    default:
        break;
    }
    if (const std::span<const std::uint8_t> own = vmreply::OwnReply(req[0]); !own.empty())
        return std::vector<std::uint8_t>(own.begin(), own.end());

    // The Log server's table, handed the request as the Log server receives it:
    // one frame of payload, FCS and flag (here without escapes, so that its
    // length rule holds), with zeros behind it for replies that echo the request.
    std::vector<unsigned char> chunk(req.begin(), req.end());
    dm::AppendU16(chunk, HdlcFcs(req));
    chunk.push_back(kHdlcFlag);
    const unsigned length = static_cast<unsigned>(chunk.size());
    chunk.resize(std::max<std::size_t>(chunk.size(), kMaxCannedReply + 3) + 1, 0);
    std::array<unsigned char, kMaxCannedReply + kMaxBadCommandReply> reply{};
    const unsigned n = GetCannedReply(chunk.data(), length, reply.data());
    if (n > 0)
        return std::vector<std::uint8_t>(reply.begin(), reply.begin() + std::min<std::size_t>(n, reply.size()));
    return ErrorReply(dm::kBadCommand, req);
}

std::vector<std::uint8_t> CVirtualModem::AnswerEventMask(std::span<const std::uint8_t> req)
{
    if (req.size() < dm::kEventMaskHeader)
        return ErrorReply(dm::kBadLength, req);
    const std::uint32_t bits = dm::GetU16(req, 4);
    const std::size_t bytes = (bits + 7) / 8;
    if (req.size() < dm::kEventMaskHeader + bytes)
        return ErrorReply(dm::kBadLength, req);
    m_nEventBits = static_cast<std::uint16_t>(bits);
    m_eventMask.assign(req.begin() + dm::kEventMaskHeader, req.begin() + dm::kEventMaskHeader + static_cast<std::ptrdiff_t>(bytes));
    m_bEventMaskSet = true;
    MasksChanged();
    std::vector<std::uint8_t> out{dm::kEventMask, 0, 0, 0};
    dm::AppendU16(out, bits);
    out.insert(out.end(), m_eventMask.begin(), m_eventMask.end());
    return out;
}

std::vector<std::uint8_t> CVirtualModem::AnswerLogConfig(std::span<const std::uint8_t> req)
{
    if (req.size() < 8)
        return ErrorReply(dm::kBadLength, req);
    const std::uint32_t op = dm::GetU32(req, 4);
    switch (op) {
    case kLogOpDisable: {
        for (std::size_t e = 0; e < kEquipmentIds; ++e) {
            m_logItems[e] = 0;
            m_logMasks[e].clear();
        }
        MasksChanged();
        return LogConfigHeader(op, kLogStatusSuccess);
    }
    case kLogOpGetRanges: {
        std::vector<std::uint8_t> out = LogConfigHeader(op, kLogStatusSuccess);
        for (const std::uint32_t last : kLastLogItems)
            dm::AppendU32(out, last);
        return out;
    }
    case kLogOpSetMask:
        return AnswerLogSetMask(op, req);
    case kLogOpGetMask:
        return AnswerLogGetMask(op, req);
    default:
        return ErrorReply(dm::kBadCommand, req);
    }
}

// One equipment ID's mask: the reply echoes the mask as sent; the stored copy
// keeps only the bits that name items.
std::vector<std::uint8_t> CVirtualModem::AnswerLogSetMask(std::uint32_t op, std::span<const std::uint8_t> req)
{
    if (req.size() < dm::kLogConfigHeader)
        return ErrorReply(dm::kBadLength, req);
    const std::uint32_t equip = dm::GetU32(req, 8);
    const std::uint32_t items = dm::GetU32(req, 12);
    if (equip >= kEquipmentIds || items > kMaxLogItems) {
        std::vector<std::uint8_t> out = LogConfigHeader(op, kLogStatusInvalid);
        dm::AppendU32(out, equip);
        dm::AppendU32(out, items);
        return out;
    }
    const std::size_t bytes = (items + 7) / 8;
    if (req.size() < dm::kLogConfigHeader + bytes)
        return ErrorReply(dm::kBadLength, req);
    std::vector<std::uint8_t> mask(req.begin() + dm::kLogConfigHeader, req.begin() + dm::kLogConfigHeader + static_cast<std::ptrdiff_t>(bytes));
    std::vector<std::uint8_t> out = LogConfigHeader(op, kLogStatusSuccess);
    dm::AppendU32(out, equip);
    dm::AppendU32(out, items);
    out.insert(out.end(), mask.begin(), mask.end());
    // Bits past the item count name no item.
    if (items % 8 != 0)
        mask.back() &= static_cast<std::uint8_t>((1u << (items % 8)) - 1);
    m_logItems[equip] = items;
    m_logMasks[equip] = std::move(mask);
    MasksChanged();
    return out;
}

std::vector<std::uint8_t> CVirtualModem::AnswerLogGetMask(std::uint32_t op, std::span<const std::uint8_t> req)
{
    if (req.size() < 12)
        return ErrorReply(dm::kBadLength, req);
    const std::uint32_t equip = dm::GetU32(req, 8);
    if (equip >= kEquipmentIds)
        return LogConfigHeader(op, kLogStatusInvalid);
    std::vector<std::uint8_t> out = LogConfigHeader(op, kLogStatusSuccess);
    dm::AppendU32(out, equip);
    dm::AppendU32(out, m_logItems[equip]);
    out.insert(out.end(), m_logMasks[equip].begin(), m_logMasks[equip].end());
    return out;
}

std::vector<std::uint8_t> CVirtualModem::AnswerMessageConfig(std::span<const std::uint8_t> req)
{
    if (req.size() < 2)
        return ErrorReply(dm::kBadLength, req);
    const std::uint8_t sub = req[1];
    switch (sub) {
    case kMsgGetRanges: {
        std::vector<std::uint8_t> out{dm::kExtMsgConfig, sub, kMsgStatusSuccess, 0};
        dm::AppendU32(out, static_cast<std::uint32_t>(kSsidRanges.size()));
        for (const SsidRange& r : kSsidRanges) {
            dm::AppendU16(out, r.first);
            dm::AppendU16(out, r.last);
        }
        return out;
    }
    case kMsgGetMasks: {
        if (req.size() < 6)
            return ErrorReply(dm::kBadLength, req);
        const std::uint32_t first = dm::GetU16(req, 2);
        const std::uint32_t last = dm::GetU16(req, 4);
        if (last < first || last - first >= kMaxSsidsPerRequest)
            return MessageRangeHeader(sub, first, last, kMsgStatusFail);
        std::vector<std::uint8_t> out = MessageRangeHeader(sub, first, last, kMsgStatusSuccess);
        for (std::uint32_t ssid = first; ssid <= last; ++ssid)
            dm::AppendU32(out, MessageMask(static_cast<std::uint16_t>(ssid)));
        return out;
    }
    case kMsgSetMasks: {
        if (req.size() < dm::kExtMsgHeader)
            return ErrorReply(dm::kBadLength, req);
        const std::uint32_t first = dm::GetU16(req, 2);
        const std::uint32_t last = dm::GetU16(req, 4);
        if (last < first)
            return MessageRangeHeader(sub, first, last, kMsgStatusFail);
        const std::size_t count = last - first + 1;
        if (req.size() < dm::kExtMsgHeader + 4 * count)
            return ErrorReply(dm::kBadLength, req);
        std::vector<std::uint8_t> out = MessageRangeHeader(sub, first, last, kMsgStatusSuccess);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t mask = dm::GetU32(req, dm::kExtMsgHeader + 4 * i);
            m_msgMasks[static_cast<std::uint16_t>(first + i)] = mask;
            dm::AppendU32(out, mask);
        }
        MasksChanged();
        return out;
    }
    case kMsgSetAll: {
        if (req.size() < 8)
            return ErrorReply(dm::kBadLength, req);
        m_msgAll = dm::GetU32(req, 4);
        m_msgMasks.clear();
        MasksChanged();
        std::vector<std::uint8_t> out{dm::kExtMsgConfig, sub, kMsgStatusSuccess, 0};
        dm::AppendU32(out, m_msgAll);
        return out;
    }
    default:
        return ErrorReply(dm::kBadCommand, req);
    }
}

bool CVirtualModem::EventEnabled(std::uint16_t id) const
{
    if (!m_bEventReport)
        return false;
    // 60 01 alone reports every event, as on a modem whose mask was never set.
    if (!m_bEventMaskSet)
        return true;
    return id < m_nEventBits && id / 8u < m_eventMask.size() && (m_eventMask[id / 8u] & (1u << (id % 8u)));
}

bool CVirtualModem::EventsEnabled() const
{
    const auto ids = vmlog::StreamEventIds();
    return std::any_of(ids.begin(), ids.end(), [this](std::uint16_t id) { return EventEnabled(id); });
}

bool CVirtualModem::MessagesEnabled() const
{
    const auto all = vmlog::StreamMessages();
    return std::any_of(all.begin(), all.end(),
                       [this](const vmlog::StreamMessage& m) { return (MessageMask(m.ssid) & m.level) != 0; });
}

std::vector<std::uint8_t> CVirtualModem::NextEvent(std::uint32_t& seq, std::uint64_t stamp) const
{
    const auto ids = vmlog::StreamEventIds();
    for (std::size_t tried = 0; tried < ids.size(); ++tried, ++seq)
        if (EventEnabled(ids[seq % ids.size()]))
            return vmlog::BuildStreamEvent(seq, stamp);
    return {};
}

std::vector<std::uint8_t> CVirtualModem::NextMessage(std::uint32_t& seq, std::uint64_t stamp) const
{
    const auto all = vmlog::StreamMessages();
    for (std::size_t tried = 0; tried < all.size(); ++tried, ++seq) {
        const vmlog::StreamMessage& m = all[seq % all.size()];
        if ((MessageMask(m.ssid) & m.level) != 0)
            return vmlog::BuildExtMessage(seq, stamp);
    }
    return {};
}

void CVirtualModem::SetCapture(std::unique_ptr<CCaptureStream> capture)
{
    m_capture = std::move(capture);
    MasksChanged();
}

void CVirtualModem::SetMaskQuiet(std::chrono::nanoseconds quiet)
{
    m_quiet = quiet;
}

void CVirtualModem::SetWallClock(std::chrono::system_clock::time_point wall, TimePoint at)
{
    m_wallClock.emplace(wall, at);
}

void CVirtualModem::MasksChanged()
{
    m_enabledCodes.clear();
    m_streamCodes.clear();
    for (std::uint32_t e = 0; e < kEquipmentIds; ++e) {
        const std::vector<std::uint8_t>& mask = m_logMasks[e];
        for (std::uint32_t i = 0; i < m_logItems[e] && i / 8 < mask.size(); ++i)
            if (mask[i / 8] & (1u << (i % 8))) {
                const auto code = static_cast<std::uint16_t>((e << 12) | i);
                m_enabledCodes.push_back(code);
                // A record the modem cannot lay out as the code's decoders expect is not sent at all.
                if (vmlog::CanBuildLog(code))
                    m_streamCodes.push_back(code);
            }
    }
    m_rotation.clear();
    m_bMasksTouched = m_quiet.count() > 0;
    if (m_capture) {
        if (!m_enabledCodes.empty())
            m_rotation.push_back({Slot::CaptureLog, 0, 0});
    } else {
        for (const std::uint16_t code : m_streamCodes)
            m_rotation.push_back({Slot::Log, code, 0});
    }
    if (EventsEnabled())
        m_rotation.push_back({Slot::Event, 0, 0});
    if (MessagesEnabled())
        m_rotation.push_back({Slot::Message, 0, 0});
    // A packet built for the old masks may carry a record no longer enabled.
    m_pending.clear();
    m_nNextSlot = 0;
    if (m_rotation.empty())
        StreamStopped();
}

void CVirtualModem::StreamStopped()
{
    m_streamStart.reset();
    m_lastPace.reset();
    m_credit = 0;
}

std::uint64_t CVirtualModem::Timestamp(TimePoint now) const
{
    if (m_wallClock)
        return vmlog::DmTimestamp(m_wallClock->first + std::chrono::duration_cast<std::chrono::system_clock::duration>(now - m_wallClock->second));
    return vmlog::DmTimestamp(std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_streamStart.value_or(now)));
}

std::vector<std::uint8_t> CVirtualModem::NextRecord(TimePoint now)
{
    const std::uint64_t stamp = Timestamp(now);
    // Each slot in turn; one that has nothing to send leaves the rotation.
    while (!m_rotation.empty()) {
        const std::size_t at = m_nNextSlot % m_rotation.size();
        const StreamSlot slot = m_rotation[at];
        ++m_rotation[at].seq;
        ++m_nNextSlot;
        std::vector<std::uint8_t> record;
        switch (slot.kind) {
        case Slot::Log:
            record = vmlog::BuildLogRecord(slot.code, slot.seq, stamp);
            break;
        case Slot::CaptureLog: {
            const auto enabled = [this](std::uint16_t code) {
                return std::binary_search(m_enabledCodes.begin(), m_enabledCodes.end(), code);
            };
            if (auto captured = m_capture->Next(enabled)) {
                record = std::move(*captured);
                for (std::size_t i = 0; i < 8; ++i)
                    record[8 + i] = static_cast<std::uint8_t>(stamp >> (8 * i));
            }
            break;
        }
        case Slot::Event:
        case Slot::Message: {
            std::uint32_t seq = slot.seq;
            record = slot.kind == Slot::Event ? NextEvent(seq, stamp) : NextMessage(seq, stamp);
            m_rotation[at].seq = seq + 1;
            break;
        }
        }
        if (!record.empty())
            return record;
        m_rotation.erase(m_rotation.begin() + static_cast<std::ptrdiff_t>(at));
        m_nNextSlot = at;
    }
    StreamStopped();
    return {};
}

void CVirtualModem::PreparePending(TimePoint now)
{
    if (!m_pending.empty() || m_rotation.empty())
        return;
    const std::vector<std::uint8_t> record = NextRecord(now);
    if (!record.empty())
        m_pending = HdlcFramePacket(record);
}

std::vector<std::uint8_t> CVirtualModem::TakeLogStream(TimePoint now, std::size_t room)
{
    std::vector<std::uint8_t> out;
    if (!StreamActive())
        return out;
    if (HeldAt(now)) {
        // Nothing is earned while held: the stream starts afresh after it.
        m_streamStart.reset();
        m_pending.clear();
        return out;
    }
    if (!m_streamStart) {
        m_streamStart = now;
        m_lastPace = now;
        PreparePending(now);
        m_credit = static_cast<double>(m_pending.size());   // the first packet goes at once
    }
    // A capture with no record of an enabled code ends the stream here.
    if (!StreamActive())
        return out;
    if (m_nRate > 0 && now > *m_lastPace) {
        const double elapsed = std::chrono::duration<double>(now - *m_lastPace).count();
        m_credit += elapsed * m_nRate;
        m_lastPace = now;
    }
    // A line that stalls, or a caller that comes late, does not earn a burst:
    // keep at most a tenth of a second's worth (or one packet) in hand.
    PreparePending(now);
    if (!StreamActive())
        return out;
    if (m_nRate > 0)
        m_credit = std::min(m_credit, std::max(m_nRate / 10.0, static_cast<double>(m_pending.size())));
    for (;;) {
        PreparePending(now);
        if (m_pending.empty())
            break;
        const std::size_t left = out.size() < room ? room - out.size() : 0;
        const bool alone = out.empty() && room >= kLargeFrameRoom;
        if (m_pending.size() > left && !alone)
            break;
        if (m_nRate > 0 && m_credit < static_cast<double>(m_pending.size()))
            break;
        out.insert(out.end(), m_pending.begin(), m_pending.end());
        if (m_nRate > 0)
            m_credit -= static_cast<double>(m_pending.size());
        m_pending.clear();
        ++m_nLogPackets;
    }
    return out;
}

bool CVirtualModem::HeldAt(TimePoint now)
{
    if (m_bMasksTouched) {
        m_bMasksTouched = false;
        m_holdUntil = now + m_quiet;
    }
    return m_holdUntil && now < *m_holdUntil;
}

std::optional<std::chrono::nanoseconds> CVirtualModem::NextLogDue(TimePoint now)
{
    if (!StreamActive())
        return std::nullopt;
    if (HeldAt(now))
        return std::chrono::duration_cast<std::chrono::nanoseconds>(*m_holdUntil - now);
    if (m_nRate == 0)
        return std::nullopt;
    if (!m_streamStart)
        return std::chrono::nanoseconds(0);
    PreparePending(now);
    if (!StreamActive())
        return std::nullopt;
    double credit = m_credit;
    if (now > *m_lastPace)
        credit += std::chrono::duration<double>(now - *m_lastPace).count() * m_nRate;
    const double missing = static_cast<double>(m_pending.size()) - credit;
    if (missing <= 0)
        return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(static_cast<std::int64_t>(std::ceil(missing * 1e9 / m_nRate)));
}
