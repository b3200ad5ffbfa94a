// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CRecordWorker: decodes received bytes on a thread of its own, so that a
// flood costs the thread that reads the port one copy of each chunk and
// nothing per record. The reader pushes chunks; whoever shows the records
// takes them in batches (the window: at most 30 times a second).
//
// Decoding is bounded by what is taken, not by what arrives: the worker
// deframes every chunk (cheap) and counts its debug messages, but decodes a
// packet only while fewer than maxPendingRecords records wait to be taken.
// Packets that arrive meanwhile wait undecoded, the newest maxPendingRecords
// of them; older ones are left out, counted. A taker that takes N records a
// turn so has the decoder decode about N packets a turn, however fast the
// port floods; at an ordinary rate nothing waits and every packet decodes.
//
// The capture never waits for the decoder: bytes beyond maxPendingBytes are
// skipped for decoding (counted, and the stream starts again at the next
// frame).
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "decode/DiagDecoder.h"
#include "dm/HdlcDeframer.h"

namespace decode {

class CRecordWorker {
public:
    static constexpr std::size_t kMaxPendingBytes = std::size_t{8} << 20;
    static constexpr std::size_t kMaxPendingRecords = 100000;

    explicit CRecordWorker(std::size_t maxPendingBytes = kMaxPendingBytes,
                           std::size_t maxPendingRecords = kMaxPendingRecords);
    ~CRecordWorker();
    CRecordWorker(const CRecordWorker&) = delete;
    CRecordWorker& operator=(const CRecordWorker&) = delete;

    struct Batch {
        std::vector<DecodedRecord> records;   // oldest first
        std::uint64_t debugMessages = 0;      // extended and terse messages received, decoded or not
        std::uint64_t skippedBytes = 0;       // not read since the last Take: the worker was behind
        std::uint64_t undecodedPackets = 0;   // good frames left out undecoded: the taker was behind
        std::uint64_t droppedRecords = 0;     // decoded but dropped over the cap (a packet of many records)
    };

    // Any thread: a copy of chunk for decoding; false when it was skipped.
    bool Push(std::span<const std::uint8_t> chunk);
    // Any thread: what was decoded since the last call; the worker then
    // decodes what waits, up to the cap.
    Batch Take();
    // Any thread: drops what waits and a partly received frame (connect, disconnect).
    void Reset();
    // Any thread: the database for terse messages, from the next packet on.
    void SetDatabase(std::shared_ptr<const CMessageDatabase> database);
    // Any thread: true when the worker has nothing to do until the next Push
    // or Take (every pushed byte read, and every waiting packet decoded or
    // waiting for room). For tests and flushing.
    bool Idle() const;

private:
    void Run(std::stop_token stop);
    bool HasWork() const;
    // Worker thread, called and returning with the lock held.
    void ReadChunk(std::unique_lock<std::mutex>& lock);
    void DecodeWaiting(std::unique_lock<std::mutex>& lock);
    void Hand(std::vector<DecodedRecord>& records, std::size_t count);

    const std::size_t m_maxPendingBytes;
    const std::size_t m_maxPendingRecords;
    mutable std::mutex m_lock;
    std::condition_variable_any m_wake;
    std::deque<std::vector<std::uint8_t>> m_chunks;   // waiting for the worker
    std::size_t m_pendingBytes = 0;
    std::size_t m_waitingPackets = 0;                   // m_packets.size(), for the other threads
    bool m_busy = false;                                // the worker works without the lock
    bool m_resetStream = false;                         // the worker restarts its deframer first
    bool m_dropWaiting = false;                         // ... and drops the packets that wait
    std::shared_ptr<const CMessageDatabase> m_database;
    bool m_databaseChanged = false;
    Batch m_ready;                                      // decoded, not yet taken

    // The worker's alone.
    CHdlcDeframer m_deframer;
    CDiagDecoder m_decoder;
    std::vector<HdlcItem> m_items;
    std::vector<DecodedRecord> m_records;              // decoded, their storage reused
    std::deque<std::vector<std::uint8_t>> m_packets;    // good frames waiting to be decoded, oldest first
    std::jthread m_thread;                              // last: it starts once the rest exists
};

}  // namespace decode
