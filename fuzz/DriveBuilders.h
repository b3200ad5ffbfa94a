// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Drives the four mask command builders the way the configuration sequence
// does: the event report and one event mask, then log configs and message
// level packets until done. Each call must stay inside its room, give a packet
// whose header agrees with its length, and either move on or finish.
#include "FuzzCheck.h"
#include "logclient/MaskBuilders.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

inline void CheckPacket(std::span<const std::uint8_t> room, std::size_t length)
{
    FUZZ_CHECK(length <= room.size());
    if (length > 0)
        FUZZ_CHECK(dmcmd::PacketLengthFromHeader(room.first(length)) == length);
}

inline void DriveBuilders(std::string_view events, std::string_view logCodes, std::string_view otaTypes,
                          std::string_view levels, std::size_t roomSize)
{
    // Its own heap block, so a write past the room is caught.
    std::vector<std::uint8_t> room(roomSize);
    const std::span<std::uint8_t> out(room);

    CheckPacket(out, BuildEventReport(events, out));
    std::int32_t done = 0;
    CheckPacket(out, BuildEventMask(events, 0, out, &done));
    FUZZ_CHECK(done == 1);

    std::int32_t posA = 0, posB = 0;
    done = 0;
    for (int calls = 0; !done; ++calls) {
        const std::int32_t before = posA;
        CheckPacket(out, BuildLogConfig(logCodes, otaTypes, posA, posB, out, &done));
        FUZZ_CHECK(done || posA > before);
        FUZZ_CHECK(calls <= 16);
    }

    std::int32_t pos = 0;
    done = 0;
    for (int calls = 0; !done; ++calls) {
        const std::int32_t before = pos;
        CheckPacket(out, BuildExtMsgConfig(levels, pos, out, &done));
        FUZZ_CHECK(done || pos > before);
        FUZZ_CHECK(calls <= 0x10000);
    }
}
