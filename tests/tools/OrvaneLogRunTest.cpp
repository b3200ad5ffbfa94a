// SPDX-License-Identifier: GPL-2.0-or-later
// orvane-log end to end against a pseudo-terminal the test drives: exit
// statuses, the capture against what the far end sent, clean stops, the
// device going and coming back, a full disk.
#include "OrvaneLogProcess.h"
#include "VmodemTestUtil.h"
#include "logclient/DefaultPackets.h"
#include "logclient/MaskBuilders.h"
#include "serial/SerialPlatform.h"
#include "support/DiskFull.h"
#include "support/DmFrames.h"
#include "tools/orvanelog/Options.h"
#include "ui/LogClientFarEnd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/mount.h>
#include <termios.h>

namespace {

using namespace orvanelog_test;
using logclient_test::FarEnd;

Bytes Pattern(std::size_t n, std::uint8_t seed)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 7 + i / 253 + seed);   // flags and escapes among them
    return b;
}

// Waits (without asserting how long) until pred holds; false at the deadline.
template <class Pred>
bool Eventually(Pred pred, std::chrono::milliseconds deadline = 20s)
{
    return childproc::WaitFor(pred, deadline);
}

// The capture is made before the port is opened (so the modem's first byte
// is in it), and Open empties the driver's queues: the far end sends only
// once the tool has written its first packet, when the port is open, set,
// emptied and read.
bool PortReady(const FarEnd& far)
{
    return Eventually([&] { return far.Size() > 0; });
}

// The default packets as the modem should see them, framed by the reference framer.
Bytes DefaultFrames()
{
    Bytes wire;
    for (const auto& packet : DefaultConfigPackets()) {
        const std::size_t length = dmcmd::PacketLengthFromHeader(packet);
        const Bytes frame = ReferenceFrame(Bytes(packet.begin(), packet.begin() + static_cast<long>(length)));
        wire.insert(wire.end(), frame.begin(), frame.end());
    }
    return wire;
}

class OrvaneLogRun : public ::testing::Test {
protected:
    void SetUp() override { ports.Link("COM1", pty.SlavePath()); }

    std::vector<std::string> Args(std::vector<std::string> more = {}) const
    {
        std::vector<std::string> args{"COM1", "--dir", captures.Path()};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    std::string OnlyCapture() const
    {
        const std::vector<std::string> files = captures.Files();
        return files.size() == 1 ? captures.Path() + "/" + files[0] : std::string();
    }

    PtyPair pty;
    PortDir ports;
    TempDir captures;
};

TEST_F(OrvaneLogRun, RefusalsEndWithTheirStatusAndReason)
{
    TempDir files;
    const std::string malformed = files.Path() + "/broken.dmc";
    std::ofstream(malformed) << "<QXDM><Persistence>";
    ports.Link("COM2", files.Path() + "/no-such-tty");
    serialio::SerialDevice holder;   // another program holds COM3
    PtyPair busy;
    ports.Link("COM3", busy.SlavePath());
    ASSERT_FALSE(holder.Open(busy.SlavePath()).Failed());

    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"bad argument", {"COM1", "--view", "all"}, kExitUsage, "Try 'orvane-log --help'"},
        {"no device", {"COM2"}, kExitPort, "No such device"},
        {"busy", {"COM3"}, kExitPort, "held by another program"},
        {"not expressible", {"COM1", "--settings", "115200,4,N,1"}, kExitUsage, "byte size 4 cannot be set"},
        {"baud 0", {"COM1", "--settings", "0"}, kExitUsage, "baud rate 0 cannot be set"},
        {"dmc missing", {"COM1", "--dmc", files.Path() + "/none.dmc"}, kExitDmc, "Fail to load dmc file"},
        {"dmc malformed", {"COM1", "--dmc", malformed}, kExitDmc, "Fail to load dmc file"},
        {"no capture directory", {"COM1", "--dir", files.Path() + "/gone"}, kExitCapture, "Fail to create log file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        if (std::string(c.name) != "no capture directory") {
            args.push_back("--dir");
            args.push_back(captures.Path());
        }
        LogProcess run(args);
        EXPECT_EQ(run.Wait(), c.status);
        EXPECT_NE(run.Err().find(c.says), std::string::npos) << run.Err();
        if (c.status == kExitPort) {
            EXPECT_NE(run.Err().find("Connection failed, please close another connection first!"), std::string::npos);
        }
        EXPECT_TRUE(captures.Files().empty()) << "a refused run leaves no capture";
    }
}

