#pragma once
// CSerialPort: the one serial device the tool talks to, its settings record,
// its reader thread and its bounded write.
//
// Threads: every public operation runs on the window's thread, except the
// reader's own (ReaderThreadProc, ReadQueued, DeliverChunk, NotifyLineEvent).
// The reader hands each chunk to the window synchronously: it posts a message
// through ISerialNotify and waits until the window has run the handler through
// HandleMessage, or until Close cancels the hand-over.
#include "serial/Dcb.h"
#include "serial/SerialPlatform.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

inline constexpr unsigned WM_USER = 0x0400;
inline constexpr unsigned WM_COMM_RXCHAR = WM_USER + 1;  // a chunk is in m_rxBuffer (synchronous)
inline constexpr unsigned WM_COMM_EVENT = WM_USER + 2;   // a modem-line event, m_dwEventMask (synchronous)
inline constexpr unsigned WM_SEND_LOG = WM_USER + 3;
inline constexpr unsigned WM_SEND_REPLY = WM_USER + 4;
inline constexpr unsigned WM_COMM_GONE = WM_USER + 5;    // the device went away; the reader has ended (posted)

inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RING = 0x0100;

inline constexpr std::size_t kMaxChunk = 8192;

class ISerialNotify {
public:
    virtual ~ISerialNotify() = default;
    // Reader thread. Queues `message` for the window's thread and returns at
    // once; the window answers with CSerialPort::HandleMessage(message, ticket, ...).
    virtual void PostToWindow(unsigned message, std::uint64_t ticket) = 0;
};

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
    std::uint32_t ReadQueued(std::uint8_t* buffer, std::uint32_t maximum);
    int Write(const std::uint8_t* data, int count);
    int PurgeAll();
    void SetNotifyWindow(ISerialNotify* window);
    char* GetNameBuffer();

    // Window thread: runs `handler` for a message that the reader posted, if
    // that hand-over is still pending (not cancelled by Close, not of an
    // earlier connection), then releases the waiting reader. Returns whether
    // the handler ran.
    bool HandleMessage(unsigned message, std::uint64_t ticket, const std::function<void()>& handler);

    // Why the last Open failed, for the user: "<device path>: <reason>".
    const std::string& GetLastErrorText() const { return m_strLastError; }
    // The device path the current port name resolves to.
    std::string GetDevicePath() const;

    // Reader thread.
    void DeliverChunk(const std::uint8_t* data, std::uint32_t count);
    void NotifyLineEvent(std::uint32_t mask);
    static unsigned ReaderThreadProc(CSerialPort* port);

    std::mutex m_csRx;
    DCB m_dcb;
    std::array<char, 15> m_strPortName;
    int m_hComm = -1;
    std::array<std::uint8_t, kMaxChunk + 1> m_rxBuffer{};
    ISerialNotify* m_hNotifyWnd = nullptr;
    std::uint32_t m_nRxCount = 0;
    std::uint32_t m_dwEventMask = 0;

private:
    int OpenFailed(const std::string& path, const serialio::SysError& error);
    void HandOver(unsigned message);
    void PostGone();

    std::string m_strLastError;
    serialio::SerialDevice m_device;   // owns the descriptor that m_hComm names
    // Hand-over between the reader and the window (see HandleMessage).
    std::mutex m_handOverLock;
    std::condition_variable m_handOverDone;
    std::uint64_t m_nPendingTicket = 0;   // 0: nothing pending
    unsigned m_nPendingMessage = 0;
    std::uint64_t m_nNextTicket = 1;      // tickets of hand-overs and connections alike
    std::uint64_t m_nConnection = 0;      // ticket of the open connection (WM_COMM_GONE); 0 while closed
    bool m_bHandOverCancelled = false;
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
extern std::atomic<std::uint32_t> g_dwThreadId;    // the reader's thread id, 0 when none runs
extern SerialTransfer g_osWrite;                   // window thread only
extern std::thread g_hThread;                      // the reader; joined by Close
extern SerialTransfer g_osRead;                    // reader thread; its event is created by Open, closed by Close
extern std::atomic<int> g_hCommShared;             // the device for the reader and Write; -1 while closed
