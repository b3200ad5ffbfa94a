// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Log records of the signalling kinds, laid out field by field as the open
// DIAG decoders read them, for the GSMTAP tests, the fuzz corpus and the
// benchmark. Little-endian fields, as on the wire.
#include <cstdint>
#include <vector>

namespace signalling_records {

using Bytes = std::vector<std::uint8_t>;

inline void Le(Bytes& out, std::uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A 0x10 log record: cmd, more, length, length again, code, timestamp, payload.
inline Bytes LogRecord(std::uint16_t code, const Bytes& payload, std::uint64_t timestamp = 0)
{
    Bytes out{0x10, 0x00};
    const auto length = static_cast<std::uint16_t>(12 + payload.size());
    Le(out, length, 2);
    Le(out, length, 2);
    Le(out, code, 2);
    Le(out, timestamp, 8);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// LTE RRC OTA (0xB0C0) in each layout.
struct LteRrcFields {
    std::uint8_t version = 20;
    std::uint16_t pci = 0;
    std::uint32_t earfcn = 0;
    std::uint16_t sfnSubframe = 0;   // SFN << 4 | subframe
    std::uint8_t channel = 0;
    std::uint8_t segment = 0;        // from version 30
    Bytes pdu;
};

inline Bytes LteRrcPayload(const LteRrcFields& f)
{
    Bytes out{f.version, 0x0E, 0x30};                // version, RRC release major, minor
    if (f.version >= 25)
        out.insert(out.end(), {0x0F, 0x40});       // NR release major, minor
    out.push_back(0x00);                            // radio bearer
    Le(out, f.pci, 2);
    Le(out, f.earfcn, f.version >= 8 ? 4 : 2);
    Le(out, f.sfnSubframe, 2);
    out.push_back(f.channel);
    if (f.version >= 5)
        Le(out, 0, 4);                              // SIB mask
    Le(out, f.pdu.size(), 2);
    if (f.version >= 30)
        out.insert(out.end(), {0x00, 0x00, f.segment});
    out.insert(out.end(), f.pdu.begin(), f.pdu.end());
    return out;
}

// LTE NAS OTA (0xB0E0-0xB0ED): version 1, release 9.5.0, the PDU.
inline Bytes LteNasPayload(const Bytes& pdu, std::uint8_t version = 1)
{
    Bytes out{version, 9, 5, 0};
    out.insert(out.end(), pdu.begin(), pdu.end());
    return out;
}

// NR RRC OTA (0xB821) in each layout.
inline Bytes NrRrcPayload(std::uint32_t version, std::uint16_t pci, std::uint32_t arfcn, std::uint8_t channel,
                          const Bytes& pdu, std::uint8_t segment = 0)
{
    Bytes out;
    Le(out, version, 4);
    out.insert(out.end(), {0x0F, 0x40, 0x01});     // release major, minor, bearer
    Le(out, pci, 2);
    if (version >= 17)
        Le(out, 0x0123456789ABCDEFull, 8);         // NR CGI
    Le(out, arfcn, 4);
    Le(out, 0x0102, version == 9 ? 4 : 3);         // SFN
    out.push_back(channel);
    Le(out, 0, 4);                                  // SIB mask
    Le(out, pdu.size(), 2);
    if (version >= 19)
        out.push_back(0);
    if (version == 23 || version == 24 || version == 26 || version == 28)
        out.insert(out.end(), {0x00, 0x00, segment});
    out.insert(out.end(), pdu.begin(), pdu.end());
    return out;
}

}  // namespace signalling_records
