// SPDX-License-Identifier: GPL-2.0-or-later
// CSerialPort over pseudo-terminal pairs: the test holds the master end and
// plays the device; TestWindow plays the main window.
#include "serial/SerialPort.h"

#include "serial/TestWindow.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

void SetName(CSerialPort& port, const char* name)
{
    char* buffer = port.GetNameBuffer();
    std::strncpy(buffer, name, 14);
    buffer[14] = '\0';
}

int ThreadCount()
{
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                ++count;
        closedir(dir);
    }
    return count;
}

// Thread counts settle a moment after a join (the kernel reaps the task).
bool WaitForThreadCount(int expected, std::chrono::milliseconds deadline = 10s)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (ThreadCount() != expected) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

int OpenDescriptorCount()
{
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                ++count;
        closedir(dir);
    }
    return count;
}

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::vector<std::uint8_t> Pattern(std::size_t count)
{
    std::vector<std::uint8_t> data(count);
    for (std::size_t i = 0; i < count; ++i)
        data[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return data;
}

// The device sending as fast as the pty takes it, until stopped.
class Streamer {
public:
    explicit Streamer(int master) : m_master(master), m_thread([this] { Run(); }) {}
    ~Streamer() { Stop(); }
    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void Run()
    {
        const std::vector<std::uint8_t> block = Pattern(4096);
        while (!m_stop) {
            const ssize_t n = write(m_master, block.data(), block.size());
            if (n < 0 && errno == EAGAIN) {
                pollfd p{m_master, POLLOUT, 0};
                poll(&p, 1, 20);
            } else if (n < 0 && errno != EINTR) {
                return;
            }
        }
    }

    int m_master;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The tests write to a master that may have no reader.
        const int flags = fcntl(pty.Master(), F_GETFL);
        fcntl(pty.Master(), F_SETFL, flags | O_NONBLOCK);
        ports.Link("COM7", pty.SlavePath());
        SetName(port, "COM7");
        baseThreads = ThreadCount();
    }

    int Connect() { return window.Run([this] { return port.Open(); }); }
    int Disconnect() { return window.Run([this] { return port.Close(); }); }

    // Bodies shared with the soak runs, which add a wall-clock or CPU figure
    // or repeat far more often.
    void StalledWrite(bool measureTime);
    void FarEndClosingMidStream(bool measureCpu);
    void DisconnectWhileTheDeviceStreams(int rounds);

    PtyPair pty;
    PortDir ports;
    CSerialPort port;
    TestWindow window{port};
    int baseThreads = 0;
};

class SerialPortSoak : public SerialPortTest {};

}  // namespace

TEST(SerialPortDefaults, RecordNameAndState)
{
    CSerialPort port;
    EXPECT_EQ(DcbFlagWord(port.m_dcb), 0x5011u);
    EXPECT_EQ(port.m_dcb.DCBlength, 28u);
    EXPECT_EQ(port.m_dcb.BaudRate, 115200u);
    EXPECT_EQ(std::string(port.GetNameBuffer()), std::string(14, ' '));
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_EQ(port.m_hComm, -1);
    EXPECT_EQ(port.GetState(), 0);
    EXPECT_EQ(port.Close(), 0);
    const std::uint8_t byte = 0x7E;
    EXPECT_EQ(port.Write(&byte, 1), 0);
}

TEST(SerialPortNames, DevicePathOfEachName)
{
    PtyPair pty;
    PortDir ports;
    ports.Link("COM7", pty.SlavePath());
    ports.Link("COM8", "/dev/does-not-exist");
    ports.Link("COM9", "relative-target");
    struct Case {
        const char* name;
        std::string path;
    } const cases[] = {
        {"COM7", pty.SlavePath()},                      // a directory entry wins
        {"COM8", "/dev/does-not-exist"},                // shown as its target even when dangling
        {"COM9", ports.Path() + "/relative-target"},    // relative links resolve against the directory
        {"COM1", "/dev/ttyUSB0"},
        {"COM20", "/dev/ttyUSB19"},
        {"COM21", "/dev/ttyACM0"},
        {"COM40", "/dev/ttyACM19"},
        {"COM41", "/dev/ttyS0"},
        {"COM60", "/dev/ttyS19"},
        {"COM61", ports.Path() + "/COM61"},             // no mapping: where its entry would be
        {"COM100", ports.Path() + "/COM100"},
        {"COM01", ports.Path() + "/COM01"},
    };
    CSerialPort port;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetName(port, c.name);
        EXPECT_EQ(port.GetDevicePath(), c.path);
    }
}

