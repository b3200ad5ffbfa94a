// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A UDP socket on the loopback, at a port the system chooses, with a 1 MiB
// receive buffer: where tests send GSMTAP datagrams and count them.
#include "sys/SysIo.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdint>
#include <vector>

class UdpListener {
public:
    UdpListener()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        const int bufferSize = 1 << 20;
        ::setsockopt(m_fd.Get(), SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
        if (::bind(m_fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
            && ::getsockname(m_fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }

    // 0 when no socket could be bound.
    std::uint16_t Port() const { return m_port; }

    // The next datagram's bytes; empty after a 10 s hang guard (not a figure).
    std::vector<std::uint8_t> Receive() const
    {
        pollfd p{m_fd.Get(), POLLIN, 0};
        std::vector<std::uint8_t> buffer(2048);
        const ssize_t n = ::poll(&p, 1, 10000) == 1 ? ::recv(m_fd.Get(), buffer.data(), buffer.size(), 0) : -1;
        buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return buffer;
    }

    // How many datagrams wait now, taken without waiting.
    int Drain() const
    {
        std::vector<std::uint8_t> buffer(2048);
        int count = 0;
        while (::recv(m_fd.Get(), buffer.data(), buffer.size(), MSG_DONTWAIT) > 0)
            ++count;
        return count;
    }

private:
    sysio::UniqueFd m_fd{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    std::uint16_t m_port = 0;
};
