// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CCommMailbox: the one hand-over from the reader thread to the window's
// thread. The reader puts a message in (a chunk as a span, a line event, or
// the device-gone notice) and signals the wake descriptor; the window watches
// that descriptor (a QSocketNotifier in the dialog, poll in tests) and calls
// RunPending with its handler. A chunk or line event is synchronous: the
// reader waits until the handler has returned, so each chunk is handled
// before the next read and nothing is read ahead of the window. The gone
// notice is posted: the reader ends without waiting for it.
//
// Cancel (Close) releases a waiting reader at once and refuses every later
// message of that connection, so the window may join the reader without
// either thread waiting on the other. No Qt, no window state: the handler is
// whatever the window passes in.
#include "serial/SerialPlatform.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>

// One message of the reader, as the window's handler gets it.
struct CommMessage {
    unsigned message = 0;                  // WM_COMM_RXCHAR, WM_COMM_EVENT or WM_COMM_GONE
    std::span<const std::uint8_t> chunk;   // WM_COMM_RXCHAR: the received bytes, valid during the handler
    std::uint32_t eventMask = 0;           // WM_COMM_EVENT: the line events
};

// The window that the reader's messages are for. Window thread.
class ISerialNotify {
public:
    virtual ~ISerialNotify() = default;
    virtual void OnCommMessage(const CommMessage& message) = 0;
};

// The rest of a burst of received data, read on the window's thread while
// the reader is still held by the burst's first chunk (see RunPending).
class IBurstSource {
public:
    virtual ~IBurstSource() = default;
    // The next chunk (valid until the next call), or empty when nothing more
    // came in time or the device cannot be read: the burst then ends.
    virtual std::span<const std::uint8_t> ReadNext() = 0;
};

class CCommMailbox {
public:
    CCommMailbox();
    CCommMailbox(const CCommMailbox&) = delete;
    CCommMailbox& operator=(const CCommMailbox&) = delete;

    // The descriptor that turns readable when a message waits; -1 (and the
    // reason in WakeError) when it could not be created.
    int WakeFd() const { return m_wake.Fd(); }
    const serialio::SysError& WakeError() const { return m_wakeError; }

    // Window thread: a new connection; its reader's messages are accepted.
    void Open();
    // Window thread: releases a waiting reader, drops a pending message and
    // refuses the rest of this connection's messages until the next Open.
    void Cancel();
    // Window thread: takes back the wake-up and runs `handler` for the
    // message that waits, if any, then releases the reader. Returns whether
    // the handler ran. A call from inside the handler (a nested event loop)
    // finds nothing: a message is handled once.
    //
    // With a burst source, a received chunk is followed by the chunks the
    // source reads on this thread, each handled before the next read, while
    // the reader stays held (so only one thread reads the device), for at
    // most kBurstBudget; then the reader is released and carries on. A flood
    // then costs no thread switch per chunk. The burst ends at once when a
    // handler closes the port (Cancel).
    bool RunPending(ISerialNotify& handler, IBurstSource* burst = nullptr);

    // The longest one RunPending keeps reading a burst before the window
    // returns to its other events (input, timers, repaints).
    static constexpr std::chrono::milliseconds kBurstBudget{8};

    // Any thread: a message waits for the window (the reader is held).
    bool Waiting() const;

    // Reader thread: hands `message` over and waits until the window has run
    // it or Cancel released us. false when refused or cancelled.
    bool Send(const CommMessage& message);
    // Reader thread: posts the gone notice without waiting.
    void PostGone();

private:
    enum class Slot : std::uint8_t { Empty, Waiting, Running };

    // Reads and handles the rest of a burst while the slot of `ticket` runs.
    void RunBurst(ISerialNotify& handler, IBurstSource& burst, std::uint64_t ticket);
    // The slot of `ticket` still runs: no Cancel (a handler's Close) came.
    bool StillRunning(std::uint64_t ticket) const;

    serialio::WakeEvent m_wake;
    serialio::SysError m_wakeError;
    mutable std::mutex m_lock;
    std::condition_variable m_released;
    CommMessage m_message;
    Slot m_slot = Slot::Empty;
    std::uint64_t m_ticket = 0;       // of the message in the slot
    std::uint64_t m_nextTicket = 1;
    bool m_cancelled = true;          // no connection yet
    bool m_gone = false;              // the gone notice waits
};
