// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The window's operating mode: the index of the checked mode radio.
#include <cstdint>

enum OperatingMode : std::int32_t {
    MODE_LOG_CLIENT = 0,
    MODE_DM_AT = 1,
    MODE_HEX = 2,
    MODE_ASCII = 3,
    MODE_LOG_SERVER = 4,
};