TEST(SerialPortNames, DefaultPortDirectoryIsUnderHome)
{
    TempDir home;
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    const char* oldDir = std::getenv("ORVANE_PORT_DIR");
    const std::string savedDir = oldDir ? oldDir : "";
    setenv("HOME", home.Path().c_str(), 1);
    unsetenv("ORVANE_PORT_DIR");

    CSerialPort port;
    SetName(port, "COM61");
    EXPECT_EQ(port.GetDevicePath(), home.Path() + "/.config/orvane/ports/COM61");
    std::filesystem::create_directories(home.Path() + "/.config/orvane/ports");
    std::filesystem::create_symlink("/dev/null", home.Path() + "/.config/orvane/ports/COM2");
    SetName(port, "COM2");
    EXPECT_EQ(port.GetDevicePath(), "/dev/null");

    if (oldHome)
        setenv("HOME", savedHome.c_str(), 1);
    if (oldDir)
        setenv("ORVANE_PORT_DIR", savedDir.c_str(), 1);
}

TEST(SerialPortOpen, EmptyNameBecomesCom100)
{
    PortDir ports;
    CSerialPort port;
    port.GetNameBuffer()[0] = '\0';
    EXPECT_EQ(port.Open(), 0);
    EXPECT_STREQ(port.GetNameBuffer(), "COM100");
    EXPECT_EQ(port.GetLastErrorText(), ports.Path() + "/COM100: No such device");
    EXPECT_EQ(port.IsOpen(), 0);
}

TEST(SerialPortOpen, FailuresNameDeviceAndReason)
{
    PortDir ports;
    TempDir files;
    const std::string plainFile = files.Path() + "/not-a-tty";
    std::ofstream(plainFile) << "x";
    ports.Link("COM3", plainFile);
    ports.Link("COM4", files.Path() + "/missing");
    struct Case {
        const char* name;
        std::string expected;
    } const cases[] = {
        {"COM4", files.Path() + "/missing: No such device"},
        {"COM3", plainFile + ": not a serial device (tcgetattr: Inappropriate ioctl for device)"},
    };
    CSerialPort port;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetName(port, c.name);
        EXPECT_EQ(port.Open(), 0);
        EXPECT_EQ(port.GetLastErrorText(), c.expected);
        EXPECT_EQ(port.IsOpen(), 0);
    }
}

TEST(SerialPortOpen, PermissionDeniedPointsAtDialout)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root opens any file";
    PortDir ports;
    TempDir files;
    const std::string locked = files.Path() + "/locked";
    std::ofstream(locked) << "x";
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    ports.Link("COM5", locked);
    CSerialPort port;
    SetName(port, "COM5");
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.GetLastErrorText(), locked + ": Permission denied: is your user in the dialout group?");
}

TEST_F(SerialPortTest, OpenCloseReopenAndCloseTwice)
{
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    EXPECT_EQ(port.IsOpen(), 1);
    EXPECT_GE(g_hCommShared.load(), 0);
    EXPECT_EQ(g_bThreadRun.load(), 1);
    EXPECT_EQ(Disconnect(), 1);
    EXPECT_EQ(Disconnect(), 0);
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_EQ(g_hCommShared.load(), -1);
    EXPECT_EQ(g_bThreadRun.load(), 0);
    EXPECT_FALSE(g_hThread.joinable());
    EXPECT_TRUE(WaitForThreadCount(baseThreads));

    // Disconnect then Connect without a new selection opens the same device.
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    EXPECT_STREQ(port.GetNameBuffer(), "COM7");
    pty.Send({0x41, 0x54, 0x0D});
    EXPECT_TRUE(window.WaitFor([&] { return window.received.size() == 3; }));
    EXPECT_EQ(Disconnect(), 1);
}

TEST_F(SerialPortTest, OpenOnAnOpenPortReopensWithOneReader)
{
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    EXPECT_TRUE(WaitForThreadCount(baseThreads + 1));
    pty.Send({1, 2, 3});
    EXPECT_TRUE(window.WaitFor([&] { return window.received.size() == 3; }));
    EXPECT_EQ(Disconnect(), 1);
    EXPECT_TRUE(WaitForThreadCount(baseThreads));
}

