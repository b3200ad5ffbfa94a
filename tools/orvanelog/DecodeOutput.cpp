// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/orvanelog/DecodeOutput.h"

#include "decode/RecordText.h"

CDecodeOutput::CDecodeOutput(std::FILE* out, std::shared_ptr<const decode::CMessageDatabase> database)
    : m_out(out), m_stream(std::move(database))
{
}

void CDecodeOutput::Feed(std::span<const std::uint8_t> chunk)
{
    m_text.clear();
    m_stream.Push(chunk, [this](std::span<const std::uint8_t>, std::span<const decode::DecodedRecord> records) {
        Append(records);
    });
    Flush();
}

void CDecodeOutput::Write(std::span<const decode::DecodedRecord> records)
{
    m_text.clear();
    Append(records);
    Flush();
}

void CDecodeOutput::Append(std::span<const decode::DecodedRecord> records)
{
    std::uint64_t messages = 0, malformed = 0;
    for (const decode::DecodedRecord& r : records) {
        m_text += decode::FormatRecordLine(r);
        m_text += '\n';
        messages += r.kind == decode::RecordKind::Message || r.kind == decode::RecordKind::Terse;
        malformed += r.kind == decode::RecordKind::Malformed;
    }
    m_nRecords += records.size();
    m_nMessages += messages;
    m_nMalformed += malformed;
}

// One write per chunk: the lines of a chunk reach the stream together.
void CDecodeOutput::Flush()
{
    if (m_text.empty())
        return;
    std::fwrite(m_text.data(), 1, m_text.size(), m_out);
    std::fflush(m_out);
}

void CDecodeOutput::Reset()
{
    m_stream.Reset();
}

DecodeCounts CDecodeOutput::Counts() const
{
    return {m_nRecords.load(), m_nMessages.load(), m_nMalformed.load()};
}

std::shared_ptr<const decode::CMessageDatabase> LoadMessageDatabase(const std::string& path, std::string* error)
{
    auto database = std::make_shared<decode::CMessageDatabase>();
    if (!database->Load(path, error))
        return nullptr;
    return database;
}
