// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/orvanelog/Notify.h"

#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

std::optional<std::chrono::microseconds> WatchdogFromEnvironment()
{
    const char* usec = std::getenv("WATCHDOG_USEC");
    if (usec == nullptr)
        return std::nullopt;
    // A watchdog meant for another process (a parent that passed it on) is not ours.
    if (const char* pid = std::getenv("WATCHDOG_PID"); pid != nullptr && std::atol(pid) != ::getpid())
        return std::nullopt;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(usec, &end, 10);
    if (*end != '\0' || value == 0)
        return std::nullopt;
    return std::chrono::microseconds(value);
}

}  // namespace

CNotifier CNotifier::FromEnvironment()
{
    const char* socketName = std::getenv("NOTIFY_SOCKET");
    if (socketName == nullptr || socketName[0] == '\0')
        return {};
    return CNotifier(socketName, WatchdogFromEnvironment());
}

CNotifier::CNotifier(const std::string& socketName, std::optional<std::chrono::microseconds> watchdog)
    : m_watchdog(watchdog)
{
    sockaddr_un addr{};
    if (socketName.empty() || (socketName[0] != '/' && socketName[0] != '@')
        || socketName.size() >= sizeof addr.sun_path)
        return;
    m_address = socketName;
    if (m_address[0] == '@')
        m_address[0] = '\0';
    m_socket.Reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
}

std::optional<std::chrono::microseconds> CNotifier::PingInterval() const
{
    if (!Enabled() || !m_watchdog)
        return std::nullopt;
    return *m_watchdog / 2;
}

bool CNotifier::Send(std::string_view state) const
{
    if (!Enabled())
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, m_address.data(), m_address.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + m_address.size());
    const ssize_t sent = sysio::RetryEintr([&] {
        return ::sendto(m_socket.Get(), state.data(), state.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&addr), length);
    });
    return sent == static_cast<ssize_t>(state.size());
}

CNotifySchedule::CNotifySchedule(Clock::duration statusPeriod, std::optional<Clock::duration> pingInterval,
                                 Clock::time_point now)
    : m_statusPeriod(statusPeriod), m_pingInterval(pingInterval), m_nextStatus(now + statusPeriod),
      m_nextPing(now + pingInterval.value_or(Clock::duration::zero()))
{
}

bool CNotifySchedule::StatusDue(Clock::time_point now)
{
    if (now < m_nextStatus)
        return false;
    m_nextStatus = now + m_statusPeriod;
    return true;
}

bool CNotifySchedule::PingDue(Clock::time_point now)
{
    if (!m_pingInterval || now < m_nextPing)
        return false;
    m_nextPing = now + *m_pingInterval;
    return true;
}

CNotifySchedule::Clock::time_point CNotifySchedule::Next() const
{
    return m_pingInterval ? std::min(m_nextStatus, m_nextPing) : m_nextStatus;
}
