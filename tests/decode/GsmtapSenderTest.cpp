// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <array>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>

#include "decode/GsmtapSender.h"

namespace {

TEST(GsmtapSender, TargetsReadAsHostAndPort)
{
    struct Case { const char* text; bool ok; const char* host; std::uint16_t port; };
    const Case cases[] = {
        {"", true, "127.0.0.1", 4729},
        {"192.168.1.20", true, "192.168.1.20", 4729},
        {"lab.example:5000", true, "lab.example", 5000},
        {"[::1]:4800", true, "::1", 4800},
        {"[::1]", true, "::1", 4729},
        {"::1", true, "::1", 4729},   // two colons: an IPv6 address without a port
        {"host:", false, "", 0},
        {"host:0", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:47x", false, "", 0},
        {"host:-1", false, "", 0},
        {"[::1", false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        decode::GsmtapTarget target;
        std::string error;
        EXPECT_EQ(decode::ParseGsmtapTarget(c.text, target, &error), c.ok) << error;
        if (c.ok) {
            EXPECT_EQ(target.host, c.host);
            EXPECT_EQ(target.port, c.port);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(GsmtapSender, EachMessageIsOneDatagram)
{
    const sysio::UniqueFd listener(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(listener.Valid());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length), 0);

    decode::CGsmtapSender sender;
    std::string error;
    ASSERT_TRUE(sender.Open({"127.0.0.1", ntohs(address.sin_port)}, &error)) << error;
    const std::array<std::uint8_t, 5> first{2, 4, 0x0D, 0, 1};
    const std::array<std::uint8_t, 3> second{2, 4, 0x12};
    sender.Send(first);
    sender.Send(second);
    EXPECT_EQ(sender.Sent(), 2u);
    for (std::size_t expected : {first.size(), second.size()}) {
        pollfd fd{listener.Get(), POLLIN, 0};
        ASSERT_EQ(::poll(&fd, 1, 10000), 1);   // a hang guard, not a figure
        std::array<std::uint8_t, 64> buffer{};
        EXPECT_EQ(::recv(listener.Get(), buffer.data(), buffer.size(), 0), static_cast<ssize_t>(expected));
        EXPECT_EQ(buffer[0], 2);
    }
}

TEST(GsmtapSender, AHostThatDoesNotResolveIsSaid)
{
    decode::CGsmtapSender sender;
    std::string error;
    EXPECT_FALSE(sender.Open({"no-such-host.invalid", 4729}, &error));
    EXPECT_EQ(error.rfind("no-such-host.invalid: ", 0), 0u) << error;
    EXPECT_FALSE(sender.IsOpen());
}

}  // namespace
