// SPDX-License-Identifier: GPL-2.0-or-later
// The real orvane-vmodem program, driven over its pseudo-terminal.
#include "tools/vmodem/VirtualModem.h"

#include "tools/vmodem/LogRecords.h"
#include "tools/vmodem/ModemReplies.h"

#include "support/Pty.h"
#include "tools/VmodemProcess.h"
#include "tools/VmodemTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using vmtest::Bytes;
using vmtest::RefFrame;
using vmtest::Text;
using vmtest::VmodemProcess;
using namespace std::chrono_literals;

namespace {

// The client's end of the modem's terminal, in raw mode.
class Client {
public:
    explicit Client(const std::string& path)
    {
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) {
            ADD_FAILURE() << "open " << path << ": " << std::strerror(errno);
            return;
        }
        termios tio{};
        tcgetattr(m_fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~Client()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    bool Ok() const { return m_fd >= 0; }

    void Send(const Bytes& data)
    {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = write(m_fd, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN) {
                pollfd p{m_fd, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            ASSERT_GT(n, 0) << std::strerror(errno);
            done += static_cast<std::size_t>(n);
        }
    }

    // Reads until `done(received)` holds or the deadline passes.
    template <typename Done>
    Bytes ReadUntil(Done done, std::chrono::milliseconds deadline = 5s)
    {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + deadline;
        std::array<std::uint8_t, 4096> buf{};
        while (!done(got)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{m_fd, POLLIN, 0};
            const int r = poll(&p, 1, static_cast<int>(left.count()));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            const ssize_t n = read(m_fd, buf.data(), buf.size());
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                break;
            got.insert(got.end(), buf.begin(), buf.begin() + n);
        }
        return got;
    }

    Bytes Read(std::size_t count, std::chrono::milliseconds deadline = 5s)
    {
        return ReadUntil([count](const Bytes& b) { return b.size() >= count; }, deadline);
    }

    // Everything until nothing more comes for `quiet`.
    Bytes ReadUntilQuiet(std::chrono::milliseconds quiet = 300ms, std::chrono::milliseconds deadline = 10s)
    {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + deadline;
        std::array<std::uint8_t, 4096> buf{};
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{m_fd, POLLIN, 0};
            const int r = poll(&p, 1, static_cast<int>(quiet.count()));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            const ssize_t n = read(m_fd, buf.data(), buf.size());
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                break;
            got.insert(got.end(), buf.begin(), buf.begin() + n);
        }
        return got;
    }

    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};

void Put32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Bytes LogRangesReply()
{
    Bytes b{0x73, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    for (const std::uint32_t last : CVirtualModem::LastLogItems())
        Put32(b, last);
    return b;
}

Bytes MessageRangesReply()
{
    Bytes b{0x7D, 0x01, 0x01, 0x00};
    Put32(b, static_cast<std::uint32_t>(CVirtualModem::MessageRanges().size()));
    for (const auto& r : CVirtualModem::MessageRanges()) {
        b.push_back(static_cast<std::uint8_t>(r.first));
        b.push_back(static_cast<std::uint8_t>(r.first >> 8));
        b.push_back(static_cast<std::uint8_t>(r.last));
        b.push_back(static_cast<std::uint8_t>(r.last >> 8));
    }
    return b;
}

// Packets of the frames in `wire` split by log (0x10) and other.
// Packets of the frames in `wire` split by log records (0x10), event reports
// and extended messages, and the rest (replies).
struct Split {
    std::vector<Bytes> logs, events, others;
    int bad = 0;
};
Split SplitFrames(const Bytes& wire)
{
    Split s;
    for (Bytes& p : vmtest::RefDeframe(wire, s.bad)) {
        if (p.at(0) == 0x10)
            s.logs.push_back(std::move(p));
        else if (p.at(0) == 0x79 || (p.at(0) == 0x60 && p.size() > 3))
            s.events.push_back(std::move(p));
        else
            s.others.push_back(std::move(p));
    }
    return s;
}

bool EndsWithFlag(const Bytes& b) { return !b.empty() && b.back() == 0x7E; }

}  // namespace

TEST(VmodemProcess, AnswersEachRequestKindWithExactFrames)
{
    VmodemProcess vm({});
    const std::string path = vm.DevicePath();
    ASSERT_FALSE(path.empty());
    Client client(path);
    ASSERT_TRUE(client.Ok());

    struct Case {
        const char* name;
        Bytes request;   // as sent on the wire
        Bytes reply;     // exactly what must come back
    };
    const Case cases[] = {
        {"Log server table: 1C", RefFrame({0x1C}), RefFrame({0x1C, 0x08, 0x00})},
        {"own extended build id: 7C", RefFrame({0x7C}), RefFrame(Bytes(vmreply::OwnReply(0x7C).begin(), vmreply::OwnReply(0x7C).end()))},
        {"own version: 00", RefFrame({0x00}), RefFrame(Bytes(vmreply::OwnReply(0x00).begin(), vmreply::OwnReply(0x00).end()))},
        {"Log server bad command: 63", RefFrame({0x63}), RefFrame({0x13, 0x63})},
        {"event report on", RefFrame({0x60, 0x01}), RefFrame({0x60, 0x00, 0x00})},
        {"event mask", RefFrame({0x82, 0, 0, 0, 0x10, 0x00, 0x7E, 0x7D}), RefFrame({0x82, 0, 0, 0, 0x10, 0x00, 0x7E, 0x7D})},
        {"73 op 0", RefFrame({0x73, 0, 0, 0, 0, 0, 0, 0}), RefFrame({0x73, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"73 op 1", RefFrame({0x73, 0, 0, 0, 1, 0, 0, 0}), RefFrame(LogRangesReply())},
        {"73 op 3 (nothing enabled)", RefFrame({0x73, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 8, 0, 0, 0, 0x00}),
         RefFrame({0x73, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 8, 0, 0, 0, 0x00})},
        {"73 op 4", RefFrame({0x73, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0}),
         RefFrame({0x73, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 8, 0, 0, 0, 0x00})},
        {"7D 01", RefFrame({0x7D, 0x01}), RefFrame(MessageRangesReply())},
        {"7D 04", RefFrame({0x7D, 0x04, 0x70, 0x17, 0x71, 0x17, 0, 0, 0x1F, 0, 0, 0, 0x1C, 0, 0, 0}),
         RefFrame({0x7D, 0x04, 0x70, 0x17, 0x71, 0x17, 1, 0, 0x1F, 0, 0, 0, 0x1C, 0, 0, 0})},
        {"7D 05", RefFrame({0x7D, 0x05, 0, 0, 0x1E, 0, 0, 0}), RefFrame({0x7D, 0x05, 1, 0, 0x1E, 0, 0, 0})},
        {"unknown command", RefFrame({0xEE, 0x01, 0x02}), RefFrame({0x13, 0xEE, 0x01, 0x02})},
        {"DM AT", RefFrame(vmtest::Concat({{0x5E}, Text("AT"), {0x0D}})),
         RefFrame(vmtest::Concat({{0x5E}, Text("\r\nOK\r\n")}))},
        {"text AT", Text("AT\r"), Text("\r\nOK\r\n")},
        {"text unknown", Text("AT&V\r\n"), Text("\r\nERROR\r\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        client.Send(c.request);
        EXPECT_EQ(client.Read(c.reply.size()), c.reply);
    }
    // ATI: a few lines ending in OK.
    client.Send(Text("ATI\r"));
    const Bytes ati = client.ReadUntil([](const Bytes& b) {
        const std::string s(b.begin(), b.end());
        return s.size() >= 6 && s.compare(s.size() - 6, 6, "\r\nOK\r\n") == 0;
    });
    EXPECT_GT(ati.size(), 8u);
    // Nothing else was sent.
    EXPECT_TRUE(client.ReadUntilQuiet(200ms).empty());
    EXPECT_EQ(vm.Stop(), 0);
}

TEST(VmodemProcess, FrameWithBrokenFcsIsIgnored)
{
    VmodemProcess vm({});
    Client client(vm.DevicePath());
    ASSERT_TRUE(client.Ok());
    Bytes broken = RefFrame({0x1C});
    broken[1] ^= 0x80;   // a wrong FCS
    Bytes badData = RefFrame({0x60, 0x01});
    badData[1] = 0x00;   // data changed, FCS kept
    client.Send(vmtest::Concat({broken, badData, RefFrame({0x1D})}));
    const Bytes expected = RefFrame({0x1D, 0x3B, 0x8D, 0x10, 0xEE, 0x8F, 0x7B, 0x75, 0x00});
    EXPECT_EQ(client.Read(expected.size()), expected);
    EXPECT_TRUE(client.ReadUntilQuiet(200ms).empty());
    EXPECT_EQ(vm.Stop(), 0);
}

TEST(VmodemProcess, LogStreamStartsAfterAMaskAndCarriesOnlyEnabledCodes)
{
    VmodemProcess vm({"--rate", "20000"});
    Client client(vm.DevicePath());
    ASSERT_TRUE(client.Ok());

    // A client's start-up before any log mask: replies, and no log record.
    client.Send(vmtest::Concat({RefFrame({0x73, 0, 0, 0, 0, 0, 0, 0}), RefFrame({0x7D, 0x05, 0, 0, 0x1F, 0, 0, 0}),
                                RefFrame({0x60, 0x01}), RefFrame({0x7D, 0x01})}));
    const Split before = SplitFrames(client.ReadUntilQuiet(500ms));
    EXPECT_EQ(before.bad, 0);
    EXPECT_EQ(before.others.size(), 4u);
    EXPECT_TRUE(before.logs.empty());

    // Equipment 1: item 5 (no layout known: never streamed); equipment 4:
    // item 0x12F; equipment 11: items 0xC0 and 0xED.
    Bytes lte{0x73, 0, 0, 0, 3, 0, 0, 0, 11, 0, 0, 0, 238, 0, 0, 0};
    lte.resize(16 + 30, 0);
    lte[16 + 24] = 0x01;
    lte[16 + 29] = 0x20;
    Bytes wcdma{0x73, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 0x30, 0x01, 0, 0};
    wcdma.resize(16 + 38, 0);
    wcdma[16 + 37] = 0x80;
    client.Send(vmtest::Concat({RefFrame({0x73, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0x20}), RefFrame(wcdma),
                                RefFrame(lte)}));
    const Bytes wire = client.ReadUntil([](const Bytes& b) { return b.size() >= 6000 && EndsWithFlag(b); }, 10s);
    const Split during = SplitFrames(wire);
    EXPECT_EQ(during.bad, 0);
    ASSERT_EQ(during.others.size(), 3u);
    EXPECT_EQ(during.others[0].at(0), 0x73);
    ASSERT_GE(during.logs.size(), 20u);
    EXPECT_FALSE(during.events.empty()) << "events and messages were switched on too";
    const std::set<std::uint16_t> streamed{0x412F, 0xB0C0, 0xB0ED};
    std::set<std::uint16_t> seen;
    std::uint64_t prev = 0;
    for (std::size_t i = 0; i < during.logs.size(); ++i) {
        const Bytes& p = during.logs[i];
        ASSERT_GT(p.size(), vmlog::kLogHeader);
        const std::uint16_t code = static_cast<std::uint16_t>(p[6] | (p[7] << 8));
        EXPECT_TRUE(streamed.count(code)) << std::hex << code;
        seen.insert(code);
        std::uint64_t stamp = 0;
        for (int b = 7; b >= 0; --b)
            stamp = (stamp << 8) | p[8 + static_cast<std::size_t>(b)];
        EXPECT_GE(stamp, prev) << "timestamps never go back";
        prev = stamp;
    }
    EXPECT_EQ(seen, streamed);

    // 73 op 0: after its reply, no further log record; events and messages go on.
    client.Send(RefFrame({0x73, 0, 0, 0, 0, 0, 0, 0}));
    const Bytes disableReply = RefFrame({0x73, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const Bytes tail = client.ReadUntil([&](const Bytes& b) {
        const auto at = std::search(b.begin(), b.end(), disableReply.begin(), disableReply.end());
        return at != b.end() && b.end() - at > 2000 && EndsWithFlag(b);
    }, 10s);
    const auto at = std::search(tail.begin(), tail.end(), disableReply.begin(), disableReply.end());
    ASSERT_NE(at, tail.end());
    const Split after = SplitFrames(Bytes(at + static_cast<std::ptrdiff_t>(disableReply.size()), tail.end()));
    EXPECT_EQ(after.bad, 0);
    EXPECT_TRUE(after.logs.empty());
    EXPECT_FALSE(after.events.empty());

    // The rest of the window's "Stop Modem Logging": after the replies, silence.
    client.Send(vmtest::Concat({RefFrame({0x60, 0x00}), RefFrame({0x7D, 0x05, 0, 0, 0, 0, 0, 0})}));
    const Bytes lastReply = RefFrame({0x7D, 0x05, 0x01, 0x00, 0, 0, 0, 0});
    const Bytes quiet = client.ReadUntilQuiet(1000ms);
    ASSERT_GE(quiet.size(), lastReply.size());
    EXPECT_EQ(Bytes(quiet.end() - static_cast<std::ptrdiff_t>(lastReply.size()), quiet.end()), lastReply);
    EXPECT_TRUE(client.ReadUntilQuiet(300ms).empty());
    EXPECT_EQ(vm.Stop(), 0);
}

// Inherently timed: bytes over a two-second window of the real line, so a
// soak check.
TEST(VmodemProcessSoak, LogStreamHoldsItsRate)
{
    constexpr double kRate = 20000;
    VmodemProcess vm({"--rate", "20000"});
    Client client(vm.DevicePath());
    ASSERT_TRUE(client.Ok());
    Bytes lte{0x73, 0, 0, 0, 3, 0, 0, 0, 11, 0, 0, 0, 0xC1, 0, 0, 0};
    lte.resize(16 + 25, 0);
    lte[16 + 24] = 0x01;
    client.Send(RefFrame(lte));
    // Let it settle, then count from one read to the first read 2 s later.
    client.ReadUntil([](const Bytes& b) { return b.size() >= 2000; }, 5s);
    client.ReadUntilQuiet(1ms, 1ms);
    const auto start = std::chrono::steady_clock::now();
    std::size_t bytes = 0;
    auto last = start;
    while (last - start < 2s) {
        bytes += client.ReadUntil([](const Bytes& b) { return !b.empty(); }, 1s).size();
        last = std::chrono::steady_clock::now();
    }
    const double seconds = std::chrono::duration<double>(last - start).count();
    const double rate = static_cast<double>(bytes) / seconds;
    EXPECT_NEAR(rate, kRate, kRate * 0.10) << bytes << " bytes in " << seconds << " s";
    EXPECT_EQ(vm.Stop(), 0);
}

TEST(VmodemProcess, LinkIsMadeAndRemoved)
{
    const int signals[] = {SIGTERM, SIGINT};
    for (const int sig : signals) {
        SCOPED_TRACE(sig == SIGTERM ? "SIGTERM" : "SIGINT");
        TempDir temp;
        // The port directory does not exist yet: the program makes it.
        const std::string dir = temp.Path() + "/config/ports";
        VmodemProcess vm({"--link", "COM7"}, {"ORVANE_PORT_DIR=" + dir});
        const std::string path = vm.DevicePath();
        ASSERT_FALSE(path.empty());
        const std::filesystem::path link = dir + "/COM7";
        ASSERT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_EQ(std::filesystem::read_symlink(link), path);
        // The link leads to a working modem.
        Client client(link.string());
        ASSERT_TRUE(client.Ok());
        client.Send(RefFrame({0x1C}));
        EXPECT_EQ(client.Read(6), RefFrame({0x1C, 0x08, 0x00}));
        EXPECT_EQ(vm.Stop(sig), 0);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
        EXPECT_TRUE(std::filesystem::is_directory(dir));
    }
}

TEST(VmodemProcess, LinkRepointedBySomeoneElseIsLeftAlone)
{
    PortDir ports;   // sets ORVANE_PORT_DIR for the child too
    VmodemProcess vm({"--link", "COM3"});
    ASSERT_FALSE(vm.DevicePath().empty());
    const std::filesystem::path link = ports.Path() + "/COM3";
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    ports.Link("COM3", "/dev/null");
    EXPECT_EQ(vm.Stop(), 0);
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link), "/dev/null");
}

TEST(VmodemProcess, CommandLine)
{
    {
        VmodemProcess help({"--help"});
        const std::string text = help.ReadOutput();
        EXPECT_EQ(help.Wait(), 0);
        for (const char* word : {"--link", "--rate", "--stream", "ORVANE_PORT_DIR", "20000", "0x10", "7D 05", "73 op 4", "ERROR",
                                 "0xB0C0", "7C (extended build id)"}) {
            EXPECT_NE(text.find(word), std::string::npos) << word;
        }
    }
    const std::vector<std::vector<std::string>> refused = {
        {"--link", "COM0"}, {"--link", "COM61"}, {"--link", "../COM1"}, {"--rate", "-5"}, {"--rate", "fast"},
        {"--rate"}, {"--bogus"}, {"--stream"},
    };
    for (const auto& args : refused) {
        SCOPED_TRACE(args.back());
        VmodemProcess vm(args);
        EXPECT_EQ(vm.ReadOutput(), "");
        EXPECT_EQ(vm.Wait(), 2);
    }
    // A capture that cannot be read stops it before it offers a terminal.
    VmodemProcess missing({"--stream", "/nonexistent/capture.qmdl"});
    EXPECT_EQ(missing.ReadOutput(), "");
    EXPECT_EQ(missing.Wait(), 1);
}

TEST(VmodemProcess, StreamsTheCapturesRecordsOfTheEnabledCodes)
{
    TempDir temp;
    const std::string path = temp.Path() + "/capture.bin";
    {
        // A capture of the Log client: the first frame cut, then records.
        Bytes wire{0x00, 0x20, 0x7E};
        for (const std::uint16_t code : {0x1005, 0xB193, 0x1005}) {
            const Bytes frame = RefFrame(vmlog::WrapLogRecord(code, 42, Bytes{0xAA, 0xBB}));
            wire.insert(wire.end(), frame.begin(), frame.end());
        }
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fwrite(wire.data(), 1, wire.size(), f);
        std::fclose(f);
    }
    VmodemProcess vm({"--stream", path, "--rate", "0"});
    Client client(vm.DevicePath());
    ASSERT_TRUE(client.Ok());
    client.Send(RefFrame({0x73, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0x20}));
    const Bytes wire = client.ReadUntil([](const Bytes& b) { return b.size() >= 2000 && EndsWithFlag(b); }, 10s);
    const Split got = SplitFrames(wire);
    EXPECT_EQ(got.bad, 0);
    ASSERT_GE(got.logs.size(), 10u);
    for (const Bytes& p : got.logs) {
        EXPECT_EQ(p.at(6) | (p.at(7) << 8), 0x1005);
        EXPECT_EQ(Bytes(p.begin() + 16, p.end()), (Bytes{0xAA, 0xBB}));
        EXPECT_NE(p.at(8) | (p.at(9) << 8) | (p.at(10) << 16) | (p.at(11) << 24), 42) << "a fresh timestamp";
    }
    EXPECT_EQ(vm.Stop(), 0);
}
