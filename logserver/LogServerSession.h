// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CLogServerSession: the Log server without a window. A received request gets
// its canned reply queued with its own bytes; the driver takes the replies in
// request order later and sends them framed. A loaded log file is replayed as
// a resumable source of 1024-byte chunks written raw as the port takes them.
//
// No thread and no timer of its own; every call comes from the driver's thread.
#include "dm/FramedWriter.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <span>
#include <vector>

enum class ReplayState {
    Idle,       // no log loaded
    Running,    // chunks remain
    Done,       // every byte was taken
    Stalled,    // a chunk was not taken whole: the replay ended there
};

class CLogServerSession {
public:
    // A request chunk (taken as one raw frame): its reply, if it has one, is
    // queued. true when a reply was queued.
    bool OnReceived(std::span<const std::uint8_t> request);
    // The oldest queued reply, taken off the queue.
    std::optional<std::vector<std::uint8_t>> TakeReply();
    std::size_t QueuedReplies() const { return m_replies.size(); }
    // Frames and writes reply (at most the longest canned reply of it); 0 and
    // nothing written while a replay runs, so the replayed stream stays clean.
    std::size_t SendReply(std::span<const std::uint8_t> reply, IByteWriter& port) const;

    // Takes the loaded log for a replay; replies are held back until it ends.
    void StartReplay(std::vector<std::uint8_t> data);
    // Writes the next chunks, at most maxChunks of them, of the first `end`
    // bytes of the log. A chunk the port does not take whole ends the replay
    // (Stalled): going on would hand the peer a stream with holes, a wait per
    // chunk, while the driver stands still.
    ReplayState WriteReplay(IByteWriter& port, std::size_t end = std::numeric_limits<std::size_t>::max(),
                            std::size_t maxChunks = std::numeric_limits<std::size_t>::max());
    // Frees the log; replies go out again.
    void EndReplay();

    ReplayState State() const { return m_state; }
    std::size_t ReplayOffset() const { return m_offset; }
    const std::vector<std::uint8_t>& LogData() const { return m_pLogData; }
    // Nonzero while a replay runs: the window's designed flag, kept here.
    std::int32_t& ReplayingFlag() { return m_bReplaying; }

private:
    std::deque<std::vector<std::uint8_t>> m_replies;
    std::vector<std::uint8_t> m_pLogData;
    std::size_t m_offset = 0;
    ReplayState m_state = ReplayState::Idle;
    std::int32_t m_bReplaying = 0;
};