// Every stop keeps every byte the far end sent, closes the capture and puts
// the device's own settings back.
TEST_F(OrvaneLogRun, EveryStopKeepsEveryByteAndRestoresTheDevice)
{
    struct Case {
        const char* name;
        int signal;   // 0: --duration ends the run
    };
    const Case cases[] = {{"SIGINT", SIGINT}, {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP}, {"duration", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const serialio::UniqueFd probe(open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        termios before{};
        ASSERT_EQ(tcgetattr(probe.Get(), &before), 0);
        TempDir dir;
        FarEnd far(pty);
        // The timed run names the device by its path rather than as COM1.
        std::vector<std::string> args{c.signal ? "COM1" : pty.SlavePath(), "--dir", dir.Path()};
        if (c.signal == 0)
            args.insert(args.end(), {"--duration", "3"});
        LogProcess run(args);
        ASSERT_TRUE(Eventually([&] { return dir.Files().size() == 1; })) << run.Err();
        ASSERT_TRUE(PortReady(far)) << run.Err();
        // The timed run stops on its own clock: its stream is small enough to
        // arrive long before the end even under a sanitizer's slowdown.
        const std::size_t size = c.signal ? 300000 : 30000;
        const Bytes sent = Pattern(size, static_cast<std::uint8_t>(c.signal));
        pty.Send(sent);
        const std::string path = dir.Path() + "/" + dir.Files().at(0);
        // The pty's kernel side hands bytes on asynchronously: the stop comes
        // once they have all reached the port, and must lose none of them.
        EXPECT_TRUE(Eventually([&] { return logclient_test::ReadFile(path).size() >= sent.size(); }));
        const int status = c.signal ? run.Stop(c.signal) : run.Wait();
        EXPECT_EQ(status, kExitClean) << run.Err();
        EXPECT_TRUE(logclient_test::ReadFile(path) == sent) << logclient_test::ReadFile(path).size() << " of " << sent.size();
        EXPECT_NE(run.Out().find("bytes: " + std::to_string(size) + " "), std::string::npos) << run.Out();
        termios after{};
        ASSERT_EQ(tcgetattr(probe.Get(), &after), 0);
        EXPECT_EQ(after.c_iflag, before.c_iflag);
        EXPECT_EQ(after.c_oflag, before.c_oflag);
        EXPECT_EQ(after.c_cflag, before.c_cflag);
        EXPECT_EQ(after.c_lflag, before.c_lflag);
        EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    }
}

TEST_F(OrvaneLogRun, DefaultsGoOutFramedAsTheTableSays)
{
    FarEnd far(pty);
    LogProcess run(Args({"--defaults", "--leave-logging"}));
    const Bytes expected = DefaultFrames();
    ASSERT_TRUE(Eventually([&] { return far.Size() >= expected.size(); })) << run.Err();
    EXPECT_EQ(run.Stop(SIGTERM), kExitClean);
    EXPECT_TRUE(far.Received() == expected);
    EXPECT_NE(run.Out().find("orvane-log: stopped after"), std::string::npos);
}

TEST_F(OrvaneLogRun, UnplugAndComeBackGivesASecondCaptureAndTheConfigurationAgain)
{
    auto far = std::make_unique<FarEnd>(pty);
    LogProcess run(Args());
    ASSERT_TRUE(Eventually([&] { return captures.Files().size() == 1; })) << run.Err();
    ASSERT_TRUE(PortReady(*far)) << run.Err();
    const std::string first = OnlyCapture();
    const Bytes a = Pattern(20000, 1);
    pty.Send(a);
    ASSERT_TRUE(Eventually([&] { return logclient_test::ReadFile(first).size() == a.size(); }));
    ASSERT_TRUE(Eventually([&] { return far->Size() >= DefaultFrames().size(); }));
    far.reset();
    pty.CloseMaster();   // unplugged
    ASSERT_TRUE(Eventually([&] { return run.Err().find("waiting for COM1") != std::string::npos; })) << run.Err();

    PtyPair again;       // plugged in again, under a new device name
    FarEnd farAgain(again);
    ports.Link("COM1", again.SlavePath());
    ASSERT_TRUE(Eventually([&] { return captures.Files().size() == 2; })) << run.Err();
    ASSERT_TRUE(Eventually([&] { return farAgain.Size() >= DefaultFrames().size(); })) << run.Err();
    EXPECT_TRUE(farAgain.Received() == DefaultFrames());
    const Bytes b = Pattern(20000, 2);
    again.Send(b);
    std::string second;
    for (const std::string& name : captures.Files())
        if (captures.Path() + "/" + name != first)
            second = captures.Path() + "/" + name;
    EXPECT_TRUE(Eventually([&] { return logclient_test::ReadFile(second).size() >= b.size(); }));
    EXPECT_EQ(run.Stop(SIGINT), kExitClean);

    EXPECT_TRUE(logclient_test::ReadFile(first) == a);
    EXPECT_TRUE(logclient_test::ReadFile(second) == b);
    const std::string err = run.Err();
    for (const char* line : {"device gone", "capture closed", "COM1 is back", "capturing into"}) {
        SCOPED_TRACE(line);
        EXPECT_NE(err.find(line), std::string::npos) << err;
    }
}

// A small filesystem fills up: the run ends with 4 and the reason, and the
// file holds exactly what fitted, from the start.
TEST_F(OrvaneLogRun, AFullDiskEndsTheRunWithTheReasonAndAnIntactFile)
{
    TempDir mountPoint;
    const SmallTmpfs tmpfs(mountPoint.Path(), std::size_t{64} << 10);
    if (!tmpfs.Mounted())
        GTEST_SKIP() << "no tmpfs could be mounted here (" << tmpfs.Error() << "): full-disk run skipped";

    FarEnd far(pty);
    LogProcess run({"COM1", "--dir", mountPoint.Path()});
    ASSERT_TRUE(Eventually([&] { return mountPoint.Files().size() == 1; })) << run.Err();
    ASSERT_TRUE(PortReady(far)) << run.Err();
    const Bytes sent = Pattern(400000, 9);
    // Sends until all is sent or the run has ended (nobody reads the rest then).
    std::atomic<bool> ended{false};
    fcntl(pty.Master(), F_SETFL, fcntl(pty.Master(), F_GETFL) | O_NONBLOCK);
    std::thread sender([&] {
        for (std::size_t done = 0; done < sent.size() && !ended;) {
            const ssize_t n = write(pty.Master(), sent.data() + done, std::min<std::size_t>(4096, sent.size() - done));
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else
                std::this_thread::sleep_for(5ms);
        }
    });
    const int status = run.Wait();
    ended = true;
    sender.join();
    EXPECT_EQ(status, kExitCapture) << run.Err();
    EXPECT_NE(run.Err().find("No space left on device"), std::string::npos) << run.Err();
    const Bytes file = logclient_test::ReadFile(mountPoint.Path() + "/" + mountPoint.Files().at(0));
    ASSERT_GT(file.size(), 0u);
    ASSERT_LT(file.size(), sent.size());
    EXPECT_TRUE(std::equal(file.begin(), file.end(), sent.begin()));
}

}  // namespace

namespace {

// The capture's folder is removed under a running capture: the run ends with
// 4 and says so, rather than writing on into a file nobody can find.
TEST_F(OrvaneLogRun, ARemovedCaptureEndsTheRun)
{
    TempDir parent;
    const std::string dir = parent.Path() + "/captures";
    ASSERT_TRUE(std::filesystem::create_directory(dir));
    FarEnd far(pty);
    LogProcess run({"COM1", "--dir", dir});
    ASSERT_TRUE(Eventually([&] { return !std::filesystem::is_empty(dir); })) << run.Err();
    pty.Send(Pattern(1000, 3));
    std::filesystem::remove_all(dir);
    EXPECT_EQ(run.Wait(), kExitCapture) << run.Err();
    EXPECT_NE(run.Err().find("Fail to write log file"), std::string::npos) << run.Err();
}

}  // namespace
