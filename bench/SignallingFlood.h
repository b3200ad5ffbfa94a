// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A modem's signalling as the benchmarks send it: framed LTE RRC and NAS log
// records, the mix of channels and sizes a cell search and attach give, each
// one a GSMTAP message. At least `size` bytes, ending on a whole frame.
#include "support/DmFrames.h"
#include "support/SignallingRecords.h"

#include <cstdint>
#include <iterator>
#include <random>

namespace benchrig {

inline Bytes SignallingFlood(std::size_t size)
{
    using namespace signalling_records;
    std::mt19937 rng(7);
    // Version 20 channels: BCCH-DL-SCH most, then the connection's own.
    const std::uint8_t channels[] = {2, 2, 2, 2, 1, 5, 6, 7, 8, 9};
    Bytes capture;
    capture.reserve(size + 4096);
    for (std::uint64_t n = 0; capture.size() < size; ++n) {
        Bytes pdu(8 + rng() % 150);
        for (auto& b : pdu)
            b = static_cast<std::uint8_t>(rng());
        Bytes record;
        if (n % 10 == 9) {
            record = LogRecord(n % 20 == 9 ? 0xB0EC : 0xB0ED, LteNasPayload(pdu), n << 16);
        } else {
            LteRrcFields f;
            f.channel = channels[n % std::size(channels)];
            f.earfcn = 2050;
            f.pci = 3;
            f.sfnSubframe = static_cast<std::uint16_t>(n);
            f.pdu = std::move(pdu);
            record = LogRecord(0xB0C0, LteRrcPayload(f), n << 16);
        }
        const Bytes frame = ReferenceFrame(record);
        capture.insert(capture.end(), frame.begin(), frame.end());
    }
    return capture;
}

}  // namespace benchrig
