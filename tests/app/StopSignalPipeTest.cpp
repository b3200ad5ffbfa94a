// SPDX-License-Identifier: GPL-2.0-or-later
// The window's stop-signal path without the window: each stop signal turns
// the pipe readable, and the program's own dispositions come back when the
// object goes. Each signal is raised once only: the handler resets itself to
// the default action, which would end the test program.
#include "sys/StopSignals.h"

#include <gtest/gtest.h>

#include <csignal>

#include <poll.h>

namespace {

bool Readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return sysio::Poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

void (*Disposition(int signal))(int)
{
    struct sigaction now {};
    ::sigaction(signal, nullptr, &now);
    return now.sa_handler;
}

TEST(StopSignalPipe, EachSignalWakesThePipeOnceAndTheOldHandlersComeBack)
{
    for (const int signal : sysio::kStopSignals) {
        SCOPED_TRACE(signal);
        // The test program's own disposition, which the pipe must give back.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ASSERT_EQ(::sigaction(signal, &ignore, nullptr), 0);
        {
            sysio::CStopSignalPipe pipe;
            ASSERT_GE(pipe.Fd(), 0) << pipe.Error();
            EXPECT_TRUE(pipe.Error().empty());
            EXPECT_FALSE(Readable(pipe.Fd()));
            ASSERT_EQ(::raise(signal), 0);
            EXPECT_TRUE(Readable(pipe.Fd()));
            pipe.Drain();
            EXPECT_FALSE(Readable(pipe.Fd())) << "Drain takes every pending byte";
            EXPECT_EQ(Disposition(signal), SIG_DFL) << "a second signal ends the program at once";
        }
        EXPECT_EQ(Disposition(signal), SIG_IGN);
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        ::sigaction(signal, &fallback, nullptr);
    }
}

}  // namespace
