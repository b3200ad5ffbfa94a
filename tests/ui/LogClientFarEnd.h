// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The modem's end of the Log client tests: a thread that keeps reading what
// the tool writes to the pseudo-terminal (so the tool's writes never stall on
// a full tty while the test holds the window's thread), and the frames the
// modem expects, built here bit by bit rather than with the tool's framer.
#include "support/DmFrames.h"
#include "support/FakePrompts.h"
#include "support/Pty.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace logclient_test {

using ::Bytes;


inline Bytes HdlcFrame(const Bytes& payload)
{
    return ReferenceFrame(payload);
}

inline Bytes Framed(const std::vector<Bytes>& packets)
{
    Bytes out;
    for (const Bytes& p : packets) {
        const Bytes f = HdlcFrame(p);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

// Splits the wire at the closing flags and undoes the escapes; the FCS stays.
inline std::vector<Bytes> Unframe(const Bytes& wire)
{
    std::vector<Bytes> frames;
    Bytes cur;
    bool escaped = false;
    for (std::uint8_t b : wire) {
        if (b == 0x7E) {
            frames.push_back(cur);
            cur.clear();
        } else if (b == 0x7D) {
            escaped = true;
        } else {
            cur.push_back(escaped ? static_cast<std::uint8_t>(b ^ 0x20) : b);
            escaped = false;
        }
    }
    return frames;
}

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class FarEnd {
public:
    explicit FarEnd(PtyPair& pty) : m_pty(pty), m_thread([this] { Run(); }) {}
    ~FarEnd()
    {
        m_stop = true;
        m_thread.join();
    }
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    Bytes Received() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    std::size_t Size() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received.size();
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.clear();
    }
    // Pumps the window's events until size bytes arrived; then a little more
    // so that anything unexpected behind them shows too.
    Bytes WaitFor(std::size_t size, int deadlineMs = 10000)
    {
        WaitUntil([&] { return Size() >= size; }, deadlineMs);
        PumpEvents(150);
        return Received();
    }

private:
    void Run()
    {
        std::uint8_t buf[4096];
        while (!m_stop) {
            pollfd p{m_pty.Master(), POLLIN, 0};
            const int r = poll(&p, 1, 20);
            if (r <= 0)
                continue;
            if (!(p.revents & POLLIN)) {
                poll(nullptr, 0, 20);   // hung up until the tool opens its end again
                continue;
            }
            const ssize_t n = read(m_pty.Master(), buf, sizeof buf);
            if (n <= 0)
                continue;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received.insert(m_received.end(), buf, buf + n);
        }
    }

    PtyPair& m_pty;
    mutable std::mutex m_mutex;
    Bytes m_received;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}   // namespace logclient_test
