// SPDX-License-Identifier: GPL-2.0-or-later
// The framed writer against a reference framer and deframer written here bit
// by bit: any packet length goes out as one whole, well-formed frame.
#include "dm/FramedWriter.h"

#include "dm/HdlcFramer.h"
#include "support/DmFrames.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

// Undoes the escapes of one frame ending in its flag and checks its FCS;
// the packet, or nothing for a frame that is not well-formed.
std::optional<Bytes> Deframe(const Bytes& frame)
{
    if (frame.empty() || frame.back() != 0x7E)
        return std::nullopt;
    Bytes raw;
    for (std::size_t i = 0; i + 1 < frame.size(); ++i) {
        if (frame[i] == 0x7E)
            return std::nullopt;   // a bare flag inside the frame
        if (frame[i] == 0x7D) {
            if (i + 2 >= frame.size())
                return std::nullopt;
            raw.push_back(static_cast<std::uint8_t>(frame[++i] ^ 0x20));
        } else {
            raw.push_back(frame[i]);
        }
    }
    if (raw.size() < 2)
        return std::nullopt;
    const Bytes packet(raw.begin(), raw.end() - 2);
    const std::uint16_t fcs = ReferenceFcs(packet);
    if (raw[raw.size() - 2] != (fcs & 0xFF) || raw[raw.size() - 1] != (fcs >> 8))
        return std::nullopt;
    return packet;
}

// Takes at most `limit` bytes per call, and only `calls` calls.
class ChokingWriter : public IByteWriter {
public:
    ChokingWriter(std::size_t limit, std::size_t calls) : m_limit(limit), m_calls(calls) {}
    std::size_t Write(std::span<const std::uint8_t> data) override
    {
        if (m_calls == 0)
            return 0;
        --m_calls;
        const std::size_t n = std::min(data.size(), m_limit);
        bytes.insert(bytes.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
        sizes.push_back(data.size());
        return n;
    }
    Bytes bytes;
    std::vector<std::size_t> sizes;   // offered per call

private:
    std::size_t m_limit;
    std::size_t m_calls;
};

Bytes Repeat(std::initializer_list<std::uint8_t> pattern, std::size_t length)
{
    Bytes out;
    while (out.size() < length)
        for (std::uint8_t b : pattern)
            if (out.size() < length)
                out.push_back(b);
    return out;
}

TEST(FramedWriter, EveryLengthGoesOutWhole)
{
    struct Case {
        const char* name;
        Bytes packet;
        std::size_t calls;   // writes one frame takes
    };
    const Case cases[] = {
        {"empty packet: the FCS of nothing and the flag", {}, 1},
        {"DM AT command", {0x5E, 0x41, 0x54, 0x49, 0x0D}, 1},
        {"flag and escape in the data", {0x7E, 0x00, 0x7D, 0xFF}, 1},
        {"1021 plain bytes: the frame is exactly the framer's room", Bytes(1021, 0x11), 1},
        {"1022 plain bytes: one byte past it", Bytes(1022, 0x11), 2},
        {"escape-dense 526 bytes framed past the room", Repeat({0x7D, 0x7E}, 526), 2},
        {"a 2000-byte mask of 0x7E: three rooms", Bytes(2000, 0x7E), 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChokingWriter port(SIZE_MAX, SIZE_MAX);
        const std::size_t written = FrameAndWrite(port, c.packet);
        EXPECT_EQ(written, port.bytes.size());
        EXPECT_EQ(port.bytes, ReferenceFrame(c.packet));
        EXPECT_EQ(Deframe(port.bytes), c.packet);
        EXPECT_EQ(port.sizes.size(), c.calls);
        for (std::size_t n : port.sizes)
            EXPECT_LE(n, static_cast<std::size_t>(kHdlcScratchSize));
        EXPECT_EQ(FramePacket(c.packet), port.bytes);
    }
}

TEST(FramedWriter, StopsAtTheFirstWriteNotTakenWhole)
{
    struct Case {
        const char* name;
        std::size_t limit, calls;
        std::size_t written;
    };
    const Bytes packet(1500, 0x33);   // frame of 1503 bytes: a room of 1024, then the rest
    const Case cases[] = {
        {"the port takes nothing", SIZE_MAX, 0, 0},
        {"the port takes half of the first piece", 512, SIZE_MAX, 512},
        {"the port goes away after the first piece", SIZE_MAX, 1, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChokingWriter port(c.limit, c.calls);
        EXPECT_EQ(FrameAndWrite(port, packet), c.written);
        EXPECT_EQ(port.bytes.size(), c.written);
        EXPECT_LE(port.sizes.size(), 1u) << "nothing more is offered after a short write";
    }
}

}   // namespace
