// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The serial port as the core's byte writer: the framed writer and the replay
// write through it. Window thread.
#include "dm/FramedWriter.h"
#include "serial/SerialPort.h"

#include <algorithm>
#include <cstdint>

class CPortWriter final : public IByteWriter {
public:
    explicit CPortWriter(CSerialPort& port) : m_port(port) {}
    std::size_t Write(std::span<const std::uint8_t> data) override
    {
        const int n = m_port.Write(data.data(), static_cast<int>(std::min<std::size_t>(data.size(), INT32_MAX)));
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }

private:
    CSerialPort& m_port;
};
