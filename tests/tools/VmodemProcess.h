// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The real orvane-vmodem program as a child process of a test.
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vmtest {

using namespace std::chrono_literals;

inline const char* const kBinary = ORVANE_BINARY_DIR "/tools/vmodem/orvane-vmodem";

// One orvane-vmodem child: started with arguments (and optional extra
// environment), its first output line read as the device path.
class VmodemProcess {
public:
    explicit VmodemProcess(std::vector<std::string> args, std::vector<std::string> env = {})
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe2: " << std::strerror(errno);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        args.insert(args.begin(), kBinary);
        const childproc::CStrings argv(std::move(args));
        std::vector<std::string> envStore = childproc::EnvironmentWithout({});
        envStore.insert(envStore.end(), env.begin(), env.end());
        const childproc::CStrings envp(std::move(envStore));
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, kBinary, &actions, nullptr, argv.Get(), envp.Get());
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        m_stdout = out[0];
        if (rc != 0)
            ADD_FAILURE() << "posix_spawn " << kBinary << ": " << std::strerror(rc);
        else
            m_child.Adopt(pid);
    }

    ~VmodemProcess()
    {
        if (m_stdout >= 0)
            close(m_stdout);
    }
    VmodemProcess(const VmodemProcess&) = delete;
    VmodemProcess& operator=(const VmodemProcess&) = delete;

    // Everything the program printed until it closed its output or the deadline passed.
    std::string ReadOutput(std::chrono::milliseconds deadline = 10s, bool firstLineOnly = false)
    {
        std::string text;
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (!(firstLineOnly && text.find('\n') != std::string::npos)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{m_stdout, POLLIN, 0};
            const int r = poll(&p, 1, static_cast<int>(left.count()));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            char c;
            const ssize_t n = read(m_stdout, &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            text.push_back(c);
        }
        return text;
    }

    std::string DevicePath()
    {
        std::string line = ReadOutput(10s, true);
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        return line;
    }

    // Sends `sig` and returns the exit status, or -1 if it did not exit normally in time.
    int Stop(int sig = SIGTERM, std::chrono::milliseconds deadline = 10s)
    {
        if (!m_child.Running())
            return -1;
        m_child.Signal(sig);
        return Wait(deadline);
    }

    int Wait(std::chrono::milliseconds deadline = 10s)
    {
        const std::optional<int> status = m_child.Wait(deadline);
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

private:
    childproc::Child m_child;
    int m_stdout = -1;
};

}  // namespace vmtest
