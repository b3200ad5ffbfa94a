// SPDX-License-Identifier: GPL-2.0-or-later
#include "serial/SerialPort.h"

#include "serial/ReaderDrain.h"

#include <algorithm>
#include <cstring>
#include <system_error>

std::atomic<int> g_bThreadRun{0};
std::atomic<std::uint32_t> g_dwThreadId{0};
SerialTransfer g_osWrite;
std::thread g_hThread;
SerialTransfer g_osRead;
std::atomic<int> g_hCommShared{-1};
std::atomic<CSerialPort*> g_pActivePort{nullptr};

namespace {

constexpr std::chrono::milliseconds kWriteLimit{1000};
// Within a burst, how long the window waits for the line to deliver more
// before it lets the reader wait instead.
constexpr std::chrono::microseconds kBurstGap{200};

// The driver's queue of an open device, as the drain sees it.
class DeviceQueue final : public IQueuedSource {
public:
    explicit DeviceQueue(int fd) : m_fd(fd) {}
    std::uint32_t Queued() override { return serialio::QueuedBytes(m_fd); }
    serialio::ReadOutcome Read(std::uint8_t* buffer, std::uint32_t count) override
    {
        return serialio::ReadNonBlocking(m_fd, buffer, count);
    }
    // One read of the room left: it returns at once with what the line
    // discipline holds after the tty has pushed its buffers to it.
    serialio::ReadOutcome ReadMore(std::uint8_t* buffer, std::uint32_t room) override
    {
        return serialio::ReadNonBlocking(m_fd, buffer, room);
    }

private:
    int m_fd;
};

}  // namespace

CSerialPort::CSerialPort() : m_dcb(DefaultDcb())
{
    m_strPortName.fill(' ');
    m_strPortName.back() = 0;
}

CSerialPort::~CSerialPort()
{
    Close();
}

std::string CSerialPort::GetDevicePath() const
{
    if (!m_devicePath.empty())
        return m_devicePath;
    const auto end = std::find(m_strPortName.begin(), m_strPortName.end(), '\0');
    return serialio::ResolvePortName(std::string_view(m_strPortName.data(),
                                                      static_cast<std::size_t>(end - m_strPortName.begin())));
}

int CSerialPort::OpenFailed(const std::string& path, const serialio::SysError& error)
{
    m_device.Close();
    m_strLastError = (path.empty() ? std::string("(no device)") : path) + ": " + serialio::DescribeError(error);
    return 0;
}

// Window thread.
int CSerialPort::Open()
{
    if (m_strPortName[0] == '\0') {
        static constexpr char kNoName[] = "COM100";
        std::memcpy(m_strPortName.data(), kNoName, sizeof kNoName);
    }
    if (IsOpen())
        Close();
    m_strLastError.clear();

    const std::string path = GetDevicePath();
    if (serialio::SysError error = m_device.Open(path); error.Failed())
        return OpenFailed(path, error);
    // The reader's state is process-wide; a second open port would take it
    // over. (Checked after the device's own lock, so a second open of the
    // same device reads as the busy device it is.)
    if (CSerialPort* active = g_pActivePort.load(); active != nullptr && active != this)
        return OpenFailed(path, {{}, 0, "another port of this program is already open"});
    const DcbTranslation translation = TranslateDcb(m_dcb);
    if (!translation.ok)
        return OpenFailed(path, {{}, 0, translation.refusal});
    if (serialio::SysError error = m_device.Apply(translation.settings); error.Failed())
        return OpenFailed(path, error);
    if (m_mailbox.WakeFd() < 0)
        return OpenFailed(path, m_mailbox.WakeError());
    serialio::WakeEvent wake;
    if (serialio::SysError error = wake.Create(); error.Failed())
        return OpenFailed(path, error);

    m_hComm = m_device.Fd();
    PurgeAll();
    // Published before the reader starts, so its first wait is already on the device.
    g_hCommShared = m_hComm;
    g_osRead.hEvent = std::move(wake);
    g_pActivePort = this;
    m_mailbox.Open();
    g_bThreadRun = 1;
    try {
        g_hThread = std::thread(&CSerialPort::ReaderThreadProc, this);
    } catch (const std::system_error&) {
        g_bThreadRun = 0;   // the port still sends; nothing is received
    }
    return 1;
}

// Window thread. Never waits on a reader that waits on the window: the
// pending hand-over is cancelled before the join, and the wake-up event ends
// the reader's poll.
int CSerialPort::Close()
{
    if (m_hComm < 0)
        return 0;
    g_bThreadRun = 0;
    g_osRead.hEvent.Signal();
    m_mailbox.Cancel();
    if (g_hThread.joinable()) {
        if (g_hThread.get_id() == std::this_thread::get_id())
            g_hThread.detach();   // called from the reader itself: it ends on return
        else
            g_hThread.join();
    }
    g_dwThreadId = 0;
    g_hCommShared = -1;
    g_osRead.hEvent.Close();
    m_device.Close();   // puts the device's own settings back, releases the lock
    m_hComm = -1;
    g_pActivePort = nullptr;
    return 1;
}

int CSerialPort::IsOpen() const
{
    return m_hComm >= 0 ? 1 : 0;
}

int CSerialPort::GetState()
{
    if (!IsOpen())
        return 0;
    TermiosSettings current;
    if (m_device.Read(current).Failed())
        return 0;
    UpdateDcbFromTermios(m_dcb, current);
    return 1;
}

// Reader thread (and any caller while the port is open).
std::uint32_t CSerialPort::ReadQueued(std::uint8_t* buffer, std::uint32_t maximum)
{
    const int fd = g_hCommShared.load();
    if (fd < 0 || buffer == nullptr)
        return 0;
    DeviceQueue queue(fd);
    return ReadQueuedFrom(queue, buffer, maximum).count;
}

