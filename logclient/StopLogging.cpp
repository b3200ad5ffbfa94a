// SPDX-License-Identifier: GPL-2.0-or-later
#include "logclient/StopLogging.h"

#include "dm/DmCommand.h"

namespace {
constexpr std::array<std::uint8_t, 8> kLogMasksOff = {dm::kLogConfig, 0x00, 0x00, 0x00, dm::kLogOpDisable, 0x00, 0x00, 0x00};
constexpr std::array<std::uint8_t, 2> kEventsOff = {dm::kEventReport, 0x00};
constexpr std::array<std::uint8_t, 8> kMessagesOff = {dm::kExtMsgConfig, dm::kMsgSetAll, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
}  // namespace

const std::array<StopLoggingPacket, 3>& StopLoggingPackets()
{
    static const std::array<StopLoggingPacket, 3> kPackets = {{
        {"log masks off", kLogMasksOff},
        {"event reporting off", kEventsOff},
        {"message levels 0", kMessagesOff},
    }};
    return kPackets;
}
