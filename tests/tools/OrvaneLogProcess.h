// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The real orvane-log program as a child process of a test: its standard
// output and error go to files the test reads when it has ended.
#include "support/ChildProcess.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvanelog_test {

using namespace std::chrono_literals;

inline const char* const kOrvaneLog = ORVANE_BINARY_DIR "/tools/orvanelog/orvane-log";

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class LogProcess {
public:
    // Starts orvane-log with args; the port directory is $ORVANE_PORT_DIR as
    // the test set it (PortDir).
    explicit LogProcess(std::vector<std::string> args)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, OutPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, ErrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        args.insert(args.begin(), kOrvaneLog);
        const childproc::CStrings argv(std::move(args));
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, kOrvaneLog, &actions, nullptr, argv.Get(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            ADD_FAILURE() << "posix_spawn " << kOrvaneLog << ": " << std::strerror(rc);
        else
            m_child.Adopt(pid);
    }

    // The exit status, or -1 when it did not exit by itself before the deadline.
    int Wait(std::chrono::milliseconds deadline = 20s)
    {
        const std::optional<int> status = m_child.Wait(deadline);
        if (!status)
            return -1;
        return WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
    }
    int Stop(int sig, std::chrono::milliseconds deadline = 20s)
    {
        m_child.Signal(sig);
        return Wait(deadline);
    }

    pid_t Pid() const { return m_child.Pid(); }
    std::string Out() const { return ReadText(OutPath()); }
    std::string Err() const { return ReadText(ErrPath()); }

private:
    std::string OutPath() const { return m_files.Path() + "/stdout"; }
    std::string ErrPath() const { return m_files.Path() + "/stderr"; }

    TempDir m_files;
    childproc::Child m_child;
};

}  // namespace orvanelog_test
