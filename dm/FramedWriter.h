// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Frames a DM packet of any length and writes the frame through a writer.
//
// CHdlcFramer::Frame encodes into its fixed room of kHdlcFrameRoom bytes, so
// a long packet (an event mask of 8000 ids) or one dense in 0x7D/0x7E bytes
// would come out cut. Here the one encoder (CHdlcEncoder) fills a room of that
// size again and again and each piece is written as it is done, so every
// packet goes out as a whole frame; a packet whose frame fits one room is
// written with one call.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Where framed bytes go: a serial port, a test's buffer.
class IByteWriter {
public:
    virtual ~IByteWriter() = default;
    // Writes data; returns how many bytes were taken (fewer: the peer stalled
    // or the line is gone).
    virtual std::size_t Write(std::span<const std::uint8_t> data) = 0;
};

// A writer that keeps everything it is given.
class CByteSink : public IByteWriter {
public:
    std::size_t Write(std::span<const std::uint8_t> data) override
    {
        bytes.insert(bytes.end(), data.begin(), data.end());
        return data.size();
    }
    std::vector<std::uint8_t> bytes;
};

// The frame of packet as FrameAndWrite writes it, in one vector (an empty
// packet frames to 00 00 7E).
std::vector<std::uint8_t> FramePacket(std::span<const std::uint8_t> packet);

// Frames packet (escapes, FCS, closing flag) and writes the frame. Returns the
// bytes written: the whole frame, or fewer when a write was not taken whole
// (the rest of the frame is then not offered).
std::size_t FrameAndWrite(IByteWriter& out, std::span<const std::uint8_t> packet);
