// SPDX-License-Identifier: GPL-2.0-or-later
#include "logserver/LogServerSession.h"

#include "logserver/CannedReplies.h"
#include "logserver/LogReplay.h"

#include <algorithm>

bool CLogServerSession::OnReceived(std::span<const std::uint8_t> request)
{
    std::vector<std::uint8_t> reply = CannedReplyFor(request);
    if (reply.empty())
        return false;
    m_replies.push_back(std::move(reply));
    return true;
}

std::optional<std::vector<std::uint8_t>> CLogServerSession::TakeReply()
{
    if (m_replies.empty())
        return std::nullopt;
    std::vector<std::uint8_t> reply = std::move(m_replies.front());
    m_replies.pop_front();
    return reply;
}

std::size_t CLogServerSession::SendReply(std::span<const std::uint8_t> reply, IByteWriter& port) const
{
    if (m_bReplaying || reply.empty())
        return 0;
    return FrameAndWrite(port, reply.first(std::min<std::size_t>(reply.size(), kMaxCannedReply)));
}

void CLogServerSession::StartReplay(std::vector<std::uint8_t> data)
{
    m_pLogData = std::move(data);
    m_offset = 0;
    m_state = ReplayState::Running;
    m_bReplaying = 1;
}

ReplayState CLogServerSession::WriteReplay(IByteWriter& port, std::size_t end, std::size_t maxChunks)
{
    if (m_state != ReplayState::Running)
        return m_state;
    end = std::min(end, m_pLogData.size());
    // Chunks start at multiples of 1024 in the file, as a replay in one go writes them.
    for (std::size_t n = 0; n < maxChunks && m_offset < end; ++n) {
        const std::size_t length = std::min(kReplayChunkSize - m_offset % kReplayChunkSize, end - m_offset);
        const std::size_t taken = std::min(port.Write({m_pLogData.data() + m_offset, length}), length);
        m_offset += taken;
        if (taken != length) {
            m_state = ReplayState::Stalled;
            return m_state;
        }
    }
    if (m_offset >= end)
        m_state = ReplayState::Done;
    return m_state;
}

void CLogServerSession::EndReplay()
{
    m_pLogData = {};
    m_offset = 0;
    m_state = ReplayState::Idle;
    m_bReplaying = 0;
}
