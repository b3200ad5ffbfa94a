// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/GsmtapSender.h"

#include <sys/uio.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <sys/socket.h>

namespace decode {

bool ParseGsmtapTarget(const std::string& text, GsmtapTarget& target, std::string* error)
{
    GsmtapTarget parsed;
    std::string host = text;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || (close + 1 < text.size() && text[close + 1] != ':')) {
            if (error)
                *error = "\"" + text + "\" is not [IPv6 address]:PORT";
            return false;
        }
        host = text.substr(1, close - 1);
        port = close + 2 <= text.size() ? text.substr(close + 2) : std::string();
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos
                                                         && text.find(':') == colon) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (!host.empty())
        parsed.host = host;
    if (!port.empty() || (text.size() > host.size() && text.back() == ':')) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(port.c_str(), &end, 10);
        if (port.empty() || *end != '\0' || port[0] < '0' || port[0] > '9' || value == 0 || value > 65535) {
            if (error)
                *error = "port \"" + port + "\" is not a number from 1 to 65535";
            return false;
        }
        parsed.port = static_cast<std::uint16_t>(value);
    }
    target = parsed;
    return true;
}

bool CGsmtapSender::Open(const GsmtapTarget& target, std::string* error)
{
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(target.port);
    if (const int rc = ::getaddrinfo(target.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        if (error)
            *error = target.host + ": " + ::gai_strerror(rc);
        return false;
    }
    const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(found, ::freeaddrinfo);
    // Unconnected: a connected socket would take the loopback's "port
    // unreachable" for one datagram as the failure of the next one and drop
    // it, and a capture on the interface needs no listener on the port.
    int lastError = 0;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        sysio::UniqueFd fd(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
        if (fd.Valid() && a->ai_addrlen <= sizeof m_address) {
            std::memcpy(&m_address, a->ai_addr, a->ai_addrlen);
            m_addressLength = a->ai_addrlen;
            m_fd = std::move(fd);
            return true;
        }
        lastError = errno;
    }
    if (error)
        *error = target.host + ":" + port + ": " + sysio::ErrnoText("socket", lastError);
    return false;
}

void CGsmtapSender::Send(std::span<const std::uint8_t> message)
{
    Queue(message);
    Flush();
}

void CGsmtapSender::Queue(std::span<const std::uint8_t> message)
{
    if (!m_fd.Valid())
        return;
    if (m_queued == kBatch)
        Flush();
    m_batch.insert(m_batch.end(), message.begin(), message.end());
    m_ends[m_queued++] = m_batch.size();
}

void CGsmtapSender::Flush()
{
    if (m_queued == 0 || !m_fd.Valid())
        return;
    std::array<iovec, kBatch> parts{};
    std::array<mmsghdr, kBatch> headers{};
    for (std::size_t i = 0, start = 0; i < m_queued; start = m_ends[i++]) {
        parts[i] = {m_batch.data() + start, m_ends[i] - start};
        headers[i].msg_hdr.msg_name = &m_address;
        headers[i].msg_hdr.msg_namelen = m_addressLength;
        headers[i].msg_hdr.msg_iov = &parts[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
    for (std::size_t done = 0; done < m_queued;) {
        const int n = sysio::RetryEintr([&] {
            return ::sendmmsg(m_fd.Get(), headers.data() + done, static_cast<unsigned>(m_queued - done), MSG_DONTWAIT);
        });
        if (n > 0) {
            m_sent += static_cast<std::uint64_t>(n);
            done += static_cast<std::size_t>(n);
        } else {
            ++m_refused;   // the first of those left: refused, not retried
            ++done;
        }
    }
    m_batch.clear();
    m_queued = 0;
}

void CGsmtapSender::Close()
{
    Flush();
    m_fd.Reset();
}

}  // namespace decode
