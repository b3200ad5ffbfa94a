#include "dm/FramedWriter.h"

#include "dm/HdlcFramer.h"

std::size_t FrameAndWrite(IByteWriter& out, std::span<const std::uint8_t> packet)
{
    // HdlcEncode only reads its input; its descriptor is not const-qualified.
    auto* const first = const_cast<unsigned char*>(packet.data());
    unsigned char none = 0;
    HdlcInput in{};
    if (packet.empty()) {
        // An empty packet is "already used up": one past its last byte.
        in.pCur = &none + 1;
        in.pLast = &none;
    } else {
        in.pCur = first;
        in.pLast = first + (packet.size() - 1);
    }
    in.nState = HDLC_START;
    in.bFinal = 1;

    std::array<unsigned char, kHdlcScratchSize> room{};
    HdlcOutput o{nullptr, nullptr, 0};
    std::size_t written = 0;
    while (in.nState != HDLC_DONE) {
        o.pCur = room.data();
        o.pLast = room.data() + (room.size() - 1);
        HdlcEncode(&in, &o);
        const auto n = static_cast<std::size_t>(o.pCur - room.data());
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
    CByteSink sink;
    FrameAndWrite(sink, packet);
    return std::move(sink.bytes);
}
