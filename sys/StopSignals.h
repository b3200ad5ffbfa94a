#pragma once
// SIGINT, SIGTERM and SIGHUP end the command-line programs cleanly: they are
// blocked in every thread and read from a descriptor in the program's own
// poll, so no work runs in a signal handler.
#include "sys/SysIo.h"

#include <csignal>

#include <pthread.h>
#include <sys/signalfd.h>

namespace sysio {

inline sigset_t StopSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
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

}  // namespace sysio
