// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CPcapWriter: GSMTAP messages into a pcap file as the open DIAG clients
// write them (link type 228, raw IPv4: an IPv4 and a UDP header to port 4729
// before each GSMTAP message), so Wireshark dissects them as if they had
// been captured off the loopback.
//
// The file is a valid pcap at every moment a reader opens it: the file
// header goes out in one write at Open, and records are held in memory and
// written whole, never a part of one. A write that comes up short (a full
// disk) is cut back to the last whole record and ends the file.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sys/SysIo.h"

namespace decode {

class CPcapWriter {
public:
    static constexpr std::uint32_t kLinkTypeIpv4 = 228;
    static constexpr std::size_t kFileHeaderLength = 24;
    static constexpr std::size_t kRecordOverhead = 16 + 20 + 8;   // record header, IPv4, UDP
    // The longest GSMTAP message an IPv4 UDP datagram carries.
    static constexpr std::size_t kMaxMessage = 65535 - 20 - 8;
    // Records held before they are written.
    static constexpr std::size_t kFlushAt = 256 * 1024;

    CPcapWriter() = default;
    ~CPcapWriter() { Close(); }
    CPcapWriter(const CPcapWriter&) = delete;
    CPcapWriter& operator=(const CPcapWriter&) = delete;

    // Creates (or empties) path and writes the file header. false and why.
    bool Open(const std::string& path, std::string* error = nullptr);
    bool IsOpen() const { return m_fd.Valid(); }
    // One GSMTAP message (at most kMaxMessage bytes; a longer one is refused),
    // stamped unixMicros. false once the file has failed or for a refused one.
    bool Add(std::span<const std::uint8_t> gsmtap, std::uint64_t unixMicros);
    // Writes the whole records held. false once the file has failed.
    bool Flush();
    // Flushes and closes; a failed file keeps its whole records.
    void Close();

    const std::string& Path() const { return m_path; }
    const std::string& LastError() const { return m_lastError; }
    std::uint64_t Records() const { return m_records; }
    std::uint64_t BytesWritten() const { return m_written; }

    // The 24-byte file header and one record, as they are written.
    static void AppendFileHeader(std::vector<std::uint8_t>& out);
    static void AppendRecord(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> gsmtap,
                             std::uint64_t unixMicros);

private:
    bool WriteOnce(std::span<const std::uint8_t> bytes);
    void Fail(std::string reason);

    sysio::UniqueFd m_fd;
    std::string m_path;
    std::string m_lastError;
    std::vector<std::uint8_t> m_pending;
    std::uint64_t m_written = 0;
    std::uint64_t m_records = 0;
    bool m_failed = false;
};

}  // namespace decode