TEST_F(SerialPortTest, ReceivedBytesReachTheWindowUnchanged)
{
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    // Bytes a cooked tty would swallow or translate.
    const std::vector<std::uint8_t> data = {0x03, 0x04, 0x0D, 0x0A, 0x11, 0x13, 0x7E, 0x7D, 0x00, 0xFF, 0x1A, 0x7F};
    pty.Send(data);
    ASSERT_TRUE(window.WaitFor([&] { return window.received.size() >= data.size(); }));
    auto lock = window.Lock();
    EXPECT_EQ(window.received, data);
}

TEST_F(SerialPortTest, TwentyThousandBytesArriveInOrderInChunksOfAtMost8192)
{
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    const std::vector<std::uint8_t> data = Pattern(20000);
    pty.Send(data);
    ASSERT_TRUE(window.WaitFor([&] { return window.received.size() >= data.size(); }));
    auto lock = window.Lock();
    EXPECT_EQ(window.received, data);
    for (const std::uint32_t chunk : window.chunks) {
        EXPECT_GE(chunk, 1u);
        EXPECT_LE(chunk, kMaxChunk);
    }
}

TEST_F(SerialPortTest, NothingQueuedMeansNoReadAndNoMessage)
{
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    std::array<std::uint8_t, 16> buffer{};
    EXPECT_EQ(port.ReadQueued(buffer.data(), static_cast<std::uint32_t>(buffer.size())), 0u);
    pty.Send({9, 8, 7, 6, 5});
    ASSERT_TRUE(window.WaitFor([&] { return window.received.size() == 5; }));
    auto lock = window.Lock();
    // The first message the window saw is the one carrying the five bytes.
    EXPECT_EQ(window.chunks, std::vector<std::uint32_t>{5});
    EXPECT_EQ(window.emptyWakes, 0);
}

TEST_F(SerialPortTest, WriteOfNBytesReturnsN)
{
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    const std::vector<std::uint8_t> frame = {0x5E, 0x41, 0x54, 0x49, 0x0D, 0x03, 0x7E};
    EXPECT_EQ(window.Run([&] { return port.Write(frame.data(), static_cast<int>(frame.size())); }), 7);
    EXPECT_EQ(pty.Receive(frame.size()), frame);
    EXPECT_EQ(window.Run([&] { return port.Write(frame.data(), 0); }), 0);
    EXPECT_EQ(g_osWrite.nRequested, 7u);
    EXPECT_EQ(g_osWrite.nTransferred, 7u);
}

void SerialPortTest::StalledWrite(bool measureTime)
{
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    const std::vector<std::uint8_t> big = Pattern(1 << 20);   // far more than a pty buffers
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(window.Run([&] { return port.Write(big.data(), static_cast<int>(big.size())); }), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (measureTime) {
        EXPECT_GE(elapsed, 900ms);
        EXPECT_LT(elapsed, 10s);
    }

    pty.ReceiveUntilQuiet(200ms);   // the device catches up with what it had taken
    const std::vector<std::uint8_t> next = {0x7E, 0x01, 0x02, 0x7E};
    EXPECT_EQ(window.Run([&] { return port.Write(next.data(), static_cast<int>(next.size())); }), 4);
    EXPECT_EQ(pty.ReceiveUntilQuiet(200ms), next);
}

TEST_F(SerialPortTest, SecondOpenOfAHeldDeviceFails)
{
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    CSerialPort second;
    SetName(second, "COM7");
    EXPECT_EQ(second.Open(), 0);
    EXPECT_EQ(second.GetLastErrorText(),
              pty.SlavePath() +
                  ": held by another program (ModemManager, which probes new modem ports, is a usual suspect)");
    EXPECT_EQ(second.IsOpen(), 0);
    // The failed attempt left the open port alone.
    pty.Send({0x55});
    EXPECT_TRUE(window.WaitFor([&] { return window.received.size() == 1; }));
}

TEST_F(SerialPortTest, DeviceLockedByAnotherProgramFails)
{
    const int other = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Connect(), 0);
    EXPECT_NE(port.GetLastErrorText().find("held by another program"), std::string::npos);
    close(other);
    EXPECT_EQ(Connect(), 1) << port.GetLastErrorText();
}

