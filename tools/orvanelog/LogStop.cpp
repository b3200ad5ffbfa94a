// SPDX-License-Identifier: GPL-2.0-or-later
// The end of a clean run: what the driver held is captured, the modem's
// logging is switched off with the window's "Stop Modem Logging" packets, and
// its replies are captured for a short while before the port closes.
#include "tools/orvanelog/LogRun.h"

#include "logclient/StopLogging.h"
#include "sys/StopSignals.h"

#include <array>
#include <poll.h>

namespace {

using namespace std::chrono_literals;

// After a stop, what the driver holds is captured too, for at most kDrainLimit.
constexpr auto kDrainPoll = 5ms;
constexpr auto kDrainLimit = 1s;
// The replies to the stop packets: taken for at most this long, and no
// longer than until the line has been quiet for kRepliesQuiet.
constexpr auto kRepliesLimit = 500ms;
constexpr auto kRepliesQuiet = 100ms;

}  // namespace

// After a stop: what the driver held at that moment goes into the capture
// before it closes (the reader reads in order, so it is in once the reader
// has taken that many more bytes). A further signal ends the wait at once;
// false then.
bool COrvaneLog::DrainAfterStop(int signals)
{
    const std::uint64_t target = m_received.load() + m_pump.Queued();
    const auto limit = Clock::now() + kDrainLimit;
    while (m_pump.IsOpen() && m_failure.load() == 0 && m_received.load() < target && Clock::now() < limit) {
        std::array<pollfd, 2> fds{{{m_signalFd, POLLIN, 0}, {m_pump.PortFd(), POLLIN, 0}}};
        const int ready = sysio::Poll(fds.data(), fds.size(), static_cast<int>(kDrainPoll.count()));
        if (ready > 0 && (fds[0].revents & POLLIN) && (signals += sysio::TakeStopSignals(m_signalFd)) > 1)
            return false;
        if (ready > 0 && (fds[1].revents & POLLIN))
            m_pump.Dispatch([this] { OnGone(); });
    }
    return true;
}

// A clean stop (a signal, --duration): unless --leave-logging, and only while
// the device is still there, the three stop packets go out framed as the
// window sends them, and what comes back is captured.
void COrvaneLog::SwitchLoggingOff(int signals)
{
    m_notifier.Send("STOPPING=1");
    if (!DrainAfterStop(signals) || m_options.leaveLogging || !m_pump.IsOpen())
        return;
    CPortWriter writer(m_pump);
    for (const StopLoggingPacket& packet : StopLoggingPackets())
        FrameAndWrite(writer, packet.bytes);
    const auto limit = Clock::now() + kRepliesLimit;
    std::uint64_t seen = m_received.load();
    auto lastByte = Clock::now();
    while (m_pump.IsOpen() && m_failure.load() == 0 && Clock::now() < limit
           && Clock::now() - lastByte < kRepliesQuiet) {
        std::array<pollfd, 2> fds{{{m_signalFd, POLLIN, 0}, {m_pump.PortFd(), POLLIN, 0}}};
        const int ready = sysio::Poll(fds.data(), fds.size(), static_cast<int>(kDrainPoll.count()));
        if (ready > 0 && (fds[0].revents & POLLIN) && sysio::TakeStopSignals(m_signalFd) > 0)
            return;   // a second stop ends the wait
        if (ready > 0 && (fds[1].revents & POLLIN))
            m_pump.Dispatch([this] { OnGone(); });
        if (const std::uint64_t now = m_received.load(); now != seen) {
            seen = now;
            lastByte = Clock::now();
        }
    }
}
