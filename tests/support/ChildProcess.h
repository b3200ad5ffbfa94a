// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Child processes for tests and benchmarks: the argument and environment
// arrays posix_spawn takes, and an owner that kills and reaps its child so a
// failed test leaves no program running behind it.
#include "sys/SysIo.h"

#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace childproc {

// Strings held together with the null-terminated array of pointers into them
// that posix_spawn and exec take for argv and envp.
class CStrings {
public:
    explicit CStrings(std::vector<std::string> strings) : m_strings(std::move(strings))
    {
        for (std::string& s : m_strings)
            m_pointers.push_back(s.data());
        m_pointers.push_back(nullptr);
    }
    CStrings(const CStrings&) = delete;
    CStrings& operator=(const CStrings&) = delete;

    char* const* Get() const { return m_pointers.data(); }

private:
    std::vector<std::string> m_strings;
    std::vector<char*> m_pointers;
};

// This process's environment less every entry that starts with one of prefixes.
inline std::vector<std::string> EnvironmentWithout(std::initializer_list<std::string_view> prefixes)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        bool drop = false;
        for (const std::string_view prefix : prefixes)
            drop = drop || entry.starts_with(prefix);
        if (!drop)
            env.emplace_back(entry);
    }
    return env;
}

// Whether pred holds by the deadline, looked at every 10 ms: waiting for a
// condition, never timing it.
template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A child's pid: killed and reaped when the owner goes, unless it was waited
// for to its end.
class Child {
public:
    Child() = default;
    explicit Child(pid_t pid) : m_pid(pid) {}
    ~Child()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            int status = 0;
            sysio::RetryEintr([&] { return waitpid(m_pid, &status, 0); });
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Takes over a pid that posix_spawn filled in.
    void Adopt(pid_t pid) { m_pid = pid; }
    pid_t Pid() const { return m_pid; }
    bool Running() const { return m_pid > 0; }
    void Signal(int sig) const
    {
        if (m_pid > 0)
            kill(m_pid, sig);
    }

    // The wait status once the child has ended; nothing when it still runs at
    // the deadline or cannot be waited for.
    std::optional<int> Wait(std::chrono::milliseconds deadline)
    {
        if (m_pid <= 0)
            return std::nullopt;
        int status = 0;
        bool failed = false;
        const bool ended = WaitFor(
            [&] {
                const pid_t r = waitpid(m_pid, &status, WNOHANG);
                failed = r < 0 && errno != EINTR;
                return r == m_pid || failed;
            },
            deadline);
        if (!ended || failed)
            return std::nullopt;
        m_pid = -1;
        return status;
    }

private:
    pid_t m_pid = -1;
};

}  // namespace childproc
