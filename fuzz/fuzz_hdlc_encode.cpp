// SPDX-License-Identifier: GPL-2.0-or-later
// The resumable HDLC encoder in random output rooms: every room is guarded on
// both sides (GuardedRoom.h), so a write outside it is caught, and the pieces put together
// must equal the frame of one call and FramePacket's. Byte 0: bFinal and the number of room
// sizes that follow; then the sizes; the rest is the packet.
#include "FuzzCheck.h"
#include "GuardedRoom.h"
#include "dm/FramedWriter.h"
#include "dm/HdlcFramer.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t kMaxRoom = 24;

// The reference is not what is fuzzed: no coverage feedback from it.
__attribute__((no_sanitize("coverage"))) std::uint16_t BitwiseFcs(const Bytes& data)
{
    std::uint16_t crc = 0xFFFF;
    for (unsigned char b : data) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : static_cast<std::uint16_t>(crc >> 1);
    }
    return static_cast<std::uint16_t>(~crc);
}

HdlcInput InputOver(Bytes& packet, unsigned char* none, std::int32_t final)
{
    if (packet.empty())
        return {none + 1, none, HDLC_START, final};   // used up from the start
    return {packet.data(), packet.data() + packet.size() - 1, HDLC_START, final};
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::int32_t final = (data[0] & 0x80) ? 0 : 1;
    const std::size_t nRooms = std::min<std::size_t>(data[0] % 16 + 1, size - 1);
    std::vector<std::size_t> roomSizes;
    for (std::size_t i = 0; i < nRooms; ++i)
        roomSizes.push_back(data[1 + i] % kMaxRoom + 1);
    if (roomSizes.empty())
        roomSizes.push_back(2);
    Bytes packet(data + 1 + nRooms, data + size);
    unsigned char none[2] = {};

    // One call with room for the longest frame the packet can give.
    Bytes reference(2 * packet.size() + 5);
    HdlcInput in = InputOver(packet, none, final);
    HdlcOutput out{reference.data(), reference.data() + reference.size() - 1, 0};
    HdlcEncode(&in, &out);
    reference.resize(static_cast<std::size_t>(out.pCur - reference.data()));
    FUZZ_CHECK(in.nState == HDLC_DONE);

    // The reference frame un-escapes to the packet and its FCS.
    Bytes plain;
    plain.reserve(reference.size());
    const std::size_t body = reference.size() - (final ? 1 : 0);
    FUZZ_CHECK(!final || reference.back() == 0x7E);
    for (std::size_t i = 0; i < body; ++i) {
        FUZZ_CHECK(reference[i] != 0x7E);
        if (reference[i] == 0x7D) {
            FUZZ_CHECK(++i < body);
            plain.push_back(static_cast<unsigned char>(reference[i] ^ 0x20));
        } else {
            plain.push_back(reference[i]);
        }
    }
    if (final) {
        const std::uint16_t fcs = BitwiseFcs(packet);
        FUZZ_CHECK(plain.size() == packet.size() + 2);
        FUZZ_CHECK(plain[packet.size()] == (fcs & 0xFF) && plain[packet.size() + 1] == (fcs >> 8));
        plain.resize(packet.size());
    }
    FUZZ_CHECK(plain == packet);

    // The same frame in pieces, each written into a room guarded on both sides.
    static CGuardedRoom<kMaxRoom> rooms;
    Bytes pieces;
    pieces.reserve(reference.size());
    in = InputOver(packet, none, final);
    out = HdlcOutput{nullptr, nullptr, 0};
    bool stalled = false;
    for (std::size_t call = 0; in.nState != HDLC_DONE; ++call) {
        // A room of one cannot take an escape pair: after a call that made no
        // progress the next room has two bytes at least.
        std::size_t room = roomSizes[call % roomSizes.size()];
        if (stalled)
            room = std::max<std::size_t>(room, 2);
        const std::span<unsigned char> area = rooms.Take(room);
        out.pCur = area.data();
        out.pLast = area.data() + room - 1;
        const unsigned char* const inBefore = in.pCur;
        const std::uint32_t stateBefore = in.nState;
        HdlcEncode(&in, &out);
        FUZZ_CHECK(out.pLast == area.data() + room - 1);
        FUZZ_CHECK(out.pCur >= area.data() && out.pCur <= area.data() + room);
        const auto n = static_cast<std::size_t>(out.pCur - area.data());
        pieces.insert(pieces.end(), area.begin(), area.begin() + static_cast<long>(n));
        const bool progress = n > 0 || in.pCur != inBefore || in.nState != stateBefore;
        FUZZ_CHECK(progress || room < 2);
        stalled = !progress;
        FUZZ_CHECK(call <= 4 * packet.size() + 16);
    }
    FUZZ_CHECK(pieces == reference);
    // The one encoder's vector form gives the same frame.
    FUZZ_CHECK(!final || FramePacket(packet) == reference);

    // Frame: the same bytes, cut at the 1024-byte room without splitting a pair.
    Bytes buffer(std::max<std::size_t>(packet.size(), kHdlcScratchSize));
    std::copy(packet.begin(), packet.end(), buffer.begin());
    CHdlcFramer framer;
    const int framed = framer.Frame(buffer.data(), static_cast<int>(packet.size()));
    if (final) {
        const auto f = static_cast<std::size_t>(framed);
        FUZZ_CHECK(f <= kHdlcScratchSize && f <= reference.size());
        FUZZ_CHECK(f == reference.size() || f + 1 >= kHdlcScratchSize);
        FUZZ_CHECK(std::equal(buffer.begin(), buffer.begin() + framed, reference.begin()));

        // A buffer of known size gets a frame cut to that size.
        const std::size_t small = roomSizes[0] * 3;
        Bytes sized(packet.begin(), packet.begin() + static_cast<long>(std::min(small, packet.size())));
        sized.resize(small);
        const int cut = framer.Frame(std::span<unsigned char>(sized), static_cast<int>(packet.size()));
        FUZZ_CHECK(cut >= 0 && static_cast<std::size_t>(cut) <= small);
        if (packet.size() <= small) {
            FUZZ_CHECK(static_cast<std::size_t>(cut) == std::min(reference.size(), small) ||
                       static_cast<std::size_t>(cut) + 1 == small);
            FUZZ_CHECK(std::equal(sized.begin(), sized.begin() + cut, reference.begin()));
        }
    }
    return 0;
}
