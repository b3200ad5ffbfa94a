// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CRecordWorker: decodes received bytes on a thread of its own, so that a
// flood costs the thread that reads the port one copy of each chunk and
// nothing per record. The reader pushes chunks; whoever shows the records
// takes them in batches (the window: at most 30 times a second).
//
// The capture never waits for the decoder: bytes beyond kMaxPendingBytes are
// skipped for decoding (counted, and the stream starts again at the next
// frame), and records beyond kMaxPendingRecords are dropped oldest first,
// as a view of the newest rows would drop them anyway.
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "decode/DiagDecoder.h"

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
        std::uint64_t debugMessages = 0;      // extended and terse messages among them
        std::uint64_t skippedBytes = 0;       // not decoded since the last Take: the decoder was behind
        std::uint64_t droppedRecords = 0;     // decoded but dropped since the last Take
    };

    // Any thread: a copy of chunk for decoding; false when it was skipped.
    bool Push(std::span<const std::uint8_t> chunk);
    // Any thread: what was decoded since the last call.
    Batch Take();
    // Any thread: drops what waits and a partly received frame (connect, disconnect).
    void Reset();
    // Any thread: the database for terse messages, from the next chunk on.
    void SetDatabase(std::shared_ptr<const CMessageDatabase> database);
    // Any thread: true once every pushed byte has been decoded (for tests and flushing).
    bool Idle() const;

private:
    void Run(std::stop_token stop);
    void DecodeOne(std::vector<std::uint8_t>& chunk, std::vector<DecodedRecord>& records);

    const std::size_t m_maxPendingBytes;
    const std::size_t m_maxPendingRecords;
    mutable std::mutex m_lock;
    std::condition_variable_any m_wake;
    std::deque<std::vector<std::uint8_t>> m_chunks;   // waiting for the worker
    std::size_t m_pendingBytes = 0;
    bool m_busy = false;                                // the worker holds a chunk
    bool m_resetStream = false;                         // the worker resets its stream first
    std::shared_ptr<const CMessageDatabase> m_database;
    bool m_databaseChanged = false;
    Batch m_ready;                                      // decoded, not yet taken
    CRecordStream m_stream;                             // the worker's alone
    std::jthread m_thread;                              // last: it starts once the rest exists
};

}  // namespace decode
