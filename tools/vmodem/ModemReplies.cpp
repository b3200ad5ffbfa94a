// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/vmodem/ModemReplies.h"

#include "dm/DmCommand.h"

#include <array>
#include <string_view>
#include <vector>

#ifndef ORVANE_VERSION
#define ORVANE_VERSION "0"
#endif

namespace vmreply {
namespace {

std::vector<std::uint8_t> Text(std::string_view s) { return {s.begin(), s.end()}; }

void Append(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& more) { out.insert(out.end(), more.begin(), more.end()); }

// The Log server's version reply, with its dates in the fixed-width forms
// clients print as they are ("Oct 27 2008", "12:00:00") and its version
// directory padded with blanks instead of a NUL.
std::vector<std::uint8_t> BuildVersion()
{
    std::vector<std::uint8_t> r{dm::kVersionInfo};
    Append(r, Text("Oct 27 2008"));
    Append(r, Text("12:00:00"));
    Append(r, Text("Oct 27 2008"));
    Append(r, Text("12:00:00"));
    Append(r, Text("SKTM    "));
    Append(r, {0x00, 0x00, 0xD1, 0x00, 0x00, 0x00, 0x00, 0xC0});
    return r;
}

// The Log server's hardware version (0x200C00E1) and model (0xD1), followed
// by the two texts clients read up to their NULs.
std::vector<std::uint8_t> BuildExtBuildId()
{
    std::vector<std::uint8_t> r{dm::kExtBuildId, 0x02, 0x00, 0x00, 0xE1, 0x00, 0x0C, 0x20, 0xD1, 0x00, 0x00, 0x00};
    Append(r, Text("ORVANE.VMODEM." ORVANE_VERSION));
    r.push_back(0);
    Append(r, Text("orvane-vmodem"));
    r.push_back(0);
    return r;
}

}  // namespace

std::span<const std::uint8_t> OwnReply(std::uint8_t command)
{
    static const std::vector<std::uint8_t> kVersion = BuildVersion();
    static const std::vector<std::uint8_t> kExtBuildId = BuildExtBuildId();
    switch (command) {
    case dm::kVersionInfo:
        return kVersion;
    case dm::kExtBuildId:
        return kExtBuildId;
    default:
        return {};
    }
}

}  // namespace vmreply
