// SPDX-License-Identifier: GPL-2.0-or-later
// SIGTERM, SIGHUP and SIGINT end a running `orvane` as closing its window
// does. The real program runs as a child process on the offscreen platform;
// a Qt input plugin built for the tests clicks "Log client", "Connect" and
// "Load Default Cfg..." in it, so a capture is open and the port is set up
// when the signal comes.
#include "support/Fixtures.h"
#include "support/ChildProcess.h"
#include "support/DmFrames.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using fixture::ReadAll;

using namespace std::chrono_literals;

// Byte i of the stream is a byte of the 32-bit number i / 4: a hole shows.
Bytes Numbered(std::size_t count)
{
    Bytes out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint8_t>((i / 4) >> (8 * (i % 4)));
    return out;
}

std::string Text(const Bytes& bytes)
{
    return {bytes.begin(), bytes.end()};
}

// `orvane` started in startDir, its output in logPath; killed if still running
// when the object goes.
class OrvaneProcess {
public:
    OrvaneProcess(const std::string& startDir, const std::string& logPath)
    {
        std::vector<std::string> env = childproc::EnvironmentWithout({"QT_"});
        env.emplace_back("QT_QPA_PLATFORM=offscreen");
        env.emplace_back("QT_PLUGIN_PATH=" ORVANE_BINARY_DIR "/tests/plugins");
        env.emplace_back("QT_QPA_GENERIC_PLUGINS=orvaneclicker");
        env.emplace_back("ORVANE_TEST_CLICKS=IDC_MODE_LOG_CLIENT,IDC_CONNECT,IDC_CLEAR");
        const childproc::CStrings envp(std::move(env));
        const std::string program = ORVANE_BINARY_DIR "/app/orvane";
        const childproc::CStrings argv({program});

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        posix_spawn_file_actions_addchdir_np(&actions, startDir.c_str());
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.Get(), envp.Get());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            ADD_FAILURE() << "posix_spawn " << program << ": " << std::strerror(rc);
        else
            m_child.Adopt(pid);
    }

    bool Running() const { return m_child.Running(); }
    void Signal(int sig) const { m_child.Signal(sig); }
    // The wait status once it ended, or -1 when it is still running at the deadline.
    int Wait(std::chrono::milliseconds deadline) { return m_child.Wait(deadline).value_or(-1); }

private:
    childproc::Child m_child;
};

bool SameSettings(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag
        && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b)
        && cfgetospeed(&a) == cfgetospeed(&b);
}

}   // namespace

TEST(SignalStop, EndsAsClosingTheWindowDoes)
{
    struct Case {
        const char* name;
        int sig;
    };
    const Case cases[] = {
        {"SIGTERM", SIGTERM},
        {"SIGHUP", SIGHUP},
        {"SIGINT", SIGINT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPair pty;
        PortDir ports;
        ports.Link("COM1", pty.SlavePath());
        TempDir startDir, logs;
        const std::string log = logs.Path() + "/orvane.log";

        // The device's own settings, which Connect changes and closing restores:
        // 9600 baud and two stop bits, so that they differ from the tool's.
        termios before{};
        ASSERT_EQ(tcgetattr(pty.Master(), &before), 0);
        cfsetispeed(&before, B9600);
        cfsetospeed(&before, B9600);
        before.c_cflag |= CSTOPB;
        ASSERT_EQ(tcsetattr(pty.Master(), TCSANOW, &before), 0);
        ASSERT_EQ(tcgetattr(pty.Master(), &before), 0);

        OrvaneProcess orvane(startDir.Path(), log);
        ASSERT_TRUE(orvane.Running());
        // The first default packet shows that the clicks went through.
        EXPECT_EQ(pty.Receive(5, 30s), ReferenceFrame({0x60, 0x01})) << Text(ReadAll(log));
        ASSERT_EQ(startDir.Files().size(), 1u);
        const std::string capture = startDir.Path() + "/" + startDir.Files()[0];
        termios during{};
        ASSERT_EQ(tcgetattr(pty.Master(), &during), 0);
        EXPECT_FALSE(SameSettings(during, before)) << "Connect set the port up";

        const Bytes stream = Numbered(200000);
        pty.Send(stream);
        ASSERT_TRUE(childproc::WaitFor([&] { return std::filesystem::file_size(capture) == stream.size(); }, 30s))
            << std::filesystem::file_size(capture) << " of " << stream.size();

        orvane.Signal(c.sig);
        const int status = orvane.Wait(30s);
        ASSERT_NE(status, -1) << "still running";
        EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_TRUE(ReadAll(capture) == stream);
        EXPECT_EQ(startDir.Files().size(), 1u);
        termios after{};
        ASSERT_EQ(tcgetattr(pty.Master(), &after), 0);
        EXPECT_TRUE(SameSettings(after, before)) << "the port's own settings are back";
    }
}
