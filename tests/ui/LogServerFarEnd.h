// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The DM client's end of the Log server tests: frames built bit by bit rather
// than with the tool's framer, and readers of the pty master that either run
// the window's events meanwhile or work on their own thread while the
// window's thread is busy in a replay.
#include "support/DmFrames.h"
#include "support/FakePrompts.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace logserver_test {

using ::Bytes;


inline Bytes HdlcFrame(const Bytes& payload)
{
    return ReferenceFrame(payload);
}

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& data)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    ASSERT_TRUE(out.good()) << path;
}

// Appends whatever the master end holds right now.
inline void DrainAvailable(int fd, Bytes& out)
{
    std::array<std::uint8_t, 4096> buf{};
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN))
            return;
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n <= 0)
            return;
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
}

// Reads at the master end while the window's events run, until count bytes
// have come or the deadline has passed.
inline Bytes ReadPumping(int fd, std::size_t count, int deadlineMs = 5000)
{
    Bytes got;
    WaitUntil([&] {
        DrainAvailable(fd, got);
        return got.size() >= count;
    }, deadlineMs);
    return got;
}

// Runs the window's events and collects what arrives until nothing has come
// for quietMs: for checking that nothing is sent.
inline Bytes ReadPumpingUntilQuiet(int fd, int quietMs = 300)
{
    Bytes got;
    std::size_t seen = 0;
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < quietMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        DrainAvailable(fd, got);
        if (got.size() != seen) {
            seen = got.size();
            quiet.restart();
        }
    }
    return got;
}

// Reads the master end on its own thread while the window's thread is busy in
// a synchronous replay.
class BackgroundReader {
public:
    BackgroundReader(int fd, std::size_t expected)
        : m_thread([this, fd, expected](std::stop_token stop) { Run(stop, fd, expected); })
    {
    }
    Bytes Take()
    {
        m_thread.join();
        return m_data;
    }

private:
    void Run(const std::stop_token& stop, int fd, std::size_t expected)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::array<std::uint8_t, 4096> buf{};
        while (m_data.size() < expected && !stop.stop_requested() && std::chrono::steady_clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0 || !(p.revents & POLLIN))
                continue;
            const ssize_t n = read(fd, buf.data(), buf.size());
            if (n > 0)
                m_data.insert(m_data.end(), buf.begin(), buf.begin() + n);
        }
    }
    Bytes m_data;
    std::jthread m_thread;
};

}  // namespace logserver_test
