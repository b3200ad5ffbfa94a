// SPDX-License-Identifier: GPL-2.0-or-later
// orvane-log as a lab service, end to end against a pseudo-terminal: the
// stop-logging frames at a clean exit, files that are not what they claim,
// the port opened before any capture, long device paths, a planted link,
// rotation, --keep, --min-free and systemd's notify socket.
#include "OrvaneLogProcess.h"
#include "dm/HdlcDeframer.h"
#include "logclient/CaptureFile.h"
#include "logclient/StopLogging.h"
#include "support/DiskFull.h"
#include "support/DmFrames.h"
#include "tools/orvanelog/Options.h"
#include "ui/LogClientFarEnd.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/ioctl.h>

namespace {

using namespace orvanelog_test;
using logclient_test::FarEnd;
using logclient_test::ReadFile;

template <class Pred>
bool Eventually(Pred pred, std::chrono::milliseconds deadline = 20s)
{
    return childproc::WaitFor(pred, deadline);
}

Bytes StopFrames()
{
    Bytes wire;
    for (const StopLoggingPacket& packet : StopLoggingPackets()) {
        const Bytes frame = ReferenceFrame(Bytes(packet.bytes.begin(), packet.bytes.end()));
        wire.insert(wire.end(), frame.begin(), frame.end());
    }
    return wire;
}

bool EndsWith(const Bytes& data, const Bytes& tail)
{
    return data.size() >= tail.size() && std::equal(tail.begin(), tail.end(), data.end() - static_cast<long>(tail.size()));
}

// The frames a modem streams: log packets of varying length, flags and
// escapes among their bytes.
Bytes Frames(std::size_t count, std::size_t seed)
{
    Bytes wire;
    for (std::size_t i = 0; i < count; ++i) {
        Bytes payload(40 + (i * 53 + seed) % 400);
        for (std::size_t k = 0; k < payload.size(); ++k)
            payload[k] = static_cast<std::uint8_t>(k * 7 + i + seed);
        payload[0] = 0x10;
        const Bytes frame = ReferenceFrame(payload);
        wire.insert(wire.end(), frame.begin(), frame.end());
    }
    return wire;
}

// The captures a run told, in the order it started them.
std::vector<std::string> CapturesTold(const std::string& err)
{
    std::vector<std::string> paths;
    std::istringstream lines(err);
    const std::string marker = "orvane-log: capturing into ";
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(marker, 0) == 0)
            paths.push_back(line.substr(marker.size()));
    return paths;
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) { ::setenv(name, value.c_str(), 1); }
    ~ScopedEnv() { ::unsetenv(m_name); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
};

class OrvaneLogService : public ::testing::Test {
protected:
    void SetUp() override { ports.Link("COM1", pty.SlavePath()); }

    PtyPair pty;
    PortDir ports;
    TempDir captures;
};

