// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The port as orvane-log drives it: CSerialPort opened exactly as the window
// opens it. With no window to wait for, the reader takes each chunk on its own
// thread before its next read (no thread is woken per chunk); the device's
// going comes to the program's poll loop through the port's mailbox: the loop
// watches PortFd and calls Dispatch. A second descriptor (WakeFd) lets
// anything else wake the loop. This file is the only one that knows how the
// reader hands a chunk over.
#include "serial/SerialPlatform.h"
#include "serial/SerialPort.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "dm/FramedWriter.h"

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

    // Descriptors to poll for reading: PortFd when the reader hands something
    // over, WakeFd when Wake was called (any thread).
    int PortFd() const { return m_port.WakeFd(); }
    int WakeFd() const { return m_wake.Fd(); }
    void Wake() { m_wake.Signal(); }
    // Program thread: takes back the wake-up and runs what the reader posted:
    // the device's going, through onGone.
    void Dispatch(const GoneHandler& onGone);

    int Write(std::span<const std::uint8_t> bytes);
    // Bytes the driver holds that the reader has not read yet.
    std::uint32_t Queued() const;

    // Reader thread for chunks; program thread (from Dispatch) for the rest.
    void OnCommMessage(const CommMessage& message) override;

private:
    CSerialPort m_port;
    ChunkHandler m_onChunk;
    std::string m_error;
    serialio::WakeEvent m_wake;
    const GoneHandler* m_onGone = nullptr;   // set while Dispatch runs
};

// The port as a writer for FrameAndWrite.
class CPortWriter final : public IByteWriter {
public:
    explicit CPortWriter(CPortPump& pump) : m_pump(pump) {}
    std::size_t Write(std::span<const std::uint8_t> data) override
    {
        const int written = m_pump.Write(data);
        return written > 0 ? static_cast<std::size_t>(written) : 0;
    }

private:
    CPortPump& m_pump;
};
