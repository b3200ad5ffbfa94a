// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/orvanelog/Terminal.h"

#include <csignal>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>

namespace terminal {

namespace {

sigset_t ResizeSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGWINCH);
    return set;
}

}  // namespace

bool BlockResizeSignal()
{
    const sigset_t set = ResizeSet();
    return ::pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

sysio::UniqueFd OpenResizeFd()
{
    const sigset_t set = ResizeSet();
    return sysio::UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
}

bool TakeResize(int fd)
{
    bool any = false;
    signalfd_siginfo info{};
    while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        any = true;
    return any;
}

std::size_t Columns(int fd)
{
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

}  // namespace terminal