// A clean stop switches the modem's logging off with the window's three
// packets, after the configuration; --leave-logging sends none.
TEST_F(OrvaneLogService, ACleanStopSwitchesLoggingOff)
{
    struct Case {
        const char* name;
        int signal;   // 0: --duration
        bool leave;
    };
    const Case cases[] = {
        {"SIGTERM", SIGTERM, false}, {"SIGINT", SIGINT, false}, {"SIGHUP", SIGHUP, false},
        {"duration", 0, false},      {"SIGTERM, --leave-logging", SIGTERM, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FarEnd far(pty);
        std::vector<std::string> args{"COM1", "--defaults", "--dir", captures.Path()};
        if (c.leave)
            args.push_back("--leave-logging");
        if (c.signal == 0)
            args.insert(args.end(), {"--duration", "3"});
        LogProcess run(args);
        // The eleven default packets are out once the far end has seen 11 flags.
        ASSERT_TRUE(Eventually([&] {
            const Bytes wire = far.Received();
            return std::count(wire.begin(), wire.end(), 0x7E) >= 11;
        })) << run.Err();
        const int status = c.signal ? run.Stop(c.signal) : run.Wait();
        EXPECT_EQ(status, kExitClean) << run.Err();
        EXPECT_TRUE(Eventually([&] { return !c.leave ? EndsWith(far.Received(), StopFrames()) : true; }, 2s));
        EXPECT_EQ(EndsWith(far.Received(), StopFrames()), !c.leave);
    }
}

// The device went away: nothing is written to it at the stop.
TEST_F(OrvaneLogService, NoStopFramesToADeviceThatWentAway)
{
    auto far = std::make_unique<FarEnd>(pty);
    LogProcess run({"COM1", "--dir", captures.Path()});
    ASSERT_TRUE(Eventually([&] { return far->Size() > 0; })) << run.Err();
    far.reset();
    pty.CloseMaster();
    ASSERT_TRUE(Eventually([&] { return run.Err().find("waiting for COM1") != std::string::npos; })) << run.Err();
    EXPECT_EQ(run.Stop(SIGTERM), kExitClean);
    EXPECT_NE(run.Err().find("device gone: " + pty.SlavePath()), std::string::npos) << run.Err();
}

// A .dmc that is a FIFO, a directory or a device is refused at once (a
// blocking open of the FIFO would hang with the stop signals blocked); one
// with no list at all is refused unless --allow-empty.
TEST_F(OrvaneLogService, ConfigurationFilesThatAreNotWhatTheyClaim)
{
    TempDir files;
    const std::string fifo = files.Path() + "/pipe.dmc";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string empty = files.Path() + "/empty.dmc";
    std::ofstream(empty) << "<QXDMProfessional><Persistence/></QXDMProfessional>";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"fifo", {"--dmc", fifo}, kExitDmc, "pipe.dmc: not a regular file"},
        {"directory", {"--dmc", files.Path()}, kExitDmc, "not a regular file"},
        {"device", {"--dmc", "/dev/null"}, kExitDmc, "/dev/null: not a regular file"},
        {"missing", {"--dmc", files.Path() + "/none.dmc"}, kExitDmc, "none.dmc: not found"},
        {"no lists", {"--dmc", empty}, kExitDmc, "no configuration lists in it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"COM1", "--dir", captures.Path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        LogProcess run(args);
        EXPECT_EQ(run.Wait(5s), c.status) << run.Err();
        EXPECT_NE(run.Err().find(c.says), std::string::npos) << run.Err();
        EXPECT_NE(run.Err().find("Fail to load dmc file"), std::string::npos) << run.Err();
        EXPECT_EQ(run.Err().find("allocate"), std::string::npos) << run.Err();
        EXPECT_TRUE(captures.Files().empty());
    }
    FarEnd far(pty);
    LogProcess allowed({"COM1", "--dir", captures.Path(), "--dmc", empty, "--allow-empty"});
    ASSERT_TRUE(Eventually([&] { return captures.Files().size() == 1; })) << allowed.Err();
    EXPECT_EQ(allowed.Stop(SIGTERM), kExitClean) << allowed.Err();
}

// The port opens first: a port that fails says which device and why, and
// leaves no file; "capturing into" comes only after the open.
TEST_F(OrvaneLogService, APortThatFailsCreatesNoFile)
{
    TempDir files;
    ports.Link("COM2", files.Path() + "/no-such-tty");
    LogProcess run({"COM2", "--dir", captures.Path()});
    EXPECT_EQ(run.Wait(), kExitPort);
    EXPECT_NE(run.Err().find("cannot open COM2 (" + files.Path() + "/no-such-tty): "), std::string::npos)
        << run.Err();
    EXPECT_EQ(run.Err().find("capturing into"), std::string::npos) << run.Err();
    EXPECT_TRUE(captures.Files().empty());
}

// A long /dev/serial/by-id/... name is opened as given: no port directory
// of the program's own appears in the temporary folder.
// Symbolic links under dir (two levels deep) that resolve to target, but for the test's own.
std::vector<std::string> LinksTo(const std::string& target, const std::filesystem::path& dir,
                                 const std::vector<std::filesystem::path>& own)
{
    namespace fs = std::filesystem;
    std::vector<std::string> found;
    std::error_code ec;
    const fs::path want = fs::canonical(target, ec);
    for (auto it = fs::recursive_directory_iterator(dir, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it.depth() >= 1)
            it.disable_recursion_pending();
        std::error_code linkError;
        if (it->is_symlink(linkError) && std::find(own.begin(), own.end(), it->path()) == own.end() && fs::canonical(it->path(), linkError) == want)
            found.push_back(it->path().string());
    }
    return found;
}

TEST_F(OrvaneLogService, ALongDevicePathIsOpenedAsGiven)
{
    TempDir byId;
    const std::string link =
        byId.Path() + "/usb-Quectel_Wireless_Solutions_Co._Ltd._EM7565_Modem_0123456789ABCDEF-if00-port0";
    std::filesystem::create_symlink(pty.SlavePath(), link);
    const std::vector<std::string> before = LinksTo(pty.SlavePath(), std::filesystem::temp_directory_path(), {});
    FarEnd far(pty);
    LogProcess run({link, "--dir", captures.Path()});
    ASSERT_TRUE(Eventually([&] { return far.Size() > 0; })) << run.Err();
    const Bytes sent = Frames(50, 1);
    pty.Send(sent);
    ASSERT_TRUE(Eventually([&] { return captures.Files().size() == 1; }));
    const std::string path = captures.Path() + "/" + captures.Files()[0];
    EXPECT_TRUE(Eventually([&] { return ReadFile(path).size() >= sent.size(); }));
    // No new link to the device anywhere in the temporary folder (other
    // tests make and remove files there meanwhile, so their count says nothing).
    std::vector<std::string> links = LinksTo(pty.SlavePath(), std::filesystem::temp_directory_path(),
                                             {link, std::filesystem::path(ports.Path()) / "COM1"});
    std::erase_if(links, [&](const std::string& l) { return std::find(before.begin(), before.end(), l) != before.end(); });
    EXPECT_EQ(run.Stop(SIGTERM, 20s), kExitClean) << run.Err();
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), ReadFile(path).begin()));
    EXPECT_TRUE(links.empty()) << links.front();
}

