// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The reader's drain: everything the driver has queued is read in chunks of at
// most kMaxChunk bytes, and each chunk is handed over before the next read, so
// the reader never reads ahead of the window. The device is reached through
// IQueuedSource, which the reader backs with FIONREAD and a non-blocking read,
// and tests back with a scripted queue (a pty's line discipline never reports
// more than 4096 bytes queued).
#include "serial/SerialPlatform.h"
#include "serial/SerialPort.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>

class IQueuedSource {
public:
    virtual ~IQueuedSource() = default;
    virtual std::uint32_t Queued() = 0;
    virtual serialio::ReadOutcome Read(std::uint8_t* buffer, std::uint32_t count) = 0;
    // Lets the driver move what it has already received into the queue that
    // Queued counts (a tty pushes its receive buffers to the line discipline
    // in the background); never waits for the line.
    virtual void Settle() {}
    // Tops a chunk up with what came in since the last read, up to `room`
    // bytes, without waiting for the line. A device may do this in one
    // non-blocking read (a tty's read settles its buffers itself).
    virtual serialio::ReadOutcome ReadMore(std::uint8_t* buffer, std::uint32_t room);
};

// A tty's line discipline queues at most this many bytes. A read that took
// that many means the line runs faster than the window takes chunks: the
// chunk is then topped up with what the driver has received since, while it
// has room for another full read (so up to 2 x 4095 of kMaxChunk), before it
// is handed over, so a flood crosses to the window in
// half as many hand-overs. A shorter read goes over as it is, so a request
// that came alone stays a chunk of its own. Nothing is read ahead of the
// window either way: every byte read is in the chunk handed over next.
inline constexpr std::uint32_t kLineDisciplineFull = 4095;

// Reads min(maximum, queued) bytes; makes no read at all when nothing is queued.
serialio::ReadOutcome ReadQueuedFrom(IQueuedSource& source, std::uint8_t* buffer, std::uint32_t maximum);

// One chunk: a read of what is queued, topped up as above. Nothing read when
// nothing is queued.
serialio::ReadOutcome ReadChunk(IQueuedSource& source, std::span<std::uint8_t, kMaxChunk> chunk);

// Drains the source through `chunk`, calling deliver(chunk, n) for each chunk
// before reading the next (topped up as above). Stops when nothing is queued, when `run` is cleared
// or when the device went away. Returns true when the device went away.
bool DrainQueued(IQueuedSource& source, std::span<std::uint8_t, kMaxChunk> chunk,
                 const std::function<void(const std::uint8_t*, std::uint32_t)>& deliver, const std::atomic<int>& run);
