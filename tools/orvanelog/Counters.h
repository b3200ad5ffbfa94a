#pragma once
// What orvane-log counts of the bytes it captures: bytes, frames, frames with
// a bad FCS, and frames per log code. A stand-in for the core's capture
// statistics until orvane-log is moved onto them; fed the same bytes that go
// to the capture file.
#include "logserver/HdlcDeframer.h"

#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

class CCaptureCounters {
public:
    void Feed(std::span<const std::uint8_t> bytes);

    std::uint64_t Bytes() const { return m_bytes; }
    std::uint64_t Frames() const { return m_deframer.GoodFrames(); }
    std::uint64_t BadFrames() const { return m_deframer.BadFrames(); }
    std::size_t DistinctCodes() const { return m_codes.size(); }
    // The n most frequent log codes, most first (ties: lower code first).
    std::vector<std::pair<std::uint16_t, std::uint64_t>> TopCodes(std::size_t n) const;
    // A new capture starts mid-stream: a frame torn by the reconnect is not
    // joined to the next one.
    void NewStream() { m_deframer.Reset(); }

private:
    CHdlcDeframer m_deframer;
    std::vector<HdlcItem> m_items;
    std::uint64_t m_bytes = 0;
    std::map<std::uint16_t, std::uint64_t> m_codes;
};