// Links planted under the next captures' names are never followed: the
// capture takes another name and the link's target is untouched.
TEST_F(OrvaneLogService, APlantedLinkIsNotFollowed)
{
    TempDir elsewhere;
    const std::string target = elsewhere.Path() + "/precious";
    std::ofstream(target) << "keep me";
    const std::time_t now = std::time(nullptr);
    for (std::time_t t = now; t < now + 10; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        std::filesystem::create_symlink(target, captures.Path() + "/" + CCaptureFile::FileName(local));
    }
    FarEnd far(pty);
    LogProcess run({"COM1", "--dir", captures.Path()});
    ASSERT_TRUE(Eventually([&] { return !CapturesTold(run.Err()).empty(); })) << run.Err();
    pty.Send(Frames(20, 2));
    EXPECT_EQ(run.Stop(SIGTERM), kExitClean) << run.Err();
    const Bytes precious = ReadFile(target);
    EXPECT_EQ(std::string(precious.begin(), precious.end()), "keep me");
    const std::string capture = CapturesTold(run.Err()).at(0);
    EXPECT_FALSE(std::filesystem::is_symlink(capture)) << capture;
    EXPECT_NE(capture.find("-2.bin"), std::string::npos) << capture;
}

// Rotation and --keep in one run: the files told, put together, are the
// stream (up to what --keep removed); each decodes on its own; at most N
// remain and a file that is not of this run stays.
TEST_F(OrvaneLogService, RotatedCapturesAreTheStreamAndKeepLetsTheOldestGo)
{
    const std::string stranger = captures.Path() + "/01-01-00-00-00.bin";
    std::ofstream(stranger) << "not of this run";
    FarEnd far(pty);
    LogProcess run({"COM1", "--dir", captures.Path(), "--rotate-size", "8k", "--keep", "3", "--leave-logging"});
    ASSERT_TRUE(Eventually([&] { return far.Size() > 0; })) << run.Err();
    std::vector<Bytes> parts;
    Bytes sent;
    for (std::size_t i = 0; i < 10; ++i) {
        parts.push_back(Frames(40, i));
        sent.insert(sent.end(), parts.back().begin(), parts.back().end());
        pty.Send(parts.back());
    }
    // Every byte is in once the newest capture ends with the stream's last frame.
    const Bytes last(parts.back().end() - 200, parts.back().end());
    ASSERT_TRUE(Eventually([&] {
        const std::vector<std::string> told = CapturesTold(run.Err());
        return told.size() >= 8 && EndsWith(ReadFile(told.back()), last);
    })) << run.Err();
    EXPECT_EQ(run.Stop(SIGTERM), kExitClean) << run.Err();
    const std::vector<std::string> told = CapturesTold(run.Err());
    Bytes kept;
    std::size_t present = 0;
    for (const std::string& path : told) {
        if (!std::filesystem::exists(path))
            continue;
        ++present;
        const Bytes file = ReadFile(path);
        CHdlcDeframer deframer;
        std::vector<HdlcItem> items;
        deframer.Push(file, items);
        ASSERT_FALSE(items.empty()) << path;
        for (const HdlcItem& item : items)
            EXPECT_EQ(item.kind, HdlcItem::Kind::Frame) << path;
        kept.insert(kept.end(), file.begin(), file.end());
    }
    EXPECT_EQ(present, 3u) << run.Err();
    EXPECT_TRUE(EndsWith(sent, kept)) << "the kept files are the stream's end, in order";
    EXPECT_TRUE(std::filesystem::exists(stranger));
}

