// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
void MakeRaw(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
}
}  // namespace

PtyPair::PtyPair()
{
    char name[256] = {};
    if (openpty(&m_master, &m_slaveKeepAlive, name, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "openpty: " << std::strerror(errno);
        return;
    }
    m_slavePath = name;
    MakeRaw(m_master);
    MakeRaw(m_slaveKeepAlive);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slaveKeepAlive, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair()
{
    CloseMaster();
    if (m_slaveKeepAlive >= 0)
        close(m_slaveKeepAlive);
}

void PtyPair::CloseMaster()
{
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
}

void PtyPair::Send(const std::vector<std::uint8_t>& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(m_master, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{m_master, POLLOUT, 0};
            poll(&p, 1, 100);
            continue;
        }
        ASSERT_GT(n, 0) << "write to pty master: " << std::strerror(errno);
        done += static_cast<std::size_t>(n);
    }
}

std::vector<std::uint8_t> PtyPair::Receive(std::size_t count, std::chrono::milliseconds deadline)
{
    std::vector<std::uint8_t> out;
    const auto end = std::chrono::steady_clock::now() + deadline;
    std::uint8_t buf[4096];
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{m_master, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        const ssize_t n = read(m_master, buf, std::min(sizeof buf, count - out.size()));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

std::vector<std::uint8_t> PtyPair::ReceiveUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds deadline)
{
    std::vector<std::uint8_t> out;
    const auto end = std::chrono::steady_clock::now() + deadline;
    std::uint8_t buf[4096];
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{m_master, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(quiet.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        const ssize_t n = read(m_master, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

namespace {
std::string MakeTempDir(const char* stem)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return {};
    }
    return pattern;
}
}  // namespace

PortDir::PortDir() : m_path(MakeTempDir("orvane-ports"))
{
    if (const char* previous = std::getenv("ORVANE_PORT_DIR")) {
        m_previous = previous;
        m_hadPrevious = true;
    }
    setenv("ORVANE_PORT_DIR", m_path.c_str(), 1);
}

PortDir::~PortDir()
{
    if (m_hadPrevious)
        setenv("ORVANE_PORT_DIR", m_previous.c_str(), 1);
    else
        unsetenv("ORVANE_PORT_DIR");
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void PortDir::Link(const std::string& name, const std::string& target)
{
    const std::string link = m_path + "/" + name;
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(target, link, ec);
    ASSERT_FALSE(ec) << "symlink " << link << ": " << ec.message();
}

TempDir::TempDir() : m_path(MakeTempDir("orvane-test")) {}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::vector<std::string> TempDir::Files() const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_path, ec))
        if (entry.is_regular_file())
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
