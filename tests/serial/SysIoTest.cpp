// SPDX-License-Identifier: GPL-2.0-or-later
// The shared system-call habits of sys/SysIo.h on pipes: WriteAll carries on
// until all is written and says where and why it stopped otherwise; Poll and
// ErrnoText as every module uses them.
#include "sys/SysIo.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

struct Pipe {
    Pipe()
    {
        std::array<int, 2> fds{-1, -1};
        EXPECT_EQ(::pipe2(fds.data(), O_CLOEXEC | O_NONBLOCK), 0);
        read.Reset(fds[0]);
        write.Reset(fds[1]);
    }
    sysio::UniqueFd read;
    sysio::UniqueFd write;
};

std::size_t Drain(int fd)
{
    std::array<std::uint8_t, 4096> buffer{};
    std::size_t total = 0;
    for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
        total += static_cast<std::size_t>(n);
    return total;
}

TEST(SysIo, WriteAllSaysHowFarItGotAndWhy)
{
    // A pipe holds 64 KiB by default: a quarter of that fits, four times it does not.
    const auto previous = std::signal(SIGPIPE, SIG_IGN);   // EPIPE instead of the signal
    const struct {
        const char* name;
        std::size_t count;
        bool closeReader;
        bool complete;
        int error;
    } cases[] = {
        {"nothing to write", 0, false, true, 0},
        {"fits", 16384, false, true, 0},
        {"a full non-blocking pipe stops it", 4 * 65536, false, false, EAGAIN},
        {"no reader", 10, true, false, EPIPE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pipe pipe;
        if (c.closeReader)
            pipe.read.Reset();
        const std::vector<std::uint8_t> data(c.count, 0x5A);
        const sysio::WriteOutcome outcome = sysio::WriteAll(pipe.write.Get(), data);
        EXPECT_EQ(outcome.Complete(c.count), c.complete);
        EXPECT_EQ(outcome.error, c.error);
        if (!c.closeReader) {
            EXPECT_EQ(Drain(pipe.read.Get()), outcome.written) << "written counts what the pipe took";
        }
        if (c.complete) {
            EXPECT_EQ(outcome.written, c.count);
        } else if (!c.closeReader) {
            EXPECT_GT(outcome.written, 0u) << "the short writes before the pipe filled are kept";
        }
    }
    std::signal(SIGPIPE, previous);
}

TEST(SysIo, PollAndErrnoText)
{
    Pipe pipe;
    pollfd p{pipe.read.Get(), POLLIN, 0};
    EXPECT_EQ(sysio::Poll(&p, 1, 0), 0);
    const std::array<std::uint8_t, 1> one{1};
    ASSERT_TRUE(sysio::WriteAll(pipe.write.Get(), one).Complete(1));
    EXPECT_EQ(sysio::Poll(&p, 1, 0), 1);
    EXPECT_TRUE(p.revents & POLLIN);
    EXPECT_EQ(sysio::ErrnoText("write", EPIPE), "write: Broken pipe");
}

}  // namespace
