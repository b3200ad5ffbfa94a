// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CCaptureStream: the log records of a capture, played again and again.
//
// A capture is a raw DIAG stream as it came off a modem's line (a .qmdl file,
// or a capture file of Orvane's Log client): HDLC frames, each with its FCS.
// Only log records (command 0x10) whose lengths agree with their frame are
// played; replies, events, messages and broken frames are skipped. The file is
// read a chunk at a time and from the start again at its end, so a capture of
// any size streams in little memory.
#include "dm/HdlcDeframer.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CCaptureStream {
public:
    // Opens a capture file; nullptr with `error` set when it cannot be read.
    static std::unique_ptr<CCaptureStream> Open(const std::string& path, std::string& error);
    // A capture held in memory.
    static std::unique_ptr<CCaptureStream> FromBytes(std::vector<std::uint8_t> bytes);

    // The next log record (unframed, as captured) whose code `wanted` accepts,
    // going round the capture; nothing when a whole round finds none.
    std::optional<std::vector<std::uint8_t>> Next(const std::function<bool(std::uint16_t)>& wanted);

    // How often the capture has been played to its end.
    std::uint64_t Rounds() const { return m_nRounds; }

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    CCaptureStream() = default;
    // Reads on until at least one record is pending; false at the end of the capture.
    bool ReadMore();
    void Rewind();

    std::unique_ptr<std::FILE, FileCloser> m_file;
    std::vector<std::uint8_t> m_bytes;          // a capture held in memory
    std::size_t m_nPos = 0;                     // next unread byte of m_bytes
    CHdlcDeframer m_deframer;
    std::deque<std::vector<std::uint8_t>> m_records;
    std::uint64_t m_nRounds = 0;
};
