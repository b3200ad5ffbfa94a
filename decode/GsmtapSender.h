// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CGsmtapSender: GSMTAP messages as UDP datagrams, one message a datagram,
// to a host and port (Wireshark or tshark listening there shows them live).
// Sending never blocks; a datagram the system refuses (nobody listening on
// the loopback, a full socket buffer) is counted, not retried.
//
// Queued messages go out together in one system call (sendmmsg) at Flush:
// a signalling flood brings hundreds of thousands of messages a second, and
// a call each costs more than the datagram.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <sys/socket.h>

#include "sys/SysIo.h"

namespace decode {

struct GsmtapTarget {
    std::string host = "127.0.0.1";
    std::uint16_t port = 4729;
};

// "HOST", "HOST:PORT", "[IPv6]:PORT" or empty (the default target). false and
// why when the port is not a number from 1 to 65535.
bool ParseGsmtapTarget(const std::string& text, GsmtapTarget& target, std::string* error);

class CGsmtapSender {
public:
    // Resolves the host and opens a socket for it. false and why.
    bool Open(const GsmtapTarget& target, std::string* error = nullptr);
    bool IsOpen() const { return m_fd.Valid(); }
    // One message, at once.
    void Send(std::span<const std::uint8_t> message);
    // One message, sent at the next Flush (or when kBatch wait).
    void Queue(std::span<const std::uint8_t> message);
    void Flush();
    void Close();

    static constexpr std::size_t kBatch = 256;

    std::uint64_t Sent() const { return m_sent; }
    std::uint64_t Refused() const { return m_refused; }

private:
    sysio::UniqueFd m_fd;
    sockaddr_storage m_address{};
    socklen_t m_addressLength = 0;
    std::uint64_t m_sent = 0;
    std::uint64_t m_refused = 0;
    std::vector<std::uint8_t> m_batch;          // the queued messages, one after another
    std::array<std::size_t, kBatch> m_ends{};   // where each ends in m_batch
    std::size_t m_queued = 0;
};

}  // namespace decode
