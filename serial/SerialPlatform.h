// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The POSIX layer under CSerialPort: every system call the serial link makes
// lives in serial/Termios.cpp (and serial/PortNames.cpp for the port
// directory). Nothing here includes <termios.h>, so callers may include it.
// Tools that play the device (the virtual modem) use the pseudo-terminal and
// raw-mode helpers at the end instead of calling termios themselves.
#include "serial/DcbTermios.h"
#include "sys/SysIo.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace serialio {

// Owner of one file descriptor (the one every module uses).
using UniqueFd = sysio::UniqueFd;

// A failed system call: its name and errno, or a refusal of a setting
// (error 0, reason in `detail`). `call` empty and `detail` empty: success.
struct SysError {
    std::string call;
    int error = 0;
    std::string detail;
    bool Failed() const { return !call.empty() || !detail.empty(); }
};

// The one place where a failure becomes words for the user:
// "Permission denied: is your user in the dialout group?", "No such device",
// "held by another program (...)", a refused setting, or "call: strerror".
std::string DescribeError(const SysError& error);

// The serial device: opened with exclusive access, its own settings saved at
// open and put back at close.
class SerialDevice {
public:
    SerialDevice() = default;
    ~SerialDevice() { Close(); }
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // open(O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC), flock(LOCK_EX|LOCK_NB),
    // TIOCEXCL on a real tty (not on a pseudo-terminal), save the settings.
    SysError Open(const std::string& path);
    // Applies translated settings and the modem lines; a device without
    // modem-line ioctls (a pty answers ENOTTY) is fine.
    SysError Apply(const TermiosSettings& settings);
    // The device's current settings.
    SysError Read(TermiosSettings& settings) const;
    // Empties both driver queues (tcflush TCIOFLUSH). 1 on success, 0 otherwise.
    int Purge();
    // Restores the saved settings (errors ignored: the device may be gone) and closes.
    void Close();

    int Fd() const { return m_fd.Get(); }
    bool IsOpen() const { return m_fd.Valid(); }

private:
    UniqueFd m_fd;
    std::array<unsigned char, 64> m_saved{};   // the device's own termios2, restored at close
    bool m_haveSaved = false;
    bool m_exclusive = false;                  // TIOCEXCL set by us, cleared at close
};

// A wake-up descriptor (eventfd) that the reader polls with the device.
class WakeEvent {
public:
    SysError Create();
    void Signal();
    void Drain();   // takes back every signal so far; never blocks
    void Close() { m_fd.Reset(); }
    int Fd() const { return m_fd.Get(); }

private:
    UniqueFd m_fd;
};

struct WaitEvents {
    bool woken = false;      // the wake-up descriptor was signalled
    bool readable = false;   // POLLIN on the device
    bool hangup = false;     // POLLHUP, POLLERR or POLLNVAL: the device went away
};
// Blocks until the device has input, the wake-up descriptor is signalled or
// the device went away. EINTR is retried; a failing poll counts as a hang-up
// so that no caller can spin on it.
WaitEvents WaitReadable(int device, int wake);

// Waits at most `limit` for input (or a hang-up) on the device; true when
// the device turned readable or went away within it.
bool AwaitInput(int fd, std::chrono::microseconds limit);

// Bytes queued in the driver (FIONREAD); 0 when that cannot be learned.
std::uint32_t QueuedBytes(int fd);

struct ReadOutcome {
    std::uint32_t count = 0;
    bool gone = false;   // EIO, or 0 bytes from a tty: the device went away
};
// One non-blocking read of at most `maximum` bytes; EINTR retried, EAGAIN gives 0.
ReadOutcome ReadNonBlocking(int fd, std::uint8_t* buffer, std::uint32_t maximum);

// Writes all bytes, waiting (poll POLLOUT) at most `limit` in total for the
// device to take them. Returns `count`, or 0 on failure or time-out; after a
// time-out the unsent remainder is flushed from the driver (see Termios.cpp).
std::size_t WriteWithin(int fd, const std::uint8_t* data, std::size_t count, std::chrono::milliseconds limit);

// Id of the calling thread as the system numbers it.
std::uint32_t CurrentThreadId();

// Port names: the port directory ($ORVANE_PORT_DIR, default
// ~/.config/orvane/ports) and the device path of a name. An entry of that
// exact name in the directory wins (a symlink is shown as its target); else
// COM1-20 -> /dev/ttyUSB0-19, COM21-40 -> /dev/ttyACM0-19, COM41-60 ->
// /dev/ttyS0-19; any other name stays the directory entry path.
std::string PortDirectory();
std::string ResolvePortName(std::string_view name);
// The fixed mapping alone (no directory); empty for names outside COM1-60.
std::string DefaultDevicePath(std::string_view name);

// For the side that plays the device: a pseudo-terminal master in raw mode,
// non-blocking, close-on-exec, and the path of its slave.
struct PseudoTerminal {
    UniqueFd master;
    std::string slavePath;
};
SysError OpenPseudoTerminal(PseudoTerminal& pty);
// Raw mode (no echo, no line editing, no translation, 8 bits) on any tty descriptor.
SysError MakeRaw(int fd);

}  // namespace serialio
