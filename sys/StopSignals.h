// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// SIGINT, SIGTERM and SIGHUP end every Orvane program cleanly, and each learns
// of them through a descriptor in its own event loop, so no work runs in a
// signal handler. Two ways deliver them to that descriptor:
//
// - The command-line programs block the signals in every thread before they
//   start one and read them from a signalfd (BlockStopSignals,
//   OpenStopSignalFd, TakeStopSignals): every further signal is counted.
// - The window cannot block them: its toolkit starts threads of its own, and
//   the file manager it starts would inherit the blocked signals. There a
//   handler writes a byte to a pipe (CStopSignalPipe), and a second signal of
//   the same kind, while the first is being handled, ends the program at once.
#include "sys/SysIo.h"

#include <array>
#include <csignal>
#include <string>

#include <fcntl.h>
#include <pthread.h>
#include <sys/signalfd.h>

namespace sysio {

inline constexpr std::array<int, 3> kStopSignals{SIGTERM, SIGHUP, SIGINT};

inline sigset_t StopSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kStopSignals)
        sigaddset(&set, signal);
    return set;
}

// Blocks the stop signals in the calling thread and every thread it starts
// later (call it first), and ignores SIGPIPE. false when the mask was refused.
inline bool BlockStopSignals()
{
    const sigset_t set = StopSignalSet();
    std::signal(SIGPIPE, SIG_IGN);
    return ::pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

// A descriptor that turns readable when a stop signal is pending; invalid
// (errno set) on failure.
inline UniqueFd OpenStopSignalFd()
{
    const sigset_t set = StopSignalSet();
    return UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
}

// Reads every pending stop signal; returns how many there were.
inline int TakeStopSignals(int fd)
{
    int count = 0;
    signalfd_siginfo info{};
    while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        ++count;
    return count;
}

namespace stop_pipe {
// Write end of the pipe, for the handler; set before the handlers are
// installed and left alone until they are gone.
inline volatile sig_atomic_t g_writeFd = -1;

// Any thread, in signal context: only tells the event loop, which does the work.
extern "C" inline void OnStopSignal(int)
{
    const int saved = errno;
    const unsigned char byte = 1;
    // Non-blocking: with the pipe full a stop is already pending.
    [[maybe_unused]] const ssize_t n = ::write(g_writeFd, &byte, 1);
    errno = saved;
}
}  // namespace stop_pipe

// The stop signals as bytes on a pipe, for a program that cannot block them.
// The handlers stay for the object's life; each is reset to the default action
// as it runs, so a second signal of the same kind ends the program at once and
// a stuck shutdown can still be stopped. One object at a time.
class CStopSignalPipe {
public:
    CStopSignalPipe()
    {
        std::array<int, 2> fds{-1, -1};
        if (::pipe2(fds.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
            m_error = ErrnoText("pipe2", errno);
            return;
        }
        m_read.Reset(fds[0]);
        m_write.Reset(fds[1]);
        stop_pipe::g_writeFd = m_write.Get();
        struct sigaction action {};
        action.sa_handler = stop_pipe::OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        for (std::size_t i = 0; i < kStopSignals.size(); ++i)
            m_installed[i] = ::sigaction(kStopSignals[i], &action, &m_previous[i]) == 0;
    }
    ~CStopSignalPipe()
    {
        for (std::size_t i = 0; i < kStopSignals.size(); ++i)
            if (m_installed[i])
                ::sigaction(kStopSignals[i], &m_previous[i], nullptr);
        stop_pipe::g_writeFd = -1;
    }
    CStopSignalPipe(const CStopSignalPipe&) = delete;
    CStopSignalPipe& operator=(const CStopSignalPipe&) = delete;

    // Readable while a stop signal is pending; -1 when the pipe could not be made.
    int Fd() const { return m_read.Get(); }
    // Why there is no pipe ("pipe2: reason"); empty when there is one.
    const std::string& Error() const { return m_error; }
    void Drain()
    {
        std::array<unsigned char, 64> bytes{};
        while (RetryEintr([&] { return ::read(m_read.Get(), bytes.data(), bytes.size()); }) > 0) {
        }
    }

private:
    UniqueFd m_read;
    UniqueFd m_write;
    std::string m_error;
    std::array<struct sigaction, kStopSignals.size()> m_previous{};
    std::array<bool, kStopSignals.size()> m_installed{};
};

}  // namespace sysio