TEST_F(SerialPortTest, AnotherPortOfTheProcessCannotTakeOverTheReader)
{
    PtyPair other;
    ports.Link("COM8", other.SlavePath());
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    CSerialPort second;
    SetName(second, "COM8");
    EXPECT_EQ(second.Open(), 0);
    EXPECT_EQ(second.GetLastErrorText(), other.SlavePath() + ": another port of this program is already open");
    pty.Send({0x42});
    EXPECT_TRUE(window.WaitFor([&] { return window.received.size() == 1; }));
    EXPECT_EQ(Disconnect(), 1);
    EXPECT_EQ(second.Open(), 1) << second.GetLastErrorText();
    EXPECT_EQ(second.Close(), 1);
}

TEST_F(SerialPortTest, SettingsReachTheDeviceAndTheDevicesOwnComeBackAtClose)
{
    const int probe = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(probe, &before), 0);

    port.m_dcb.BaudRate = 9600;
    port.m_dcb.StopBits = TWOSTOPBITS;
    port.m_dcb.fOutX = 1;
    port.m_dcb.fInX = 1;
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    termios during{};
    ASSERT_EQ(tcgetattr(probe, &during), 0);
    EXPECT_EQ(cfgetospeed(&during), static_cast<speed_t>(B9600));
    EXPECT_TRUE(during.c_cflag & CSTOPB);
    EXPECT_TRUE(during.c_iflag & IXON);
    EXPECT_TRUE(during.c_iflag & IXOFF);
    EXPECT_EQ(during.c_cc[VSTART], 0x11);
    EXPECT_EQ(during.c_cc[VSTOP], 0x13);
    EXPECT_FALSE(during.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(during.c_oflag & OPOST);

    EXPECT_EQ(Disconnect(), 1);
    termios after{};
    ASSERT_EQ(tcgetattr(probe, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    close(probe);
}

TEST_F(SerialPortTest, NonStandardBaudRateReachesTheDevice)
{
    port.m_dcb.BaudRate = 250000;
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    DCB seen = DefaultDcb();
    seen.BaudRate = 0;
    port.m_dcb = seen;
    EXPECT_EQ(window.Run([&] { return port.GetState(); }), 1);
    EXPECT_EQ(port.m_dcb.BaudRate, 250000u);
    EXPECT_EQ(Disconnect(), 1);
    EXPECT_EQ(port.GetState(), 0);
}

TEST_F(SerialPortTest, SettingThatCannotBeExpressedFailsTheOpen)
{
    port.m_dcb.ByteSize = 4;
    EXPECT_EQ(Connect(), 0);
    EXPECT_EQ(port.GetLastErrorText(), pty.SlavePath() + ": byte size 4 cannot be set (5 to 8 data bits)");
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_TRUE(WaitForThreadCount(baseThreads));
    // The refused attempt released the device.
    port.m_dcb = DefaultDcb();
    EXPECT_EQ(Connect(), 1) << port.GetLastErrorText();
}

TEST_F(SerialPortTest, NothingPendingRunsNoHandler)
{
    // Closed, then open and idle: a look at the mailbox finds nothing.
    EXPECT_FALSE(window.Run([this] { return port.RunHandOver(); }));
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    EXPECT_FALSE(window.Run([this] { return port.RunHandOver(); }));
    auto lock = window.Lock();
    EXPECT_EQ(window.rxHandled, 0);
    EXPECT_EQ(window.goneHandled, 0);
}

TEST_F(SerialPortTest, CloseCancelsAHandOverTheWindowHasNotRunYet)
{
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    // The window is busy when the chunk comes: the reader posts and waits;
    // the window's next action is Disconnect, the chunk's message behind it.
    std::mutex gate;
    std::unique_lock held(gate);
    std::atomic<int> closed{-1};
    std::atomic<bool> busy{false};
    window.Post([&] {
        busy = true;
        std::lock_guard wait(gate);
        closed = port.Close();
    });
    // The chunk comes only once the window is stuck in its task; earlier, the
    // window could run the hand-over before it takes the task.
    ASSERT_TRUE(TestWindow::PollFor([&] { return busy.load(); }));
    pty.Send({1, 2, 3, 4});
    ASSERT_TRUE(TestWindow::PollFor([&] { return port.HandOverWaiting(); }));
    held.unlock();
    ASSERT_TRUE(window.WaitFor([&] { return closed.load() != -1 && window.emptyWakes == 1; }));
    EXPECT_EQ(closed.load(), 1);
    EXPECT_TRUE(WaitForThreadCount(baseThreads));
    auto lock = window.Lock();
    EXPECT_EQ(window.rxHandled, 0);
}

TEST_F(SerialPortTest, WriteToAStalledDeviceGivesUpAndTheNextWriteIsClean)
{
    StalledWrite(false);
}

TEST_F(SerialPortSoak, WriteToAStalledDeviceGivesUpAfterAboutASecondAndTheNextWriteIsClean)
{
    StalledWrite(true);
}

TEST_F(SerialPortTest, CloseFromInsideTheReceiveHandler)
{
    std::atomic<int> closed{-1};
    window.onReceive = [&] { closed = port.Close(); };
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    pty.Send(Pattern(3000));
    ASSERT_TRUE(window.WaitFor([&] { return closed.load() != -1; }));
    EXPECT_EQ(closed.load(), 1);
    EXPECT_TRUE(WaitForThreadCount(baseThreads));
    auto lock = window.Lock();
    EXPECT_EQ(window.rxHandled, 1);
}

void SerialPortTest::FarEndClosingMidStream(bool measureCpu)
{
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    {
        Streamer streamer(pty.Master());
        ASSERT_TRUE(window.WaitFor([&] { return window.received.size() > 20000; }));
        streamer.Stop();
    }
    const double cpuBefore = ProcessCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    pty.CloseMaster();   // the modem is unplugged

    ASSERT_TRUE(window.WaitFor([&] { return window.goneHandled == 1; }));
    EXPECT_EQ(port.IsOpen(), 0);   // the window ran its Disconnect steps
    EXPECT_TRUE(WaitForThreadCount(baseThreads));
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    // A reader spinning on the dead descriptor would burn a core for the whole wait.
    if (measureCpu) {
        EXPECT_LT(cpu, 0.5 + 0.5 * wall);
    }
    EXPECT_EQ(Disconnect(), 0);
}

TEST_F(SerialPortTest, FarEndClosingMidStreamEndsTheReader)
{
    FarEndClosingMidStream(false);
}

TEST_F(SerialPortSoak, FarEndClosingMidStreamEndsTheReaderWithoutSpinning)
{
    FarEndClosingMidStream(true);
}

TEST_F(SerialPortTest, GoneOfAnEarlierConnectionIsIgnored)
{
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    // The window is busy while the device goes away; by the time it reads
    // WM_COMM_GONE it has already reconnected, to another device.
    PtyPair replacement;
    std::mutex gate;
    std::unique_lock held(gate);
    std::atomic<int> reopened{-1};
    std::atomic<bool> busy{false};
    window.Post([&] {
        busy = true;
        std::lock_guard wait(gate);
        reopened = port.Open();
    });
    // The device goes only once the window is stuck in its task; earlier, the
    // window could take the gone notice before it reconnects.
    ASSERT_TRUE(TestWindow::PollFor([&] { return busy.load(); }));
    pty.CloseMaster();
    ASSERT_TRUE(TestWindow::PollFor([&] { return port.HandOverWaiting(); }));
    ports.Link("COM7", replacement.SlavePath());
    held.unlock();
    ASSERT_TRUE(window.WaitFor([&] { return window.emptyWakes == 1 && window.goneHandled == 0; }));
    EXPECT_EQ(reopened.load(), 1) << port.GetLastErrorText();
    EXPECT_EQ(port.IsOpen(), 1);
    replacement.Send({0x31});
    EXPECT_TRUE(window.WaitFor([&] { return window.received.size() == 1; }));
    EXPECT_EQ(Disconnect(), 1);
}

void SerialPortTest::DisconnectWhileTheDeviceStreams(int rounds)
{
    const int descriptors = OpenDescriptorCount();
    Streamer streamer(pty.Master());
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        std::size_t before = 0;
        {
            auto lock = window.Lock();
            before = window.received.size();
        }
        ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
        ASSERT_TRUE(window.WaitFor([&] { return window.received.size() > before; }));
        ASSERT_EQ(Disconnect(), 1);
        ASSERT_FALSE(g_hThread.joinable());
    }
    streamer.Stop();
    EXPECT_TRUE(WaitForThreadCount(baseThreads));
    EXPECT_EQ(OpenDescriptorCount(), descriptors);   // device and wake-up event released every time
}

TEST_F(SerialPortTest, DisconnectWhileTheDeviceStreams)
{
    DisconnectWhileTheDeviceStreams(10);
}

TEST_F(SerialPortSoak, DisconnectWhileTheDeviceStreams200Times)
{
    DisconnectWhileTheDeviceStreams(200);
}

TEST(SerialPortHardware, OpensTheNamedRealPort)
{
    const char* device = std::getenv("ORVANE_TEST_PORT");
    if (device == nullptr || *device == '\0')
        GTEST_SKIP() << "set ORVANE_TEST_PORT to a real serial device to run";
    PortDir ports;
    ports.Link("COM1", device);
    CSerialPort port;
    SetName(port, "COM1");
    ASSERT_EQ(port.Open(), 1) << port.GetLastErrorText();
    const std::uint8_t at[] = {'A', 'T', '\r'};
    EXPECT_EQ(port.Write(at, 3), 3);
    EXPECT_EQ(port.GetState(), 1);
    EXPECT_EQ(port.Close(), 1);
}

TEST(SerialErrors, EachReasonTheUserSees)
{
    const std::string busy = "held by another program (ModemManager, which probes new modem ports, is a usual suspect)";
    struct Case {
        serialio::SysError error;
        std::string text;
    } const cases[] = {
        {{"open", EACCES, {}}, "Permission denied: is your user in the dialout group?"},
        {{"open", EPERM, {}}, "Permission denied: is your user in the dialout group?"},
        {{"open", ENOENT, {}}, "No such device"},
        {{"open", ENODEV, {}}, "No such device"},
        {{"open", ENXIO, {}}, "No such device"},
        {{"flock", EWOULDBLOCK, {}}, busy},
        {{"open", EBUSY, {}}, busy},
        {{"tcgetattr", ENOTTY, {}}, "not a serial device (tcgetattr: Inappropriate ioctl for device)"},
        {{"tcsetattr", EINVAL, "baud rate 14400"}, "tcsetattr: Invalid argument (baud rate 14400)"},
        {{"ioctl TIOCMBIS", EIO, {}}, "ioctl TIOCMBIS: Input/output error"},
        {{{}, 0, "byte size 4 cannot be set (5 to 8 data bits)"}, "byte size 4 cannot be set (5 to 8 data bits)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(serialio::DescribeError(c.error), c.text);
    }
}

// A capture's window reads the rest of a burst on its own thread while the
// reader is held: the bytes still arrive whole, in order, in chunks of at
// most 8192, and a Close or an unplugged device in the middle of a burst ends
// it cleanly.
TEST_F(SerialPortTest, BurstsReadOnTheWindowThreadLoseNothing)
{
    window.readBurst = true;
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    const std::vector<std::uint8_t> data = Pattern(300000);
    std::thread far([&] { pty.Send(data); });
    ASSERT_TRUE(window.WaitFor([&] { return window.received.size() >= data.size(); }));
    far.join();
    {
        auto lock = window.Lock();
        EXPECT_EQ(window.received, data);
        for (const std::uint32_t chunk : window.chunks) {
            EXPECT_GE(chunk, 1u);
            EXPECT_LE(chunk, kMaxChunk);
        }
    }
    // Still receiving after the bursts: the reader carries on.
    pty.Send({1, 2, 3});
    EXPECT_TRUE(window.WaitFor([&] { return window.received.size() == data.size() + 3; }));
}

TEST_F(SerialPortTest, CloseFromAHandlerInTheMiddleOfABurst)
{
    window.readBurst = true;
    std::atomic<int> closed{-1};
    int handled = 0;   // window thread only
    window.onReceive = [&] {
        if (++handled == 3)
            closed = port.Close();
    };
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    {
        Streamer streamer(pty.Master());
        ASSERT_TRUE(window.WaitFor([&] { return closed.load() != -1; }));
        streamer.Stop();
    }
    EXPECT_EQ(closed.load(), 1);
    EXPECT_TRUE(WaitForThreadCount(baseThreads));
    auto lock = window.Lock();
    EXPECT_EQ(window.rxHandled, 3);   // nothing was read or handled after the Close
}

TEST_F(SerialPortTest, UnpluggedWhileReadingBurstsIsReportedOnce)
{
    window.readBurst = true;
    ASSERT_EQ(Connect(), 1) << port.GetLastErrorText();
    {
        Streamer streamer(pty.Master());
        ASSERT_TRUE(window.WaitFor([&] { return window.received.size() > 100000; }));
        streamer.Stop();
    }
    pty.CloseMaster();   // with the last of the stream still queued
    ASSERT_TRUE(window.WaitFor([&] { return window.goneHandled == 1; }));
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_TRUE(WaitForThreadCount(baseThreads));
}
