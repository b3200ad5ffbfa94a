#pragma once
// The port as orvane-log drives it: CSerialPort opened exactly as the window
// opens it. Received chunks are taken inside the reader's own hand-over, on
// the reader thread (no window waits for them, so no thread has to be woken
// per chunk); everything else the reader posts (the device's going) reaches
// the program's poll loop through a wake descriptor. This file is the only
// one that knows how the reader hands a chunk over.
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

    // Reader thread: called with every received chunk, before the reader
    // reads the next. Set before Open.
    void SetChunkHandler(ChunkHandler handler) { m_onChunk = std::move(handler); }

    // The descriptor to poll for reading: signalled when the reader has
    // posted something, or when Wake was called.
    int WakeFd() const { return m_wake.Fd(); }
    void Wake() { m_wake.Signal(); }
    // Program thread: runs what the reader posted: the device's going through onGone.
    void Dispatch(const GoneHandler& onGone);

    int Write(std::span<const std::uint8_t> bytes);
    // Bytes the driver holds that the reader has not read yet.
    std::uint32_t Queued() const;

    // Reader thread.
    void PostToWindow(unsigned message, std::uint64_t ticket) override;

private:
    struct Posted {
        unsigned message;
        std::uint64_t ticket;
    };
    CSerialPort m_port;
    ChunkHandler m_onChunk;
    std::string m_aliasDir;   // a private port directory naming a device path
    std::string m_error;
    serialio::WakeEvent m_wake;
    std::mutex m_lock;
    std::deque<Posted> m_posted;
};
