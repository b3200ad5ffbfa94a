// SPDX-License-Identifier: GPL-2.0-or-later
#include "serial/CommMailbox.h"

#include "serial/SerialPort.h"

CCommMailbox::CCommMailbox() : m_wakeError(m_wake.Create()) {}

void CCommMailbox::Open()
{
    std::lock_guard lock(m_lock);
    m_cancelled = false;
    m_gone = false;
    m_slot = Slot::Empty;
}

void CCommMailbox::Cancel()
{
    {
        std::lock_guard lock(m_lock);
        m_cancelled = true;
        m_gone = false;
        if (m_slot == Slot::Waiting)
            m_slot = Slot::Empty;
        // A Running slot belongs to a handler further down this thread's
        // stack; it clears its own slot when it returns.
    }
    m_released.notify_all();
}

bool CCommMailbox::Waiting() const
{
    std::lock_guard lock(m_lock);
    return m_slot == Slot::Waiting || m_gone;
}

bool CCommMailbox::StillRunning(std::uint64_t ticket) const
{
    std::lock_guard lock(m_lock);
    return !m_cancelled && m_slot == Slot::Running && m_ticket == ticket;
}

void CCommMailbox::RunBurst(ISerialNotify& handler, IBurstSource& burst, std::uint64_t ticket)
{
    const auto end = std::chrono::steady_clock::now() + kBurstBudget;
    while (StillRunning(ticket) && std::chrono::steady_clock::now() < end) {
        const std::span<const std::uint8_t> chunk = burst.ReadNext();
        if (chunk.empty())
            return;
        handler.OnCommMessage({WM_COMM_RXCHAR, chunk, 0});
    }
}

bool CCommMailbox::RunPending(ISerialNotify& handler, IBurstSource* burst)
{
    m_wake.Drain();
    std::unique_lock lock(m_lock);
    if (m_slot == Slot::Waiting) {
        m_slot = Slot::Running;
        const CommMessage message = m_message;
        const std::uint64_t ticket = m_ticket;
        lock.unlock();
        // Releases the reader however the handler ends.
        struct Release {
            CCommMailbox& box;
            std::uint64_t ticket;
            ~Release()
            {
                {
                    std::lock_guard lock(box.m_lock);
                    if (box.m_ticket == ticket && box.m_slot == Slot::Running)
                        box.m_slot = Slot::Empty;
                }
                box.m_released.notify_all();
            }
        } release{*this, ticket};
        handler.OnCommMessage(message);
        if (burst != nullptr && message.message == WM_COMM_RXCHAR)
            RunBurst(handler, *burst, ticket);
        return true;
    }
    if (m_gone) {
        m_gone = false;
        lock.unlock();
        handler.OnCommMessage({WM_COMM_GONE, {}, 0});
        return true;
    }
    return false;
}

bool CCommMailbox::Send(const CommMessage& message)
{
    std::unique_lock lock(m_lock);
    if (m_cancelled || m_wake.Fd() < 0)
        return false;
    const std::uint64_t ticket = m_nextTicket++;
    m_message = message;
    m_ticket = ticket;
    m_slot = Slot::Waiting;
    lock.unlock();
    m_wake.Signal();
    lock.lock();
    m_released.wait(lock, [&] { return m_ticket != ticket || m_slot == Slot::Empty || m_cancelled; });
    const bool handled = !m_cancelled;
    if (m_ticket == ticket && m_slot == Slot::Waiting)
        m_slot = Slot::Empty;   // cancelled: a late RunPending finds nothing
    return handled;
}

void CCommMailbox::PostGone()
{
    {
        std::lock_guard lock(m_lock);
        if (m_cancelled || m_wake.Fd() < 0)
            return;   // Close is already under way
        m_gone = true;
    }
    m_wake.Signal();
}
