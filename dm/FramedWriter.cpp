// SPDX-License-Identifier: GPL-2.0-or-later
#include "dm/FramedWriter.h"

#include "dm/HdlcFramer.h"

std::size_t FrameAndWrite(IByteWriter& out, std::span<const std::uint8_t> packet)
{
    CHdlcEncoder encoder(packet);
    std::array<std::uint8_t, kHdlcFrameRoom> room;
    std::size_t written = 0;
    while (!encoder.Done()) {
        const std::size_t n = encoder.Encode(room);
        if (n == 0)
            break;   // cannot happen with a room of two or more; never spin
        const std::size_t taken = out.Write({room.data(), n});
        written += taken;
        if (taken != n)
            break;
    }
    return written;
}

std::vector<std::uint8_t> FramePacket(std::span<const std::uint8_t> packet)
{
    // Every byte escaped, the two FCS bytes escaped, and the flag: the longest frame.
    std::vector<std::uint8_t> frame(2 * packet.size() + 5);
    frame.resize(HdlcFrameInto(packet, frame));
    return frame;
}
