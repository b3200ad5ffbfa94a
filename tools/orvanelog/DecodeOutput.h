// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// orvane-log --decode: the records of the bytes received, one line each
// (decode/RecordText.h) on the output stream, and their counts for the
// summary. A live run feeds it from the port's reader thread, --read from
// the file; one thread at a time feeds it, the counts may be read from any.
#include "decode/DiagDecoder.h"
#include "tools/orvanelog/Status.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

class CDecodeOutput {
public:
    CDecodeOutput(std::FILE* out, std::shared_ptr<const decode::CMessageDatabase> database);

    // HDLC bytes as received: every record they complete is written.
    void Feed(std::span<const std::uint8_t> chunk);
    // Records already decoded (one packet's): written and counted.
    void Write(std::span<const decode::DecodedRecord> records);
    // A new capture starts: a frame torn by the last one's end is dropped.
    void Reset();

    DecodeCounts Counts() const;

private:
    void Append(std::span<const decode::DecodedRecord> records);
    void Flush();

    std::FILE* m_out;
    decode::CRecordStream m_stream;
    std::string m_text;
    std::atomic<std::uint64_t> m_nRecords{0}, m_nMessages{0}, m_nMalformed{0};
};

// Reads a --qdb file; null and why when it is refused.
std::shared_ptr<const decode::CMessageDatabase> LoadMessageDatabase(const std::string& path, std::string* error);
