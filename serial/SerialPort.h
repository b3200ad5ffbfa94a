// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// CSerialPort: the one serial device the tool talks to, its settings record,
// its reader thread and its bounded write.
//
// Threads: every public operation runs on the window's thread, except the
// reader's own (ReaderThreadProc, ReadQueued, DeliverChunk, NotifyLineEvent).
// The reader hands each chunk to the window through the port's mailbox
// (serial/CommMailbox.h): the window watches WakeFd and calls RunHandOver,
// which runs its OnCommMessage with the chunk; the reader waits for that, or
// until Close cancels the hand-over.
#include "serial/CommMailbox.h"
#include "serial/Dcb.h"
#include "serial/SerialPlatform.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>

inline constexpr unsigned WM_USER = 0x0400;
inline constexpr unsigned WM_COMM_RXCHAR = WM_USER + 1;  // a chunk of received bytes (synchronous)
inline constexpr unsigned WM_COMM_EVENT = WM_USER + 2;   // a modem-line event and its mask (synchronous)
inline constexpr unsigned WM_COMM_GONE = WM_USER + 5;    // the device went away; the reader has ended (posted)

inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RING = 0x0100;

inline constexpr std::size_t kMaxChunk = 8192;

class CSerialPort {
public:
    CSerialPort();
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    int Open();
    int Close();
    int IsOpen() const;
    int GetState();
    int Write(const std::uint8_t* data, int count);
    int PurgeAll();
    void SetNotifyWindow(ISerialNotify* window);
    char* GetNameBuffer();

    // Window thread: the descriptor that turns readable when the reader has a
    // message for the window (valid for the port's whole life; -1 if it could
    // not be created, and then Open fails).
    int WakeFd() const { return m_mailbox.WakeFd(); }
    // Window thread, when WakeFd is readable: runs the notify window's
    // OnCommMessage for the message that waits, if any, and releases the
    // reader. Returns whether it ran. A gone notice runs only while the
    // connection that posted it is still open. With readBurst, a received
    // chunk is followed by the rest of its burst, read on this thread while
    // the reader is held (see CCommMailbox::RunPending): each chunk is still
    // handled before the next read.
    bool RunHandOver(bool readBurst = false);
    // Any thread: the reader waits for the window (a chunk or event is in the
    // mailbox) or a gone notice waits.
    bool HandOverWaiting() const { return m_mailbox.Waiting(); }

    // For a driver with no window thread (the headless logger): the reader
    // gives each chunk to `handler` on its own thread, before its next read,
    // instead of handing it over through the mailbox; line events and the gone
    // notice still come through the mailbox. Set while the port is closed.
    void SetReaderThreadHandler(ISerialNotify* handler) { m_readerHandler = handler; }

    // Why the last Open failed, for the user: "<device path>: <reason>".
    const std::string& GetLastErrorText() const { return m_strLastError; }
    // The device path the current port name resolves to, or the path given
    // to SetDevicePath.
    std::string GetDevicePath() const;
    // Opens this device path rather than what the name resolves to (a long
    // /dev/serial/by-id/... path does not fit the name field); empty: the
    // name again. Set while the port is closed.
    void SetDevicePath(std::string path) { m_devicePath = std::move(path); }

    // Reader thread.
    void DeliverChunk(const std::uint8_t* data, std::uint32_t count);
    static unsigned ReaderThreadProc(CSerialPort* port);

    // Kept for the interface; they have no work on Linux. ReadQueued reads
    // what the driver holds (the reader drains through serial/ReaderDrain.h);
    // NotifyLineEvent hands a line-event mask over, but the reader listens
    // for received characters only and never calls it.
    std::uint32_t ReadQueued(std::uint8_t* buffer, std::uint32_t maximum);
    void NotifyLineEvent(std::uint32_t mask);

    DCB m_dcb;
    std::array<char, 15> m_strPortName;
    int m_hComm = -1;

private:
    std::string m_devicePath;   // SetDevicePath's; empty: resolve the name
    int OpenFailed(const std::string& path, const serialio::SysError& error);
    // Window thread, within a hand-over: the burst's next chunk, read into
    // the receive area.
    std::span<const std::uint8_t> ReadBurstChunk();

    // The receive area: the reader copies each chunk in under m_csRx; the
    // window reads it through the mailbox while the reader waits.
    std::mutex m_csRx;
    std::array<std::uint8_t, kMaxChunk + 1> m_rxBuffer{};
    std::uint32_t m_nRxCount = 0;
    std::uint32_t m_dwEventMask = 0;
    ISerialNotify* m_hNotifyWnd = nullptr;
    ISerialNotify* m_readerHandler = nullptr;   // read by the reader it outlives

    std::string m_strLastError;
    serialio::SerialDevice m_device;   // owns the descriptor that m_hComm names
    CCommMailbox m_mailbox;
};

// POSIX stand-in for a transfer record: the descriptor that ends a wait
// (for reads, the reader's wake-up event that Close signals) and the figures
// of the last transfer.
struct SerialTransfer {
    serialio::WakeEvent hEvent;
    std::uint32_t nRequested = 0;
    std::uint32_t nTransferred = 0;
};

// Process-wide port state: one active port per process.
extern std::atomic<int> g_bThreadRun;              // 1 while the reader is to keep looping
extern std::thread g_hThread;                      // the reader; joined by Close
extern SerialTransfer g_osRead;                    // reader thread; its event is created by Open, closed by Close
extern std::atomic<int> g_hCommShared;             // the device for the reader and Write; -1 while closed
extern std::atomic<CSerialPort*> g_pActivePort;    // the port that owns this state while open

// Kept for the interface; nothing on Linux reads them: the reader's thread id
// and the figures of the last write.
extern std::atomic<std::uint32_t> g_dwThreadId;
extern SerialTransfer g_osWrite;                   // window thread only
