// SPDX-License-Identifier: GPL-2.0-or-later
// orvane-vmodem: a modem's DM port on a pseudo-terminal, for trying Orvane
// and for tests without hardware. One poll loop serves the pty and the
// signals; the DM behaviour lives in CVirtualModem.
#include "tools/vmodem/VirtualModem.h"

#include "serial/SerialPlatform.h"
#include "sys/StopSignals.h"
#include "sys/SysIo.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <regex>
#include <signal.h>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr const char* kUsage =
    "Usage: orvane-vmodem [--link COMn] [--rate BYTES_PER_SECOND] [--stream FILE] [--help]\n"
    "\n"
    "Plays the diagnostic (DM) port of a modem on a pseudo-terminal, so that\n"
    "Orvane (or any DIAG client) can be tried without hardware. Prints the\n"
    "device path of the terminal to open on standard output, then serves it\n"
    "until SIGINT, SIGTERM or SIGHUP; it exits with status 0 after a clean stop.\n"
    "\n"
    "Options:\n"
    "  --link COMn     also make the entry COMn (COM1 to COM60) in the port\n"
    "                  directory point at the device, and remove it again on\n"
    "                  exit if it still points there. The port directory is\n"
    "                  $ORVANE_PORT_DIR, default ~/.config/orvane/ports; it is\n"
    "                  created when missing.\n"
    "  --rate N        pace the log stream at N bytes per second on the line\n"
    "                  (default 20000); 0 sends as fast as the line takes it.\n"
    "  --stream FILE   stream the log records of a capture (a raw DIAG stream:\n"
    "                  a .qmdl file, or a capture of Orvane's Log client)\n"
    "                  instead of built ones: those of the codes the client\n"
    "                  enabled, with fresh timestamps, from the start again at\n"
    "                  its end.\n"
    "  --help          show this text.\n"
    "\n"
    "What it reads: HDLC frames (0x7D escapes undone, the CRC-16/X-25 FCS\n"
    "checked; frames with a wrong FCS are ignored and counted), and text lines\n"
    "(printable bytes ending in CR or LF that are not part of a frame).\n"
    "\n"
    "What it answers, framed (multi-byte fields little-endian):\n"
    "  00 (version)                      its own: the Log server's reply with\n"
    "                                    the dates as \"Oct 27 2008\" and the\n"
    "                                    version directory padded with blanks\n"
    "  7C (extended build id)            its own: 7C 02 00 00, hardware\n"
    "                                    version, model, build id text NUL,\n"
    "                                    model text NUL (the Log server's reply\n"
    "                                    is too short for DIAG clients)\n"
    "  other requests the Log server answers  the Log server's reply (same table)\n"
    "  60 on/off (event report)          60 00 00\n"
    "  82 (set event mask)               82 00 00 00, bit count, the mask\n"
    "  73 op 0 (disable logging)         73 00 00 00, op, status 0\n"
    "  73 op 1 (get ranges)              header, 16 x last item per equipment id\n"
    "  73 op 3 (set log mask)            header, equipment id, item count, mask\n"
    "  73 op 4 (get log mask)            header, equipment id, item count, mask\n"
    "  7D 01 (get ssid ranges)           7D 01 01 00, count, first/last pairs\n"
    "  7D 03 (get message masks)         7D 03 first last 01 00, masks\n"
    "  7D 04 (set message masks)         7D 04 first last 01 00, masks\n"
    "  7D 05 (set all message masks)     7D 05 01 00, mask\n"
    "  5E text 0D (DM AT command)        5E and the text answer below\n"
    "  anything else                     13 and the first 16 request bytes\n"
    "  a known request cut short         15 and the first 16 request bytes\n"
    "It remembers every mask set, and streams at the set rate what the masks\n"
    "enable, each kind in turn:\n"
    "  log records (0x10) of the enabled codes it can build with the layout\n"
    "  the code has on a modem, carrying real messages of one cell (PLMN\n"
    "  001-01): 0x412F WCDMA RRC (connection request), 0x512F GSM RR (SI 3),\n"
    "  0x713A UMTS NAS (location updating request), 0xB0C0 LTE RRC (MIB,\n"
    "  SIB 1, connection request), 0xB0E2/0xB0E3 LTE ESM and 0xB0EC/0xB0ED\n"
    "  LTE EMM plain NAS (attach request and others). Other codes are not\n"
    "  streamed. With --stream, the capture's records of every enabled code.\n"
    "  event reports (0x60) of event 1606 (LTE RRC state) while event\n"
    "  reporting is on (60 01) and the event mask, if one was set, has it.\n"
    "  extended messages (0x79) of ssid 0 while its level mask has bit 1.\n"
    "73 op 0 stops the log records, 60 00 the events, 7D 05 with mask 0 the\n"
    "messages. The stream starts 0.75 s after the last request that changed\n"
    "a mask (clients' start-up reads would otherwise cut frames); timestamps\n"
    "are the time of day.\n"
    "\n"
    "Text lines (ASCII mode): \"AT\" answers OK, \"ATI\" a short identification\n"
    "ending in OK, anything else ERROR.\n";

