#include "tools/orvanelog/PortPump.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

// The entry of the private port directory that names a device path.
constexpr const char* kAliasName = "DEVICE";

}  // namespace

// A device path does not fit the port's name buffer (and a name with a slash
// never reaches into a port directory), so it is named through a private port
// directory of one entry that links to it: the port then opens, refuses and
// finds the device again exactly as it does for "COMn".
CPortPump::CPortPump(const std::string& port)
{
    std::string name = port;
    if (port.find('/') != std::string::npos) {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/orvane-log.XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_aliasDir = pattern;
            std::error_code ec;
            const std::filesystem::path target = std::filesystem::absolute(port, ec);
            std::filesystem::create_symlink(ec ? std::filesystem::path(port) : target,
                                            std::filesystem::path(m_aliasDir) / kAliasName, ec);
            ::setenv("ORVANE_PORT_DIR", m_aliasDir.c_str(), 1);
        }
        name = kAliasName;
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
    if (!m_aliasDir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_aliasDir, ec);
    }
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
