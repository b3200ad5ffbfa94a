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

struct BaudEntry {
    std::uint32_t rate;
    std::uint32_t constant;
};

// Rates with a speed constant of their own; anything else goes through BOTHER.
constexpr BaudEntry kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

DcbTranslation Refuse(std::string reason)
{
    DcbTranslation result;
    result.refusal = std::move(reason);
    return result;
}

serialio::SysError Fail(const char* call, int error = errno)
{
    return serialio::SysError{call, error, {}};
}

int RetryIoctl(int fd, unsigned long request, void* argument)
{
    int r;
    do {
        r = ioctl(fd, request, argument);
    } while (r < 0 && errno == EINTR);
    return r;
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
    while (ioctl(fd, TCFLSH, which) < 0 && errno == EINTR) {
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Settings record -> termios.
//
// Fields Linux cannot express at all are refused, so that Open fails as it
// does for a record the driver rejects: byte sizes other than 5-8, parity
// values above 4, 1.5 stop bits with more than 5 data bits, 2 stop bits with
// 5 data bits (which the UART would send as 1.5), DTR handshake, RTS toggle,
// DSR output flow control, and XON/XOFF with equal Xon and Xoff characters.
//
// Hardware flow control: Linux has one switch, CRTSCTS, that both holds output
// while CTS is low and lowers RTS while the receive buffer is full. So
//   fOutxCtsFlow with RTS enable    -> CRTSCTS, RTS raised (the driver also
//                                      lowers it when its buffer fills, which a
//                                      peer expecting RTS high tolerates);
//   fOutxCtsFlow with RTS handshake -> CRTSCTS, RTS left to the driver;
//   RTS handshake without CTS flow  -> refused (CRTSCTS would also stall output);
//   fOutxCtsFlow with RTS disable   -> refused (the driver would raise RTS).
//
// Mapped: fParity -> INPCK (only with a parity), fOutX -> IXON, fInX -> IXOFF,
// XonChar/XoffChar -> VSTART/VSTOP.
// Ignored, with the Linux behaviour that takes their place:
//   fBinary          the line is always binary (raw, no EOF character);
//   fErrorChar       a byte with a parity error reads as 0, not ErrorChar;
//   fNull            NUL bytes are always delivered;
//   fAbortOnError    line errors never stop reads or writes;
//   fDsrSensitivity  bytes are received whatever the DSR line says;
//   fTXContinueOnXoff, XonLim, XoffLim
//                    the line discipline sends XOFF/XON at its own fill levels;
//   ErrorChar, EofChar, EvtChar  unused.
// Breaks are ignored (IGNBRK) rather than read as a 0 byte; modem-status lines
// are ignored (CLOCAL) so a missing DCD neither blocks nor hangs up the port.
// ---------------------------------------------------------------------------
DcbTranslation TranslateDcb(const DCB& dcb)
{
    TermiosSettings s;

    if (dcb.BaudRate == 0)
        return Refuse("baud rate 0 cannot be set");
    s.baud = dcb.BaudRate;
    const auto* entry = std::find_if(std::begin(kStandardRates), std::end(kStandardRates),
                                     [&](const BaudEntry& e) { return e.rate == dcb.BaudRate; });
    std::uint32_t speedBits = BOTHER;
    if (entry != std::end(kStandardRates))
        speedBits = entry->constant;
    else
        s.customBaud = true;

    std::uint32_t sizeBits = 0;
    switch (dcb.ByteSize) {
    case 5: sizeBits = CS5; break;
    case 6: sizeBits = CS6; break;
    case 7: sizeBits = CS7; break;
    case 8: sizeBits = CS8; break;
    default: return Refuse("byte size " + std::to_string(dcb.ByteSize) + " cannot be set (5 to 8 data bits)");
    }

    std::uint32_t parityBits = 0;
    switch (dcb.Parity) {
    case NOPARITY: break;
    case ODDPARITY: parityBits = PARENB | PARODD; break;
    case EVENPARITY: parityBits = PARENB; break;
    case MARKPARITY: parityBits = PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: parityBits = PARENB | CMSPAR; break;
    default: return Refuse("parity " + std::to_string(dcb.Parity) + " cannot be set");
    }

    std::uint32_t stopBits = 0;
    switch (dcb.StopBits) {
    case ONESTOPBIT: break;
    case ONE5STOPBITS:
        if (dcb.ByteSize != 5)
            return Refuse("1.5 stop bits cannot be set with " + std::to_string(dcb.ByteSize) +
                          " data bits (only with 5)");
        stopBits = CSTOPB;   // with CS5 the UART sends 1.5 stop bits
        break;
    case TWOSTOPBITS:
        if (dcb.ByteSize == 5)
            return Refuse("2 stop bits cannot be set with 5 data bits");
        stopBits = CSTOPB;
        break;
    default: return Refuse("stop bits value " + std::to_string(dcb.StopBits) + " cannot be set");
    }

    switch (dcb.fDtrControl) {
    case DTR_CONTROL_DISABLE: s.dtr = ModemLine::Clear; break;
    case DTR_CONTROL_ENABLE: s.dtr = ModemLine::Set; break;
    case DTR_CONTROL_HANDSHAKE: return Refuse("DTR handshake cannot be set: Linux has no DTR flow control");
    default: return Refuse("DTR control 3 cannot be set");
    }

    std::uint32_t flowBits = 0;
    switch (dcb.fRtsControl) {
    case RTS_CONTROL_DISABLE:
        if (dcb.fOutxCtsFlow)
            return Refuse("CTS output flow control cannot be set with RTS disabled: Linux drives RTS itself "
                          "under CTS flow control");
        s.rts = ModemLine::Clear;
        break;
    case RTS_CONTROL_ENABLE: s.rts = ModemLine::Set; break;
    case RTS_CONTROL_HANDSHAKE:
        if (!dcb.fOutxCtsFlow)
            return Refuse("RTS handshake cannot be set without CTS output flow control: Linux switches both "
                          "together (CRTSCTS)");
        s.rts = ModemLine::Driver;
        break;
    default: return Refuse("RTS toggle cannot be set: Linux has no RTS toggling");
    }
    if (dcb.fOutxCtsFlow)
        flowBits |= CRTSCTS;
    if (dcb.fOutxDsrFlow)
        return Refuse("DSR output flow control cannot be set: Linux has no DSR flow control");

    std::uint32_t inputBits = IGNBRK;
    if (dcb.fParity && parityBits != 0)
        inputBits |= INPCK;
    if (dcb.fOutX || dcb.fInX) {
        if (dcb.XonChar == dcb.XoffChar)
            return Refuse("XON/XOFF flow control cannot use the same character for Xon and Xoff");
        if (dcb.fOutX)
            inputBits |= IXON;
        if (dcb.fInX)
            inputBits |= IXOFF;
    }
    s.startChar = static_cast<std::uint8_t>(dcb.XonChar);
    s.stopChar = static_cast<std::uint8_t>(dcb.XoffChar);

    s.iflag = inputBits;
    s.oflag = 0;
    s.lflag = 0;
    s.cflag = speedBits | sizeBits | parityBits | stopBits | flowBits | CREAD | CLOCAL;

    DcbTranslation result;
    result.ok = true;
    result.settings = s;
    return result;
}

void UpdateDcbFromTermios(DCB& dcb, const TermiosSettings& current)
{
    if (current.baud != 0)
        dcb.BaudRate = current.baud;
    switch (current.cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    if (!(current.cflag & PARENB))
        dcb.Parity = NOPARITY;
    else if (current.cflag & CMSPAR)
        dcb.Parity = (current.cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        dcb.Parity = (current.cflag & PARODD) ? ODDPARITY : EVENPARITY;
    if (!(current.cflag & CSTOPB))
        dcb.StopBits = ONESTOPBIT;
    else
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    dcb.fParity = (current.iflag & INPCK) ? 1 : 0;
    dcb.fOutxCtsFlow = (current.cflag & CRTSCTS) ? 1 : 0;
    if (!dcb.fOutxCtsFlow && dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = (current.iflag & IXON) ? 1 : 0;
    dcb.fInX = (current.iflag & IXOFF) ? 1 : 0;
    dcb.XonChar = static_cast<char>(current.startChar);
    dcb.XoffChar = static_cast<char>(current.stopChar);
}

namespace serialio {

void UniqueFd::Reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);   // never retried: the descriptor is gone even on EINTR
    m_fd = fd;
}

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
    case ENOTTY: return "not a serial device (" + error.call + ": " + std::strerror(error.error) + ")";
    default: break;
    }
    std::string text = error.call + ": " + std::strerror(error.error);
    if (!error.detail.empty())
        text += " (" + error.detail + ")";
    return text;
}

SysError SerialDevice::Open(const std::string& path)
{
    Close();
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return Fail("open");
    UniqueFd owner(fd);

    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
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
    int r;
    do {
        r = ioctl(Fd(), TCFLSH, TCIOFLUSH);
    } while (r < 0 && errno == EINTR);
    return r == 0 ? 1 : 0;
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
    while (::write(m_fd.Get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void WakeEvent::Drain()
{
    std::uint64_t count = 0;
    while (::read(m_fd.Get(), &count, sizeof count) < 0 && errno == EINTR) {
    }
}

WaitEvents WaitReadable(int device, int wake)
{
    pollfd fds[2] = {{device, POLLIN, 0}, {wake, POLLIN, 0}};
    WaitEvents events;
    int r;
    do {
        r = ::poll(fds, 2, -1);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        events.hangup = true;
        return events;
    }
    events.woken = (fds[1].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0;
    events.readable = (fds[0].revents & POLLIN) != 0;
    events.hangup = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    return events;
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
    ssize_t n;
    do {
        n = ::read(fd, buffer, maximum);
    } while (n < 0 && errno == EINTR);
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
        const ssize_t n = ::write(fd, data + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return 0;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()) + 1);
        if (r < 0 && errno != EINTR)
            return 0;
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
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
