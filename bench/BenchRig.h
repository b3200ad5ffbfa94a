// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the window benchmarks share: a raw pseudo-terminal pair whose master
// end plays the modem, a scratch folder holding the port directory ("COM1"
// points at the pty) and the start-up directory, prompts that record instead
// of asking, and the process's resident memory.
#include "sys/SysIo.h"
#include "ui/Prompts.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QString>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace benchrig {

using Clock = std::chrono::steady_clock;

inline double Millis(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

inline double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Message boxes are recorded (none are expected); file dialogs are cancelled.
class QuietPrompts final : public IPrompts {
public:
    void MessageBox(const QString& text, Icon, const QString&) override { boxes.push_back(text); }
    std::optional<QString> GetOpenFileName(const QString&) override { return std::nullopt; }
    std::vector<QString> boxes;
};

// An owned descriptor: the one owner every module uses.
using Fd = sysio::UniqueFd;

// A raw pty pair. The master end is non-blocking by default so that a writer
// can stop on time (benchmarks that measure plain blocking writes ask for a
// blocking one); the slave stays open here so the pty lives while the tool is
// closed.
class Pty {
public:
    explicit Pty(bool nonBlockingMaster = true)
    {
        int master = -1;
        int slave = -1;
        std::array<char, 256> name{};
        if (openpty(&master, &slave, name.data(), nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        m_master = master;
        m_slave = slave;
        m_path = name.data();
        for (int fd : {master, slave}) {
            termios tio{};
            tcgetattr(fd, &tio);
            cfmakeraw(&tio);
            tcsetattr(fd, TCSANOW, &tio);
        }
        if (nonBlockingMaster)
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty()
    {
        close(m_master);
        close(m_slave);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int Master() const { return m_master; }
    const std::string& SlavePath() const { return m_path; }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

// A scratch folder with ports/COM1 -> the pty slave and an empty start-up
// directory; $ORVANE_PORT_DIR names its port directory while it lives.
class Scratch {
public:
    explicit Scratch(const std::string& slavePath = {})
    {
        std::string templ = (std::filesystem::temp_directory_path() / "orvane-bench-XXXXXX").string();
        if (mkdtemp(templ.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = templ;
        std::filesystem::create_directory(Ports());
        std::filesystem::create_directory(StartDir());
        if (!slavePath.empty())
            std::filesystem::create_symlink(slavePath, Ports() / "COM1");
        setenv("ORVANE_PORT_DIR", Ports().c_str(), 1);
    }
    ~Scratch()
    {
        unsetenv("ORVANE_PORT_DIR");
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    std::filesystem::path Ports() const { return m_path / "ports"; }
    std::filesystem::path StartDir() const { return m_path / "start"; }

private:
    std::filesystem::path m_path;
};

// "VmRSS:" of /proc/<pid>/status in MiB ("self" for this process); -1 if unreadable.
inline double ResidentMiB(const std::string& pid = "self")
{
    std::ifstream status("/proc/" + pid + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kib = -1;
            status >> kib;
            return kib / 1024.0;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

// Writes random bytes to the far end until the time is up or maxBytes went
// out, and throws away whatever the tool sends meanwhile. A full pty makes it
// wait for the tool, so it writes exactly as fast as the tool reads.
class FarEndWriter {
public:
    explicit FarEndWriter(int master) : m_master(master) {}
    ~FarEndWriter() { Stop(); }
    FarEndWriter(const FarEndWriter&) = delete;
    FarEndWriter& operator=(const FarEndWriter&) = delete;

    void Start(Clock::duration length, std::uint64_t maxBytes)
    {
        m_thread = std::thread([this, length, maxBytes] { Run(length, maxBytes); });
    }
    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    bool Done() const { return m_done; }
    bool Failed() const { return m_failed; }
    std::uint64_t Written() const { return m_written; }

private:
    void Run(Clock::duration length, std::uint64_t maxBytes)
    {
        std::vector<std::uint8_t> data(std::size_t{1} << 16);
        std::mt19937 rng(4);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(rng());
        std::array<std::uint8_t, 4096> sink{};
        const auto stopAt = Clock::now() + length;
        std::size_t offset = 0;
        while (!m_stop && Clock::now() < stopAt && m_written < maxBytes) {
            pollfd p{m_master, POLLOUT | POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            if (p.revents & POLLIN) {
                while (read(m_master, sink.data(), sink.size()) > 0) {
                }
            }
            if (!(p.revents & POLLOUT))
                continue;
            const std::size_t room = std::min<std::uint64_t>(data.size() - offset, maxBytes - m_written);
            const ssize_t n = sysio::RetryEintr([&] { return write(m_master, data.data() + offset, room); });
            if (n > 0) {
                m_written += static_cast<std::uint64_t>(n);
                offset = (offset + static_cast<std::size_t>(n)) % data.size();
            } else if (n < 0 && errno != EAGAIN) {
                m_failed = true;
                break;
            }
        }
        m_done = true;
    }

    int m_master;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_failed{false};
    std::atomic<std::uint64_t> m_written{0};
};

// Runs the event loop until pred() holds or deadlineMs passed; returns pred().
// The loop sleeps between events (a busy processEvents loop would take the
// CPU from the reader thread); pred() is looked at every millisecond.
template <class Pred>
bool PumpUntil(Pred pred, int deadlineMs)
{
    if (pred())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    check.setInterval(1);
    const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (pred() || Clock::now() >= deadline)
            loop.quit();
    });
    check.start();
    loop.exec();
    return pred();
}

// Runs the event loop for ms milliseconds.
inline void Pump(int ms)
{
    PumpUntil([] { return false; }, ms);
}

}  // namespace benchrig
