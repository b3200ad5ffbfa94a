// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Telling systemd how the run goes, through the datagram protocol of
// sd_notify(3): one AF_UNIX datagram per state change to $NOTIFY_SOCKET (a
// path, or an abstract name written with a leading '@'). No library is
// linked for it and nothing happens where the variable is not set. The
// environment is read, never changed.
//
// CNotifySchedule says when the periodic messages are due: STATUS= every
// statusPeriod, WATCHDOG=1 at half of $WATCHDOG_USEC. Both are sent by the
// program's loop itself, so a loop that stalls stops the pings and systemd's
// watchdog sees it; after a stall one ping is sent, not the ones missed.
#include "sys/SysIo.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

class CNotifier {
public:
    // From $NOTIFY_SOCKET and $WATCHDOG_USEC (and $WATCHDOG_PID, which must be
    // this process when set).
    static CNotifier FromEnvironment();
    CNotifier() = default;
    CNotifier(const std::string& socketName, std::optional<std::chrono::microseconds> watchdog);

    bool Enabled() const { return m_socket.Valid(); }
    // Half of the watchdog's time-out, when systemd watches this process.
    std::optional<std::chrono::microseconds> PingInterval() const;
    // Sends one message ("READY=1", "STATUS=..."); false when it was not taken.
    bool Send(std::string_view state) const;

private:
    sysio::UniqueFd m_socket;
    std::string m_address;   // the sockaddr_un's path bytes (abstract: a leading NUL)
    std::optional<std::chrono::microseconds> m_watchdog;
};

class CNotifySchedule {
public:
    using Clock = std::chrono::steady_clock;
    CNotifySchedule(Clock::duration statusPeriod, std::optional<Clock::duration> pingInterval, Clock::time_point now);

    bool StatusDue(Clock::time_point now);   // true once per period; the next is timed from now
    bool PingDue(Clock::time_point now);
    // When the loop must wake next for either.
    Clock::time_point Next() const;

private:
    Clock::duration m_statusPeriod;
    std::optional<Clock::duration> m_pingInterval;
    Clock::time_point m_nextStatus;
    Clock::time_point m_nextPing;
};
