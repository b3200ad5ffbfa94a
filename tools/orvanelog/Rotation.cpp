// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/orvanelog/Rotation.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kFlag = 0x7E;

}  // namespace

void CRotation::Started(Clock::time_point now)
{
    m_started = now;
    m_fileBytes = 0;
    m_endsWithFlag = false;
}

void CRotation::Wrote(std::span<const std::uint8_t> written)
{
    if (written.empty())
        return;
    m_fileBytes += written.size();
    m_endsWithFlag = written.back() == kFlag;
}

// Through the first flag of chunk; the whole chunk when it has none (the
// frame goes on).
CRotation::Cut CRotation::AtFirstFlag(std::span<const std::uint8_t> chunk) const
{
    const auto flag = std::find(chunk.begin(), chunk.end(), kFlag);
    if (flag == chunk.end())
        return {chunk.size(), false};
    return {static_cast<std::size_t>(flag - chunk.begin()) + 1, true};
}

CRotation::Cut CRotation::BySize(std::span<const std::uint8_t> chunk) const
{
    const std::uint64_t room = m_limits.bytes > m_fileBytes ? m_limits.bytes - m_fileBytes : 0;
    if (chunk.size() <= room)
        return {chunk.size(), false};
    // The last flag within the room.
    const auto within = chunk.first(static_cast<std::size_t>(room));
    const auto last = std::find(within.rbegin(), within.rend(), kFlag);
    if (last != within.rend())
        return {static_cast<std::size_t>(within.rend() - last), true};
    if (m_endsWithFlag)
        return {0, true};
    return AtFirstFlag(chunk);
}

CRotation::Cut CRotation::Next(std::span<const std::uint8_t> chunk, Clock::time_point now) const
{
    if (chunk.empty() || !Enabled())
        return {chunk.size(), false};
    if (m_limits.time.count() > 0 && now - m_started >= m_limits.time)
        return m_endsWithFlag ? Cut{0, true} : AtFirstFlag(chunk);
    if (m_limits.bytes > 0)
        return BySize(chunk);
    return {chunk.size(), false};
}
