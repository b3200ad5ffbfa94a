#pragma once
// A stand-in for the main window in serial tests: one "window thread" that
// runs queued tasks in order, like a message loop. The port posts to it; it
// answers with HandleMessage and a receive handler that takes m_csRx and
// copies the chunk, as the real receive handler does.
#include "serial/SerialPort.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

class TestWindow final : public ISerialNotify {
public:
    explicit TestWindow(CSerialPort& port) : m_port(port), m_thread([this] { Loop(); })
    {
        port.SetNotifyWindow(this);
    }

    // The port is closed (on the window thread) before the window goes, so
    // the reader never posts to a window that no longer exists.
    ~TestWindow() override
    {
        Run([this] { m_port.Close(); });
        {
            std::lock_guard lock(m_lock);
            m_quit = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    // Reader thread.
    void PostToWindow(unsigned message, std::uint64_t ticket) override
    {
        {
            std::lock_guard lock(m_lock);
            ++posted;
        }
        Post([this, message, ticket] { Dispatch(message, ticket); });
        m_changed.notify_all();
    }

    // Any thread: queue a task for the window thread.
    void Post(std::function<void()> task)
    {
        {
            std::lock_guard lock(m_lock);
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_all();
    }

    // Runs `task` on the window thread and waits for it (the window's own
    // actions, such as Connect and Disconnect, run there).
    template <class Task>
    auto Run(Task task) -> decltype(task())
    {
        std::mutex doneLock;
        std::condition_variable doneCv;
        bool done = false;
        using Result = decltype(task());
        if constexpr (std::is_void_v<Result>) {
            Post([&] {
                task();
                std::lock_guard lock(doneLock);
                done = true;
                doneCv.notify_all();
            });
            std::unique_lock lock(doneLock);
            doneCv.wait(lock, [&] { return done; });
        } else {
            Result result{};
            Post([&] {
                result = task();
                std::lock_guard lock(doneLock);
                done = true;
                doneCv.notify_all();
            });
            std::unique_lock lock(doneLock);
            doneCv.wait(lock, [&] { return done; });
            return result;
        }
    }

    // Polls `condition` (under the window's record lock) until it holds or the deadline passes.
    bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, deadline, condition);
    }

    // What the window saw; read under Lock() or after WaitFor.
    std::unique_lock<std::mutex> Lock() { return std::unique_lock(m_lock); }
    std::vector<std::uint8_t> received;
    std::vector<std::uint32_t> chunks;
    int posted = 0;         // messages the port posted
    int rxHandled = 0;      // receive handlers that ran
    int rxRefused = 0;      // WM_COMM_RXCHAR whose hand-over was no longer pending
    int goneHandled = 0;    // WM_COMM_GONE whose handler ran (Disconnect steps)
    int goneRefused = 0;
    int events = 0;

    // Set before Open; runs on the window thread inside each receive handler.
    std::function<void()> onReceive;

private:
    void Dispatch(unsigned message, std::uint64_t ticket)
    {
        if (message == WM_COMM_RXCHAR) {
            const bool ran = m_port.HandleMessage(message, ticket, [this] {
                {
                    std::lock_guard rx(m_port.m_csRx);
                    std::lock_guard lock(m_lock);
                    const std::uint32_t count = m_port.m_nRxCount;
                    received.insert(received.end(), m_port.m_rxBuffer.begin(), m_port.m_rxBuffer.begin() + count);
                    chunks.push_back(count);
                    ++rxHandled;
                }
                if (onReceive)
                    onReceive();
            });
            std::lock_guard lock(m_lock);
            if (!ran)
                ++rxRefused;
        } else if (message == WM_COMM_GONE) {
            const bool ran = m_port.HandleMessage(message, ticket, [this] { m_port.Close(); });
            std::lock_guard lock(m_lock);
            ++(ran ? goneHandled : goneRefused);
        } else if (message == WM_COMM_EVENT) {
            const bool ran = m_port.HandleMessage(message, ticket, [] {});
            std::lock_guard lock(m_lock);
            if (ran)
                ++events;
        }
        m_changed.notify_all();
    }

    void Loop()
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(m_lock);
                m_wake.wait(lock, [this] { return m_quit || !m_tasks.empty(); });
                if (m_tasks.empty())
                    return;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
            m_changed.notify_all();
        }
    }

    CSerialPort& m_port;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_tasks;
    bool m_quit = false;
    std::thread m_thread;   // last: starts once the rest is built
};