// The port directory entry made by --link; removed on exit while it still
// points at this modem's device (someone may have re-pointed it meanwhile).
class PortLink {
public:
    PortLink() = default;
    ~PortLink() { Remove(); }
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    bool Make(const std::filesystem::path& dir, const std::string& name, const std::string& target)
    {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (ec) {
            std::fprintf(stderr, "orvane-vmodem: cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
            return false;
        }
        const std::filesystem::path link = dir / name;
        const auto status = std::filesystem::symlink_status(link, ec);
        if (!ec && std::filesystem::exists(status) && !std::filesystem::is_symlink(status)) {
            std::fprintf(stderr, "orvane-vmodem: %s exists and is not a link; not replacing it\n", link.c_str());
            return false;
        }
        // Made beside it and renamed over it, so the entry never goes missing.
        const std::filesystem::path temp = dir / ("." + name + ".vmodem-" + std::to_string(getpid()));
        std::filesystem::remove(temp, ec);
        std::filesystem::create_symlink(target, temp, ec);
        if (!ec)
            std::filesystem::rename(temp, link, ec);
        if (ec) {
            std::filesystem::remove(temp, ec);
            std::fprintf(stderr, "orvane-vmodem: cannot link %s: %s\n", link.c_str(), ec.message().c_str());
            return false;
        }
        m_link = link;
        m_target = target;
        return true;
    }

    void Remove()
    {
        if (m_link.empty())
            return;
        std::error_code ec;
        if (std::filesystem::is_symlink(m_link, ec) && std::filesystem::read_symlink(m_link, ec) == m_target)
            std::filesystem::remove(m_link, ec);
        m_link.clear();
    }

private:
    std::filesystem::path m_link;
    std::string m_target;
};

struct Options {
    std::string link;
    std::string stream;
    std::uint32_t rate = CVirtualModem::kDefaultRate;
};

// Returns the options, or an exit status when the program should stop now.
std::optional<int> ParseArgs(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if ((arg == "--link" || arg == "--rate" || arg == "--stream") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--stream") {
                options.stream = value;
            } else if (arg == "--link") {
                static const std::regex kComName("COM([1-9]|[1-5][0-9]|60)");
                if (!std::regex_match(value, kComName)) {
                    std::fprintf(stderr, "orvane-vmodem: --link takes a port name COM1 to COM60, not \"%s\"\n", value.c_str());
                    return 2;
                }
                options.link = value;
            } else {
                char* end = nullptr;
                errno = 0;
                const unsigned long rate = std::strtoul(value.c_str(), &end, 10);
                if (value.empty() || *end != '\0' || errno != 0 || rate > 100000000ul || value[0] == '-') {
                    std::fprintf(stderr, "orvane-vmodem: --rate takes a number of bytes per second, not \"%s\"\n", value.c_str());
                    return 2;
                }
                options.rate = static_cast<std::uint32_t>(rate);
            }
            continue;
        }
        std::fprintf(stderr, "orvane-vmodem: unknown or incomplete option \"%s\" (see --help)\n", arg.c_str());
        return 2;
    }
    return std::nullopt;
}

// Bytes waiting for the line, sent from the front.
class OutQueue {
public:
    std::size_t Size() const { return m_bytes.size() - m_sent; }
    void Append(const std::vector<std::uint8_t>& bytes) { m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end()); }
    // Writes what the descriptor takes now; false when the line is gone.
    bool Flush(int fd)
    {
        const sysio::WriteOutcome outcome = sysio::WriteAll(fd, {m_bytes.data() + m_sent, Size()});
        m_sent += outcome.written;
        if (Size() > 0 && outcome.error != EAGAIN && outcome.error != EWOULDBLOCK) {
            errno = outcome.error;
            return false;
        }
        if (m_sent == m_bytes.size()) {
            m_bytes.clear();
            m_sent = 0;
        } else if (m_sent > 65536) {
            m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(m_sent));
            m_sent = 0;
        }
        return true;
    }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_sent = 0;
};

// Log packets are queued only up to this much, so that replies never wait
// behind a long backlog and a stalled line does not grow memory.
constexpr std::size_t kStreamQueue = 4096;
// The stream waits this long after the last mask change (see SetMaskQuiet);
// longer than the half second DIAG clients wait for each reply.
constexpr std::chrono::milliseconds kMaskQuiet{750};
// Replies beyond this backlog are dropped.
constexpr std::size_t kMaxQueue = 1 << 20;

// Blocks the stop signals and returns a descriptor that reads them, so that
// they arrive in the same poll as the line; invalid (and said why) on failure.
sysio::UniqueFd StopSignals()
{
    if (!sysio::BlockStopSignals()) {
        std::fprintf(stderr, "orvane-vmodem: %s\n", sysio::ErrnoText("sigprocmask", errno).c_str());
        return sysio::UniqueFd();
    }
    sysio::UniqueFd signals = sysio::OpenStopSignalFd();
    if (!signals.Valid())
        std::fprintf(stderr, "orvane-vmodem: %s\n", sysio::ErrnoText("signalfd", errno).c_str());
    return signals;
}