// --min-free on a small filesystem: the oldest captures of the run go, a
// file not of the run stays, and with none left to remove the run ends with 4.
TEST_F(OrvaneLogService, MinFreeRemovesTheOldestAndStopsWhenNoneIsLeft)
{
    TempDir mountPoint;
    const SmallTmpfs tmpfs(mountPoint.Path(), std::size_t{512} << 10);
    if (!tmpfs.Mounted())
        GTEST_SKIP() << "no tmpfs could be mounted here (" << tmpfs.Error() << "): --min-free runs skipped";
    const std::string stranger = mountPoint.Path() + "/01-01-00-00-00.bin";
    std::ofstream(stranger) << "not of this run";
    {
        FarEnd far(pty);
        LogProcess run({"COM1", "--dir", mountPoint.Path(), "--rotate-size", "32k", "--min-free", "300k"});
        ASSERT_TRUE(Eventually([&] { return far.Size() > 0; })) << run.Err();
        for (std::size_t i = 0; i < 25; ++i)
            pty.Send(Frames(60, i));   // about 600 kB in all
        ASSERT_TRUE(Eventually([&] { return run.Err().find("free)") != std::string::npos; })) << run.Err();
        EXPECT_EQ(run.Stop(SIGTERM), kExitClean) << run.Err();
        EXPECT_TRUE(std::filesystem::exists(stranger));
    }
    FarEnd far(pty);
    LogProcess run({"COM1", "--dir", mountPoint.Path(), "--min-free", "1G"});
    EXPECT_EQ(run.Wait(), kExitCapture) << run.Err();
    EXPECT_NE(run.Err().find("no earlier capture of this run is left to remove"), std::string::npos) << run.Err();
    EXPECT_TRUE(std::filesystem::exists(stranger));
}

// With NOTIFY_SOCKET set, systemd hears READY once the configuration went
// out, then STATUS, then the watchdog's pings; STOPPING at the stop.
TEST_F(OrvaneLogService, NotifySocketHearsReadyStatusAndPings)
{
    TempDir sockets;
    const std::string path = sockets.Path() + "/notify";
    const sysio::UniqueFd sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(sock.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    const ScopedEnv socketName("NOTIFY_SOCKET", path);
    const ScopedEnv watchdog("WATCHDOG_USEC", "400000");
    FarEnd far(pty);
    LogProcess run({"COM1", "--dir", captures.Path(), "--defaults"});
    std::vector<std::string> heard;
    const auto receive = [&] {
        std::array<char, 512> buffer{};
        pollfd p{sock.Get(), POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            const ssize_t n = ::recv(sock.Get(), buffer.data(), buffer.size(), 0);
            if (n > 0)
                heard.emplace_back(buffer.data(), static_cast<std::size_t>(n));
        }
    };
    ASSERT_TRUE(Eventually([&] {
        receive();
        return heard.size() >= 3;
    })) << run.Err();
    EXPECT_EQ(heard[0].rfind("READY=1\nSTATUS=" + captures.Path(), 0), 0u) << heard[0];
    EXPECT_NE(heard[0].find(" bytes, "), std::string::npos) << heard[0];
    EXPECT_EQ(heard[1], "WATCHDOG=1");
    EXPECT_EQ(run.Stop(SIGTERM), kExitClean);
    heard.clear();
    for (int i = 0; i < 5; ++i)
        receive();
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back(), "STOPPING=1");
}

// The live status line on a terminal fits its width, and follows it when the
// window is resized (SIGWINCH).
TEST_F(OrvaneLogService, TheStatusLineFitsTheTerminalAndFollowsItsWidth)
{
    PtyPair terminal;
    const auto setWidth = [&](unsigned short columns) {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = columns;
        ASSERT_EQ(ioctl(terminal.Master(), TIOCSWINSZ, &size), 0);
    };
    setWidth(60);
    // A deep capture folder makes the full line far wider than 60 columns.
    const std::string deep = captures.Path() + "/a-capture-folder-with-a-long-name/and-another-level-below-it";
    std::filesystem::create_directories(deep);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, terminal.SlavePath().c_str(), O_WRONLY | O_NOCTTY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const childproc::CStrings argv({kOrvaneLog, "COM1", "--dir", deep});
    pid_t pid = -1;
    FarEnd far(pty);
    ASSERT_EQ(posix_spawn(&pid, kOrvaneLog, &actions, nullptr, argv.Get(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    childproc::Child child(pid);
    // The widest redraw ("\r<line>\033[K") in what the terminal received.
    const auto widest = [&](std::chrono::milliseconds quiet) {
        const Bytes out = terminal.ReceiveUntilQuiet(quiet, 3s);
        std::size_t most = 0, length = 0;
        for (std::uint8_t b : out) {
            if (b == '\r' || b == 0x1B) {
                most = std::max(most, length);
                length = 0;
            } else if (b >= 0x20) {
                ++length;
            }
        }
        return std::max(most, length);
    };
    const std::size_t narrow = widest(1500ms);
    EXPECT_GT(narrow, 20u);
    EXPECT_LT(narrow, 60u);
    setWidth(200);
    child.Signal(SIGWINCH);
    terminal.ReceiveUntilQuiet(100ms, 1s);   // what was drawn before the resize was seen
    const std::size_t wide = widest(1500ms);
    EXPECT_GT(wide, 60u) << "the whole line fits now";
    EXPECT_LT(wide, 200u);
    child.Signal(SIGTERM);
    const std::optional<int> status = child.Wait(20s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == kExitClean);
}

}  // namespace
