// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/RecordWorker.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace decode {

CRecordWorker::CRecordWorker(std::size_t maxPendingBytes, std::size_t maxPendingRecords)
    : m_maxPendingBytes(maxPendingBytes),
      m_maxPendingRecords(maxPendingRecords),
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
            // The decoder is behind: this chunk is not decoded, and the frame
            // it cuts is not joined to the next chunk's bytes.
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
    std::lock_guard lock(m_lock);
    return std::exchange(m_ready, Batch{});
}

void CRecordWorker::Reset()
{
    std::lock_guard lock(m_lock);
    m_chunks.clear();
    m_pendingBytes = 0;
    m_resetStream = true;
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
    return m_chunks.empty() && !m_busy;
}

void CRecordWorker::Run(std::stop_token stop)
{
    std::vector<DecodedRecord> records;
    std::vector<std::uint8_t> chunk;
    std::unique_lock lock(m_lock);
    while (!stop.stop_requested()) {
        if (!m_wake.wait(lock, stop, [this] { return !m_chunks.empty(); }))
            break;
        chunk = std::move(m_chunks.front());
        m_chunks.pop_front();
        m_pendingBytes -= chunk.size();
        if (std::exchange(m_resetStream, false))
            m_stream.Reset();
        if (std::exchange(m_databaseChanged, false))
            m_stream.Decoder().SetDatabase(m_database);
        m_busy = true;
        lock.unlock();
        DecodeOne(chunk, records);
        lock.lock();
        m_busy = false;
        if (m_resetStream)
            continue;   // a Reset came meanwhile: these records belong to what was dropped
        for (DecodedRecord& record : records) {
            m_ready.debugMessages += record.kind == RecordKind::Message || record.kind == RecordKind::Terse;
            m_ready.records.push_back(std::move(record));
        }
        if (m_ready.records.size() > m_maxPendingRecords) {
            const std::size_t excess = m_ready.records.size() - m_maxPendingRecords;
            m_ready.records.erase(m_ready.records.begin(), m_ready.records.begin() + static_cast<std::ptrdiff_t>(excess));
            m_ready.droppedRecords += excess;
        }
    }
}

// Worker thread, without the lock.
void CRecordWorker::DecodeOne(std::vector<std::uint8_t>& chunk, std::vector<DecodedRecord>& records)
{
    records.clear();
    m_stream.Push(chunk, records);
}

}  // namespace decode
