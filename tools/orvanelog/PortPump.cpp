// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/orvanelog/PortPump.h"

#include <algorithm>
#include <filesystem>
#include <unistd.h>

// A device path is opened as it was given (a /dev/serial/by-id/... name is
// far longer than the port's name field): the field shows its last
// component, as far as it fits, and the port opens, refuses and finds the
// device again at that path exactly as it does for "COMn".
CPortPump::CPortPump(const std::string& port)
{
    std::string name = port;
    if (port.find('/') != std::string::npos) {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(port, ec);
        m_port.SetDevicePath(ec ? port : absolute.string());
        name = std::filesystem::path(port).filename().string();
    }
    char* buffer = m_port.GetNameBuffer();
    const std::size_t length = std::min(name.size(), m_port.m_strPortName.size() - 1);
    std::copy_n(name.data(), length, buffer);
    buffer[length] = '\0';
    m_wake.Create();
    m_port.SetNotifyWindow(this);
    m_port.SetReaderThreadHandler(this);
}

CPortPump::~CPortPump()
{
    Close();
}

bool CPortPump::Open(const DCB& dcb)
{
    m_port.m_dcb = dcb;
    if (m_port.Open())
        return true;
    m_error = m_port.GetLastErrorText();
    return false;
}

void CPortPump::Close()
{
    m_port.Close();
}

std::string CPortPump::DevicePath() const
{
    return m_port.GetDevicePath();
}

int CPortPump::Write(std::span<const std::uint8_t> bytes)
{
    return m_port.Write(bytes.data(), static_cast<int>(bytes.size()));
}

std::uint32_t CPortPump::Queued() const
{
    return m_port.IsOpen() ? serialio::QueuedBytes(m_port.m_hComm) : 0;
}

// Reader thread for a chunk (valid while this runs; the reader reads on only
// after it returns); program thread, from Dispatch, for the device's going.
void CPortPump::OnCommMessage(const CommMessage& message)
{
    if (message.message == WM_COMM_RXCHAR) {
        if (m_onChunk)
            m_onChunk(message.chunk);
    } else if (message.message == WM_COMM_GONE && m_onGone) {
        (*m_onGone)();
    }
}

void CPortPump::Dispatch(const GoneHandler& onGone)
{
    m_wake.Drain();
    m_onGone = &onGone;
    // What waits now, up to a bound so that signals and timers still get
    // their turn whatever the reader posts.
    constexpr int kMaxHandOvers = 64;
    for (int n = 0; n < kMaxHandOvers && m_port.RunHandOver(); ++n) {
    }
    m_onGone = nullptr;
}
