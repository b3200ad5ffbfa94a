// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/RecordWorker.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace decode {

CRecordWorker::CRecordWorker(std::size_t maxPendingBytes, std::size_t maxPendingRecords)
    : m_maxPendingBytes(maxPendingBytes),
      m_maxPendingRecords(std::max<std::size_t>(maxPendingRecords, 1)),
      m_deframer(false),
      m_thread([this](std::stop_token stop) { Run(stop); })
{
}

CRecordWorker::~CRecordWorker()
{
    m_thread.request_stop();
    m_wake.notify_all();
}

bool CRecordWorker::Push(std::span<const std::uint8_t> chunk)
{
    if (chunk.empty())
        return true;
    {
        std::lock_guard lock(m_lock);
        if (m_pendingBytes + chunk.size() > m_maxPendingBytes) {
            // The worker is behind: this chunk is not read, and the frame it
            // cuts is not joined to the next chunk's bytes.
            m_ready.skippedBytes += chunk.size();
            m_resetStream = true;
            return false;
        }
        m_chunks.emplace_back(chunk.begin(), chunk.end());
        m_pendingBytes += chunk.size();
    }
    m_wake.notify_one();
    return true;
}

CRecordWorker::Batch CRecordWorker::Take()
{
    Batch batch;
    bool waiting = false;
    {
        std::lock_guard lock(m_lock);
        batch = std::exchange(m_ready, Batch{});
        waiting = m_waitingPackets > 0;
    }
    if (waiting)
        m_wake.notify_one();   // room again: the newest waiting packets decode now
    return batch;
}

void CRecordWorker::Reset()
{
    std::lock_guard lock(m_lock);
    m_chunks.clear();
    m_pendingBytes = 0;
    m_resetStream = true;
    m_dropWaiting = true;
    m_waitingPackets = 0;
    m_ready = Batch{};
}

void CRecordWorker::SetDatabase(std::shared_ptr<const CMessageDatabase> database)
{
    std::lock_guard lock(m_lock);
    m_database = std::move(database);
    m_databaseChanged = true;
}

bool CRecordWorker::Idle() const
{
    std::lock_guard lock(m_lock);
    return !m_busy && !HasWork();
}

// With the lock held. A reset waits for the next chunk: it is applied before
// anything else is read or decoded, and Reset already hid what it drops.
bool CRecordWorker::HasWork() const
{
    return !m_chunks.empty() || (m_waitingPackets > 0 && m_ready.records.size() < m_maxPendingRecords);
}

void CRecordWorker::Run(std::stop_token stop)
{
    std::unique_lock lock(m_lock);
    while (!stop.stop_requested()) {
        if (!m_wake.wait(lock, stop, [this] { return HasWork(); }))
            break;
        if (std::exchange(m_resetStream, false))
            m_deframer.Reset();
        if (std::exchange(m_dropWaiting, false)) {
            m_packets.clear();
            m_waitingPackets = 0;
        }
        if (std::exchange(m_databaseChanged, false))
            m_decoder.SetDatabase(m_database);
        // One chunk, then a turn of decoding: in a flood the worker neither
        // starves the view nor lets chunks pile up behind the decoder.
        if (!m_chunks.empty())
            ReadChunk(lock);
        if (m_waitingPackets > 0 && m_ready.records.size() < m_maxPendingRecords)
            DecodeWaiting(lock);
    }
}

void CRecordWorker::ReadChunk(std::unique_lock<std::mutex>& lock)
{
    const std::vector<std::uint8_t> chunk = std::move(m_chunks.front());
    m_chunks.pop_front();
    m_pendingBytes -= chunk.size();
    m_busy = true;
    lock.unlock();
    m_items.clear();
    m_deframer.Push(chunk, m_items);
    std::uint64_t messages = 0;
    std::uint64_t leftOut = 0;
    for (HdlcItem& item : m_items) {
        if (item.kind != HdlcItem::Kind::Frame)
            continue;
        messages += IsDebugMessage(item.data);
        m_packets.push_back(std::move(item.data));
        if (m_packets.size() > m_maxPendingRecords) {
            m_packets.pop_front();
            ++leftOut;
        }
    }
    lock.lock();
    m_busy = false;
    if (m_dropWaiting)
        return;   // a Reset came meanwhile: these packets belong to what was dropped
    m_ready.debugMessages += messages;
    m_ready.undecodedPackets += leftOut;
    m_waitingPackets = m_packets.size();
}

void CRecordWorker::DecodeWaiting(std::unique_lock<std::mutex>& lock)
{
    const std::size_t room = m_maxPendingRecords - m_ready.records.size();
    m_busy = true;
    lock.unlock();
    std::size_t used = 0;
    while (used < room && !m_packets.empty()) {
        used = m_decoder.Decode(m_packets.front(), m_records, used);
        m_packets.pop_front();
    }
    lock.lock();
    m_busy = false;
    if (m_dropWaiting)
        return;   // as above
    m_waitingPackets = m_packets.size();
    Hand(m_records, used);
}

// With the lock held: the first count of records go to the taker.
void CRecordWorker::Hand(std::vector<DecodedRecord>& records, std::size_t count)
{
    std::move(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(count),
              std::back_inserter(m_ready.records));
    if (m_ready.records.size() > m_maxPendingRecords) {
        const std::size_t excess = m_ready.records.size() - m_maxPendingRecords;
        m_ready.records.erase(m_ready.records.begin(), m_ready.records.begin() + static_cast<std::ptrdiff_t>(excess));
        m_ready.droppedRecords += excess;
    }
}

}  // namespace decode
