// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "support/UdpListener.h"

#include <vector>

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
    const UdpListener listener;
    ASSERT_NE(listener.Port(), 0);
    decode::CGsmtapSender sender;
    std::string error;
    ASSERT_TRUE(sender.Open({"127.0.0.1", listener.Port()}, &error)) << error;
    const std::array<std::uint8_t, 5> first{2, 4, 0x0D, 0, 1};
    const std::array<std::uint8_t, 3> second{2, 4, 0x12};
    sender.Send(first);
    sender.Send(second);
    EXPECT_EQ(sender.Sent(), 2u);
    for (std::size_t expected : {first.size(), second.size()}) {
        const std::vector<std::uint8_t> got = listener.Receive();
        ASSERT_EQ(got.size(), expected);
        EXPECT_EQ(got[0], 2);
    }
}

// Queued messages go out at Flush, more than a batch of them too, each its
// own datagram, in order; nothing goes before Flush unless a batch is full.
TEST(GsmtapSender, QueuedMessagesGoOutInOrderAtFlush)
{
    const UdpListener listener;
    ASSERT_NE(listener.Port(), 0);
    decode::CGsmtapSender sender;
    ASSERT_TRUE(sender.Open({"127.0.0.1", listener.Port()}));
    const std::size_t count = decode::CGsmtapSender::kBatch + 44;
    for (std::size_t i = 0; i < count; ++i)
        sender.Queue(std::vector<std::uint8_t>(1 + i % 7, static_cast<std::uint8_t>(i)));
    EXPECT_EQ(sender.Sent(), decode::CGsmtapSender::kBatch);   // the full batch went; the rest wait
    sender.Flush();
    EXPECT_EQ(sender.Sent(), count);
    EXPECT_EQ(sender.Refused(), 0u);
    for (std::size_t i = 0; i < count; ++i) {
        const std::vector<std::uint8_t> got = listener.Receive();
        ASSERT_EQ(got.size(), 1 + i % 7) << "datagram " << i;
        EXPECT_EQ(got[0], static_cast<std::uint8_t>(i));
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
