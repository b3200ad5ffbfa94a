// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Which port names have a device behind them, for a port list that tells the
// user where to look. The names themselves resolve as serial/SerialPlatform.h
// says (port directory first, then the fixed COM mapping).
#include <string>
#include <string_view>

namespace serialio {

// Where udev lists serial devices under stable names (the adapter's vendor,
// model and serial number), each a link to the ttyUSB/ttyACM node.
inline constexpr const char* kSerialByIdDir = "/dev/serial/by-id";

struct PortPresence {
    bool present = false;   // the name resolves to something that exists
    std::string device;     // the resolved device path, present or not
    std::string byId;       // the by-id link that points at the device, when one does
};

// Looks name up as Open would; byIdDir is searched for a link to the device.
PortPresence LookUpPort(std::string_view name, const std::string& byIdDir = kSerialByIdDir);

}  // namespace serialio
