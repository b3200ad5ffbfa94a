// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A stand-in for the main window in serial tests: one "window thread" that
// runs queued tasks in order, like a message loop, and watches the port's
// wake descriptor as the dialog's notifier does: when it turns readable, the
// thread runs the port's hand-over, whose handler copies the chunk.
#include "serial/SerialPort.h"

#include <atomic>
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
    explicit TestWindow(CSerialPort& port) : m_port(port), m_tasksCreated(m_tasksWake.Create()), m_thread([this] { Loop(); })
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
        m_tasksWake.Signal();
        m_thread.join();
    }

    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    // Window thread, from the port's RunHandOver.
    void OnCommMessage(const CommMessage& message) override
    {
        if (message.message == WM_COMM_RXCHAR) {
            {
                std::lock_guard lock(m_lock);
                received.insert(received.end(), message.chunk.begin(), message.chunk.end());
                chunks.push_back(static_cast<std::uint32_t>(message.chunk.size()));
                ++rxHandled;
            }
            if (onReceive)
                onReceive();
        } else if (message.message == WM_COMM_GONE) {
            m_port.Close();   // the Disconnect steps
            std::lock_guard lock(m_lock);
            ++goneHandled;
        } else if (message.message == WM_COMM_EVENT) {
            std::lock_guard lock(m_lock);
            ++events;
        }
    }

    // Any thread: queue a task for the window thread.
    void Post(std::function<void()> task)
    {
        {
            std::lock_guard lock(m_lock);
            m_tasks.push_back(std::move(task));
        }
        m_tasksWake.Signal();
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

    // Any thread but the window's: polls `condition` (no lock held) until it
    // holds or the deadline passes, for states the window thread cannot
    // report while it is busy.
    static bool PollFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline = std::chrono::seconds(10))
    {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
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
    int rxHandled = 0;      // receive handlers that ran
    int emptyWakes = 0;     // wake-ups whose hand-over was no longer pending (cancelled or stale)
    int goneHandled = 0;    // WM_COMM_GONE whose handler ran (Disconnect steps)
    int events = 0;

    // Set before Open; runs on the window thread inside each receive handler.
    std::function<void()> onReceive;
    // Set before Open: the window reads the rest of a burst itself, as a capture does.
    std::atomic<bool> readBurst{false};

private:
    void Loop()
    {
        for (;;) {
            const serialio::WaitEvents events = serialio::WaitReadable(m_port.WakeFd(), m_tasksWake.Fd());
            if (events.readable && !m_port.RunHandOver(readBurst.load())) {
                std::lock_guard lock(m_lock);
                ++emptyWakes;
            }
            m_changed.notify_all();
            if (events.woken && !RunTasks())
                return;
        }
    }

    // Runs the queued tasks in order; false once the window is to quit.
    bool RunTasks()
    {
        m_tasksWake.Drain();
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(m_lock);
                if (m_tasks.empty())
                    return !m_quit;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
            m_changed.notify_all();
        }
    }

    CSerialPort& m_port;
    std::mutex m_lock;
    std::condition_variable m_changed;
    serialio::WakeEvent m_tasksWake;       // signalled for each queued task
    serialio::SysError m_tasksCreated;
    std::deque<std::function<void()>> m_tasks;
    bool m_quit = false;
    std::thread m_thread;   // last: starts once the rest is built
};