// Window thread.
int CSerialPort::Write(const std::uint8_t* data, int count)
{
    const int fd = g_hCommShared.load();
    if (m_hComm < 0 || fd < 0 || data == nullptr || count <= 0)
        return 0;
    g_osWrite.nRequested = static_cast<std::uint32_t>(count);
    const std::size_t written = serialio::WriteWithin(fd, data, static_cast<std::size_t>(count), kWriteLimit);
    g_osWrite.nTransferred = static_cast<std::uint32_t>(written);
    return static_cast<int>(written);
}

int CSerialPort::PurgeAll()
{
    return m_device.IsOpen() ? m_device.Purge() : 0;
}

void CSerialPort::SetNotifyWindow(ISerialNotify* window)
{
    m_hNotifyWnd = window;
}

char* CSerialPort::GetNameBuffer()
{
    return m_strPortName.data();
}

// Window thread, while the reader waits in the hand-over of the burst's
// first chunk: nobody else reads the device or the receive area.
std::span<const std::uint8_t> CSerialPort::ReadBurstChunk()
{
    const int fd = g_hCommShared.load();
    if (fd < 0 || !IsOpen())
        return {};
    DeviceQueue queue(fd);
    std::lock_guard lock(m_csRx);
    const std::span<std::uint8_t, kMaxChunk> area(m_rxBuffer.data(), kMaxChunk);
    serialio::ReadOutcome got = ReadChunk(queue, area);
    if (got.count == 0 && !got.gone && serialio::AwaitInput(fd, kBurstGap))
        got = ReadChunk(queue, area);
    // A device that went away ends the burst; the reader's own wait then
    // reports it.
    m_nRxCount = got.count;
    return {m_rxBuffer.data(), got.count};
}

// Window thread.
bool CSerialPort::RunHandOver(bool readBurst)
{
    if (m_hNotifyWnd == nullptr)
        return false;
    // The gone notice of a connection that Close already ended was dropped
    // by the mailbox; one that arrives while closed is stale as well.
    struct OpenOnly final : ISerialNotify {
        CSerialPort& port;
        explicit OpenOnly(CSerialPort& p) : port(p) {}
        void OnCommMessage(const CommMessage& message) override
        {
            if (message.message != WM_COMM_GONE || port.IsOpen())
                port.m_hNotifyWnd->OnCommMessage(message);
        }
    } window{*this};
    struct Burst final : IBurstSource {
        CSerialPort& port;
        explicit Burst(CSerialPort& p) : port(p) {}
        std::span<const std::uint8_t> ReadNext() override { return port.ReadBurstChunk(); }
    } burst{*this};
    return m_mailbox.RunPending(window, readBurst ? &burst : nullptr);
}

// Reader thread.
void CSerialPort::DeliverChunk(const std::uint8_t* data, std::uint32_t count)
{
    if (data == nullptr || count == 0 || m_hNotifyWnd == nullptr)
        return;
    count = std::min<std::uint32_t>(count, kMaxChunk);
    if (m_readerHandler != nullptr) {
        m_readerHandler->OnCommMessage({WM_COMM_RXCHAR, std::span<const std::uint8_t>(data, count), 0});
        return;
    }
    {
        std::lock_guard lock(m_csRx);
        m_nRxCount = count;
        std::memcpy(m_rxBuffer.data(), data, count);
    }
    m_mailbox.Send({WM_COMM_RXCHAR, std::span<const std::uint8_t>(m_rxBuffer.data(), count), 0});
}

// Reader thread.
void CSerialPort::NotifyLineEvent(std::uint32_t mask)
{
    if (m_hNotifyWnd == nullptr)
        return;
    m_dwEventMask = mask;
    m_mailbox.Send({WM_COMM_EVENT, {}, mask});
}

// Reader thread. Waits on the device and the wake-up event, drains what is
// queued chunk by chunk, and ends when Close clears the run flag or when the
// device goes away (then the window hears WM_COMM_GONE; the loop never spins
// on a dead descriptor).
unsigned CSerialPort::ReaderThreadProc(CSerialPort* port)
{
    g_dwThreadId = serialio::CurrentThreadId();
    const int device = g_hCommShared.load();
    const int wake = g_osRead.hEvent.Fd();
    DeviceQueue queue(device);
    std::array<std::uint8_t, kMaxChunk> chunk{};
    bool gone = false;

    while (g_bThreadRun.load() && !gone) {
        const serialio::WaitEvents events = serialio::WaitReadable(device, wake);
        if (events.woken)
            continue;   // only Close signals, after clearing the run flag
        if (events.readable) {
            std::uint32_t delivered = 0;
            gone = DrainQueued(queue, chunk,
                               [&](const std::uint8_t* data, std::uint32_t count) {
                                   delivered += count;
                                   port->DeliverChunk(data, count);
                               },
                               g_bThreadRun);
            // Readable with nothing queued: one read tells a spurious wake-up
            // (EAGAIN, nothing delivered) from an end of file that would
            // otherwise wake every poll again.
            if (!gone && delivered == 0 && !events.hangup && g_bThreadRun.load()) {
                const serialio::ReadOutcome probe = serialio::ReadNonBlocking(device, chunk.data(), kMaxChunk);
                if (probe.count > 0)
                    port->DeliverChunk(chunk.data(), probe.count);
                gone = probe.gone;
            }
        }
        if (events.hangup)
            gone = true;
    }
    if (gone && g_bThreadRun.load() && port->m_hNotifyWnd != nullptr)
        port->m_mailbox.PostGone();
    return 0;
}
