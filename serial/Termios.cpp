// SPDX-License-Identifier: GPL-2.0-or-later
// The serial link's system calls, all in one file. Settings go through
// termios2 (TCGETS2/TCSETS2) rather than <termios.h>: it carries any baud rate
// (BOTHER) and saves and restores a device's settings exactly, custom rates
// included. The two headers cannot be mixed, so this file uses the kernel's
// definitions only.
#include "serial/SerialPlatform.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

static_assert(sizeof(termios2) <= 64, "saved settings must fit their buffer");

namespace {

serialio::SysError Fail(const char* call, int error = errno)
{
    return serialio::SysError{call, error, {}};
}

template <class Argument>
int RetryIoctl(int fd, unsigned long request, Argument argument)
{
    return sysio::RetryEintr([&] { return ioctl(fd, request, argument); });
}

// Unix98 pseudo-terminal slaves (majors 136-143) and the legacy BSD ones (3).
bool IsPseudoTerminal(int fd)
{
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned m = major(st.st_rdev);
    return (m >= 136 && m <= 143) || m == 3;
}

void Flush(int fd, int which)
{
    RetryIoctl(fd, TCFLSH, which);
}

}  // namespace

namespace serialio {

std::string DescribeError(const SysError& error)
{
    if (error.call.empty() && !error.detail.empty())
        return error.detail;
    switch (error.error) {
    case EACCES:
    case EPERM: return "Permission denied: is your user in the dialout group?";
    case ENOENT:
    case ENODEV:
    case ENXIO: return "No such device";
    case EWOULDBLOCK:
    case EBUSY: return "held by another program (ModemManager, which probes new modem ports, is a usual suspect)";
    case ENOTTY: return "not a serial device (" + sysio::ErrnoText(error.call, error.error) + ")";
    default: break;
    }
    std::string text = sysio::ErrnoText(error.call, error.error);
    if (!error.detail.empty())
        text += " (" + error.detail + ")";
    return text;
}

SysError SerialDevice::Open(const std::string& path)
{
    Close();
    const int fd = sysio::RetryEintr([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0)
        return Fail("open");
    UniqueFd owner(fd);

    if (sysio::RetryEintr([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) < 0)
        return Fail("flock");

    termios2 saved{};
    if (RetryIoctl(fd, TCGETS2, &saved) < 0)
        return Fail("tcgetattr");
    // A pseudo-terminal's slave is reopened by whoever plays the device (and by
    // tests that inspect it); exclusive mode is for real ports only.
    if (!IsPseudoTerminal(fd))
        m_exclusive = RetryIoctl(fd, TIOCEXCL, nullptr) == 0;

    std::memcpy(m_saved.data(), &saved, sizeof saved);
    m_haveSaved = true;
    m_fd = std::move(owner);
    return {};
}

SysError SerialDevice::Apply(const TermiosSettings& settings)
{
    termios2 tio{};
    if (RetryIoctl(Fd(), TCGETS2, &tio) < 0)
        return Fail("tcgetattr");
    tio.c_iflag = settings.iflag;
    tio.c_oflag = settings.oflag;
    tio.c_lflag = settings.lflag;
    tio.c_cflag = settings.cflag;
    tio.c_ispeed = settings.baud;
    tio.c_ospeed = settings.baud;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tio.c_cc[VSTART] = settings.startChar;
    tio.c_cc[VSTOP] = settings.stopChar;
    if (RetryIoctl(Fd(), TCSETS2, &tio) < 0) {
        SysError error = Fail("tcsetattr");
        if (settings.customBaud)
            error.detail = "baud rate " + std::to_string(settings.baud);
        return error;
    }

    int set = 0;
    int clear = 0;
    (settings.dtr == ModemLine::Clear ? clear : set) |= TIOCM_DTR;
    if (settings.rts == ModemLine::Clear)
        clear |= TIOCM_RTS;
    else
        set |= TIOCM_RTS;
    if (set != 0 && RetryIoctl(Fd(), TIOCMBIS, &set) < 0 && errno != ENOTTY)
        return Fail("ioctl TIOCMBIS");
    if (clear != 0 && RetryIoctl(Fd(), TIOCMBIC, &clear) < 0 && errno != ENOTTY)
        return Fail("ioctl TIOCMBIC");
    return {};
}

SysError SerialDevice::Read(TermiosSettings& settings) const
{
    termios2 tio{};
    if (RetryIoctl(Fd(), TCGETS2, &tio) < 0)
        return Fail("tcgetattr");
    settings.iflag = tio.c_iflag;
    settings.oflag = tio.c_oflag;
    settings.cflag = tio.c_cflag;
    settings.lflag = tio.c_lflag;
    settings.baud = tio.c_ospeed;
    settings.customBaud = (tio.c_cflag & CBAUD) == BOTHER;
    settings.startChar = tio.c_cc[VSTART];
    settings.stopChar = tio.c_cc[VSTOP];
    int lines = 0;
    if (RetryIoctl(Fd(), TIOCMGET, &lines) == 0) {
        settings.dtr = (lines & TIOCM_DTR) ? ModemLine::Set : ModemLine::Clear;
        settings.rts = (tio.c_cflag & CRTSCTS) ? ModemLine::Driver
                       : (lines & TIOCM_RTS)   ? ModemLine::Set
                                               : ModemLine::Clear;
    }
    return {};
}

int SerialDevice::Purge()
{
    return RetryIoctl(Fd(), TCFLSH, TCIOFLUSH) == 0 ? 1 : 0;
}

void SerialDevice::Close()
{
    if (!m_fd.Valid())
        return;
    // TCSANOW: output stalled by flow control must not hold up the close.
    if (m_haveSaved) {
        termios2 saved{};
        std::memcpy(&saved, m_saved.data(), sizeof saved);
        RetryIoctl(Fd(), TCSETS2, &saved);
    }
    if (m_exclusive)
        RetryIoctl(Fd(), TIOCNXCL, nullptr);
    m_fd.Reset();   // also releases the flock
    m_haveSaved = false;
    m_exclusive = false;
}

SysError WakeEvent::Create()
{
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return Fail("eventfd");
    m_fd.Reset(fd);
    return {};
}

void WakeEvent::Signal()
{
    const std::uint64_t one = 1;
    sysio::RetryEintr([&] { return ::write(m_fd.Get(), &one, sizeof one); });
}

void WakeEvent::Drain()
{
    std::uint64_t count = 0;
    sysio::RetryEintr([&] { return ::read(m_fd.Get(), &count, sizeof count); });
}

WaitEvents WaitReadable(int device, int wake)
{
    pollfd fds[2] = {{device, POLLIN, 0}, {wake, POLLIN, 0}};
    WaitEvents events;
    if (sysio::Poll(fds, 2, -1) < 0) {
        events.hangup = true;
        return events;
    }
    events.woken = (fds[1].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0;
    events.readable = (fds[0].revents & POLLIN) != 0;
    events.hangup = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    return events;
}

bool AwaitInput(int fd, std::chrono::microseconds limit)
{
    pollfd p{fd, POLLIN, 0};
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit);
    const timespec timeout{static_cast<time_t>(seconds.count()),
                           static_cast<long>(std::chrono::nanoseconds(limit - seconds).count())};
    // An interrupted wait counts as nothing arriving: the caller does not spin on it.
    return ::ppoll(&p, 1, &timeout, nullptr) > 0 && p.revents != 0;
}

std::uint32_t QueuedBytes(int fd)
{
    int queued = 0;
    if (RetryIoctl(fd, FIONREAD, &queued) < 0 || queued < 0)
        return 0;
    return static_cast<std::uint32_t>(queued);
}

ReadOutcome ReadNonBlocking(int fd, std::uint8_t* buffer, std::uint32_t maximum)
{
    ReadOutcome outcome;
    if (maximum == 0)
        return outcome;
    const ssize_t n = sysio::RetryEintr([&] { return ::read(fd, buffer, maximum); });
    if (n > 0)
        outcome.count = static_cast<std::uint32_t>(n);
    else if (n == 0 || errno != EAGAIN)
        outcome.gone = true;   // 0 from a tty, EIO, or the descriptor is unusable
    return outcome;
}

std::size_t WriteWithin(int fd, const std::uint8_t* data, std::size_t count, std::chrono::milliseconds limit)
{
    if (fd < 0 || data == nullptr || count == 0)
        return 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::size_t done = 0;
    while (done < count) {
        // As much as the driver takes now; a full queue (EAGAIN) waits below.
        const sysio::WriteOutcome outcome = sysio::WriteAll(fd, {data + done, count - done});
        done += outcome.written;
        if (done == count)
            break;
        if (outcome.error != 0 && outcome.error != EAGAIN)
            return 0;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLOUT, 0};
        const int r = sysio::Poll(&p, 1, static_cast<int>(left.count()) + 1);
        if (r < 0 || (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))))
            return 0;
    }
    if (done == count)
        return count;
    // Timed out with part of the bytes still in the driver's output queue.
    // They are discarded (TCOFLUSH) and the rest of the caller's bytes are
    // dropped, rather than left queued: a tail left behind would go out in
    // front of the next write whenever the line moves again and splice a stale
    // half packet onto it. The far end now sees at most one truncated packet,
    // and the next write starts on an empty queue.
    Flush(fd, TCOFLUSH);
    return 0;
}

std::uint32_t CurrentThreadId()
{
    return static_cast<std::uint32_t>(::gettid());
}

SysError MakeRaw(int fd)
{
    termios2 tio{};
    if (RetryIoctl(fd, TCGETS2, &tio) < 0)
        return Fail("tcgetattr");
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    tio.c_cflag |= CS8;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (RetryIoctl(fd, TCSETS2, &tio) < 0)
        return Fail("tcsetattr");
    return {};
}

SysError OpenPseudoTerminal(PseudoTerminal& pty)
{
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Fail("posix_openpt");
    UniqueFd master(fd);
    if (::grantpt(fd) != 0)
        return Fail("grantpt");
    if (::unlockpt(fd) != 0)
        return Fail("unlockpt");
    std::array<char, 128> name{};
    if (::ptsname_r(fd, name.data(), name.size()) != 0)
        return Fail("ptsname_r");
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return Fail("fcntl");
    if (SysError error = MakeRaw(fd); error.Failed())
        return error;
    pty.master = std::move(master);
    pty.slavePath = name.data();
    return {};
}

}  // namespace serialio
