// SPDX-License-Identifier: GPL-2.0-or-later
#include "serial/ReaderDrain.h"

#include <algorithm>

serialio::ReadOutcome IQueuedSource::ReadMore(std::uint8_t* buffer, std::uint32_t room)
{
    Settle();
    return ReadQueuedFrom(*this, buffer, room);
}

serialio::ReadOutcome ReadQueuedFrom(IQueuedSource& source, std::uint8_t* buffer, std::uint32_t maximum)
{
    const std::uint32_t count = std::min(maximum, source.Queued());
    if (count == 0)
        return {};
    return source.Read(buffer, count);
}

// Topped up while each read took a full line-discipline buffer and the chunk
// has room for another (a read for the last few bytes costs more than it saves).
serialio::ReadOutcome ReadChunk(IQueuedSource& source, std::span<std::uint8_t, kMaxChunk> chunk)
{
    constexpr auto kRoom = static_cast<std::uint32_t>(kMaxChunk);
    serialio::ReadOutcome got = ReadQueuedFrom(source, chunk.data(), kRoom);
    std::uint32_t last = got.count;
    while (!got.gone && last >= kLineDisciplineFull && kRoom - got.count >= kLineDisciplineFull) {
        const serialio::ReadOutcome more = source.ReadMore(chunk.data() + got.count, kRoom - got.count);
        last = more.count;
        got.count += more.count;
        got.gone = more.gone;
    }
    return got;
}

bool DrainQueued(IQueuedSource& source, std::span<std::uint8_t, kMaxChunk> chunk,
                 const std::function<void(const std::uint8_t*, std::uint32_t)>& deliver, const std::atomic<int>& run)
{
    while (run.load()) {
        const serialio::ReadOutcome got = ReadChunk(source, chunk);
        if (got.count > 0)
            deliver(chunk.data(), got.count);
        if (got.gone)
            return true;
        if (got.count == 0)
            return false;
    }
    return false;
}
