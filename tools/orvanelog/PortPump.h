#pragma once
// The port as orvane-log drives it: CSerialPort opened exactly as the window
// opens it, its reader's hand-overs taken on the program's own thread through
// a wake descriptor that the poll loop watches. (The window does the same
// with a QSocketNotifier; this file is the only one that knows how the
// reader hands a chunk over.)
#include "serial/SerialPlatform.h"
#include "serial/SerialPort.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>

class CPortPump final : public ISerialNotify {
public:
    using ChunkHandler = std::function<void(std::span<const std::uint8_t>)>;
    using GoneHandler = std::function<void()>;

    // port: "COMn" (or any port-directory name) or a device path.
    explicit CPortPump(const std::string& port);
    ~CPortPump() override;
    CPortPump(const CPortPump&) = delete;
    CPortPump& operator=(const CPortPump&) = delete;

    // Opens with the settings record; false and LastError ("<device>: <reason>").
    bool Open(const DCB& dcb);
    void Close();
    bool IsOpen() const { return m_port.IsOpen() != 0; }
    const std::string& LastError() const { return m_error; }
    // The device the port resolves to now (for waiting until it is back).
    std::string DevicePath() const;

    // The descriptor to poll for reading: signalled when the reader has
    // handed something over.
    int WakeFd() const { return m_wake.Fd(); }
    // Program thread: runs every pending hand-over: chunks through onChunk
    // (each chunk before the reader reads the next), the device's going
    // through onGone.
    void Dispatch(const ChunkHandler& onChunk, const GoneHandler& onGone);

    int Write(std::span<const std::uint8_t> bytes);

    // Reader thread.
    void PostToWindow(unsigned message, std::uint64_t ticket) override;

private:
    struct Posted {
        unsigned message;
        std::uint64_t ticket;
    };
    CSerialPort m_port;
    std::string m_aliasDir;   // a private port directory naming a device path
    std::string m_error;
    serialio::WakeEvent m_wake;
    std::mutex m_lock;
    std::deque<Posted> m_posted;
};