// Reads every request the line holds and queues the answers.
void ReadRequests(int master, CVirtualModem& modem, OutQueue& out)
{
    std::array<std::uint8_t, 4096> buffer{};
    for (;;) {
        const ssize_t n = sysio::RetryEintr([&] { return read(master, buffer.data(), buffer.size()); });
        if (n <= 0)
            break;   // EAGAIN: drained; EIO: no client has the far end open
        const std::vector<std::uint8_t> replies =
            modem.Receive(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
        // A client that sends without ever reading must not grow memory without end.
        if (out.Size() < kMaxQueue)
            out.Append(replies);
    }
}

// Answers the line until a stop signal; 1 when the line failed.
int Serve(const Options& options, int signals, int master, CVirtualModem& modem)
{
    OutQueue out;
    for (bool running = true; running;) {
        const auto now = std::chrono::steady_clock::now();
        if (modem.StreamActive() && out.Size() < kStreamQueue)
            out.Append(modem.TakeLogStream(now, kStreamQueue - out.Size()));

        int timeout = -1;
        const auto due = modem.NextLogDue(now);
        if (due) {
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*due).count();
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, 1000));
        }
        // While the stream holds (masks changing), nothing is due yet.
        const bool unpaced = modem.StreamActive() && options.rate == 0 && !due;
        std::array<pollfd, 2> fds{{{signals, POLLIN, 0}, {master, POLLIN, 0}}};
        if (out.Size() > 0 || unpaced)
            fds[1].events |= POLLOUT;
        const int ready = sysio::Poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            std::fprintf(stderr, "orvane-vmodem: %s\n", sysio::ErrnoText("poll", errno).c_str());
            return 1;
        }
        if ((fds[0].revents & POLLIN) && sysio::TakeStopSignals(signals) > 0)
            running = false;
        if (fds[1].revents & POLLIN)
            ReadRequests(master, modem, out);
        if (fds[1].revents & POLLOUT) {
            if (unpaced && out.Size() < kStreamQueue)
                out.Append(modem.TakeLogStream(std::chrono::steady_clock::now(), kStreamQueue - out.Size()));
        }
        if (out.Size() > 0 && !out.Flush(master)) {
            std::fprintf(stderr, "orvane-vmodem: %s\n", sysio::ErrnoText("write", errno).c_str());
            return 1;
        }
    }

    return 0;
}

int Run(const Options& options)
{
    const sysio::UniqueFd signals = StopSignals();
    if (!signals.Valid())
        return 1;

    CVirtualModem modem(options.rate);
    if (!options.stream.empty()) {
        std::string error;
        std::unique_ptr<CCaptureStream> capture = CCaptureStream::Open(options.stream, error);
        if (!capture) {
            std::fprintf(stderr, "orvane-vmodem: --stream: %s\n", error.c_str());
            return 1;
        }
        modem.SetCapture(std::move(capture));
    }
    modem.SetMaskQuiet(kMaskQuiet);
    // Records carry the time of day, as a modem's do.
    modem.SetWallClock(std::chrono::system_clock::now(), std::chrono::steady_clock::now());

    serialio::PseudoTerminal pty;
    if (const serialio::SysError error = serialio::OpenPseudoTerminal(pty); error.Failed()) {
        std::fprintf(stderr, "orvane-vmodem: %s\n", serialio::DescribeError(error).c_str());
        return 1;
    }
    const sysio::UniqueFd& master = pty.master;
    const std::string devicePath = pty.slavePath;
    // Holding the far end open keeps the terminal alive while clients come
    // and go, as a modem stays put when a program closes its port.
    const sysio::UniqueFd slave(open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave.Valid()) {
        std::fprintf(stderr, "orvane-vmodem: %s\n", sysio::ErrnoText(devicePath, errno).c_str());
        return 1;
    }

    PortLink link;
    if (!options.link.empty() && !link.Make(serialio::PortDirectory(), options.link, devicePath))
        return 1;

    std::printf("%s\n", devicePath.c_str());
    std::fflush(stdout);
    if (!options.link.empty())
        std::fprintf(stderr, "orvane-vmodem: %s -> %s in %s\n", options.link.c_str(), devicePath.c_str(), serialio::PortDirectory().c_str());

    const int status = Serve(options, signals.Get(), master.Get(), modem);
    std::fprintf(stderr, "orvane-vmodem: stopped; %llu frames read, %llu bad frames ignored, %llu records sent\n",
                 static_cast<unsigned long long>(modem.GoodFrames()), static_cast<unsigned long long>(modem.BadFrames()),
                 static_cast<unsigned long long>(modem.LogPackets()));
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const auto exitStatus = ParseArgs(argc, argv, options))
        return *exitStatus;
    return Run(options);
}
