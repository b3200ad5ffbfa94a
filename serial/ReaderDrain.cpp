#include "serial/ReaderDrain.h"

#include <algorithm>

serialio::ReadOutcome ReadQueuedFrom(IQueuedSource& source, std::uint8_t* buffer, std::uint32_t maximum)
{
    const std::uint32_t count = std::min(maximum, source.Queued());
    if (count == 0)
        return {};
    return source.Read(buffer, count);
}

bool DrainQueued(IQueuedSource& source, std::span<std::uint8_t, kMaxChunk> chunk,
                 const std::function<void(const std::uint8_t*, std::uint32_t)>& deliver, const std::atomic<int>& run)
{
    while (run.load()) {
        const serialio::ReadOutcome got =
            ReadQueuedFrom(source, chunk.data(), static_cast<std::uint32_t>(chunk.size()));
        if (got.count > 0)
            deliver(chunk.data(), got.count);
        if (got.gone)
            return true;
        if (got.count == 0)
            return false;
    }
    return false;
}
