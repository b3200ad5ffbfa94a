// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/PcapWriter.h"

#include <array>
#include <fcntl.h>

#include "decode/Gsmtap.h"

namespace decode {

namespace {

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// The IPv4 header checksum: the one's complement of the one's complement sum of its words.
std::uint16_t Ipv4Checksum(std::span<const std::uint8_t> header)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < header.size(); i += 2)
        sum += static_cast<std::uint32_t>(header[i] << 8 | header[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

}  // namespace

void CPcapWriter::AppendFileHeader(std::vector<std::uint8_t>& out)
{
    PutLe32(out, 0xA1B2C3D4);   // microsecond timestamps, written little-endian
    out.insert(out.end(), {2, 0, 4, 0});   // version 2.4
    PutLe32(out, 0);            // time zone
    PutLe32(out, 0);            // accuracy
    PutLe32(out, 65535);        // snapshot length
    PutLe32(out, kLinkTypeIpv4);
}

void CPcapWriter::AppendRecord(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> gsmtap,
                               std::uint64_t unixMicros)
{
    const auto datagram = static_cast<std::uint32_t>(20 + 8 + gsmtap.size());
    PutLe32(out, static_cast<std::uint32_t>(unixMicros / 1000000));
    PutLe32(out, static_cast<std::uint32_t>(unixMicros % 1000000));
    PutLe32(out, datagram);
    PutLe32(out, datagram);
    const std::uint16_t udpLength = static_cast<std::uint16_t>(8 + gsmtap.size());
    // IPv4 from 127.0.0.1 to 127.0.0.1, don't fragment, TTL 64, UDP.
    std::array<std::uint8_t, 20> ip{0x45, 0x00, static_cast<std::uint8_t>(datagram >> 8),
                                    static_cast<std::uint8_t>(datagram), 0, 0, 0x40, 0x00, 64, 17, 0, 0,
                                    127, 0, 0, 1, 127, 0, 0, 1};
    const std::uint16_t checksum = Ipv4Checksum(ip);
    ip[10] = static_cast<std::uint8_t>(checksum >> 8);
    ip[11] = static_cast<std::uint8_t>(checksum);
    out.insert(out.end(), ip.begin(), ip.end());
    // UDP between GSMTAP ports; no checksum (allowed over IPv4).
    const std::array<std::uint8_t, 8> udp{gsmtap::kUdpPort >> 8, gsmtap::kUdpPort & 0xFF, gsmtap::kUdpPort >> 8,
                                          gsmtap::kUdpPort & 0xFF, static_cast<std::uint8_t>(udpLength >> 8),
                                          static_cast<std::uint8_t>(udpLength), 0, 0};
    out.insert(out.end(), udp.begin(), udp.end());
    out.insert(out.end(), gsmtap.begin(), gsmtap.end());
}

bool CPcapWriter::Open(const std::string& path, std::string* error)
{
    Close();
    m_path = path;
    m_lastError.clear();
    m_failed = false;
    m_written = 0;
    m_records = 0;
    m_fd.Reset(sysio::RetryEintr([&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); }));
    if (!m_fd.Valid()) {
        m_lastError = sysio::ErrnoText("open", errno);
        if (error)
            *error = m_lastError;
        return false;
    }
    std::vector<std::uint8_t> header;
    AppendFileHeader(header);
    if (!WriteOnce(header)) {
        if (error)
            *error = m_lastError;
        return false;
    }
    m_pending.reserve(kFlushAt + 2 * 65536);
    return true;
}

bool CPcapWriter::Add(std::span<const std::uint8_t> gsmtap, std::uint64_t unixMicros)
{
    if (!m_fd.Valid() || m_failed || gsmtap.size() > kMaxMessage)
        return false;
    AppendRecord(m_pending, gsmtap, unixMicros);
    ++m_records;
    return m_pending.size() < kFlushAt || Flush();
}

bool CPcapWriter::Flush()
{
    if (!m_fd.Valid() || m_failed)
        return false;
    if (m_pending.empty())
        return true;
    const bool ok = WriteOnce(m_pending);
    m_pending.clear();
    return ok;
}

// One write of whole records. A short one leaves part of a record behind:
// the file is cut back to the records before it, and it ends.
bool CPcapWriter::WriteOnce(std::span<const std::uint8_t> bytes)
{
    const ssize_t n = sysio::RetryEintr([&] { return ::write(m_fd.Get(), bytes.data(), bytes.size()); });
    if (n == static_cast<ssize_t>(bytes.size())) {
        m_written += bytes.size();
        return true;
    }
    const int error = n < 0 ? errno : ENOSPC;
    if (n > 0)
        (void)::ftruncate(m_fd.Get(), static_cast<off_t>(m_written));
    Fail(sysio::ErrnoText("write", error));
    return false;
}

void CPcapWriter::Fail(std::string reason)
{
    m_failed = true;
    m_lastError = std::move(reason);
    m_fd.Reset();
}

void CPcapWriter::Close()
{
    if (!m_fd.Valid())
        return;
    Flush();
    m_pending.clear();
    m_fd.Reset();
}

}  // namespace decode
