// SPDX-License-Identifier: GPL-2.0-or-later
// The mask command builders on arbitrary lists. The input holds the EventIDs,
// LogCodes, OTATypes and MessageLevels texts separated by NUL bytes; each set
// of lists runs in the sequence's 1024-byte room and in a small room picked
// by the last byte.
#include "DriveBuilders.h"

#include <array>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::array<std::string_view, 4> lists{};
    for (auto& list : lists) {
        const std::size_t end = rest.find('\0');
        list = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    }
    DriveBuilders(lists[0], lists[1], lists[2], lists[3], kMaskPacketRoom);
    const std::size_t small = size > 0 ? data[size - 1] % 64 : 0;
    DriveBuilders(lists[0], lists[1], lists[2], lists[3], small);
    return 0;
}
