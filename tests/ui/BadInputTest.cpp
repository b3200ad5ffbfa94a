// SPDX-License-Identifier: GPL-2.0-or-later
// Bad input tried on purpose through the real window: hostile configuration
// files and replay files picked in the file dialog, a peer that floods the
// line in every mode, and a start-up directory the capture cannot be created
// in. The window must refuse or cope, stay responsive, count every byte and
// lose nothing it already captured.
#include "LogClientFarEnd.h"
#include "logclient/DmcReader.h"

#include "support/DmFrames.h"
#include "support/FakePrompts.h"
#include "support/Fixtures.h"
#include "support/Pty.h"
#include "support/SampleData.h"
#include "ui/SettingsStore.h"
#include "ui/WindowControls.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using logclient_test::Bytes;
using logclient_test::FarEnd;
using logclient_test::Unframe;

const QString kFailToLoad = QStringLiteral("Fail to load dmc file");
const QString kFailToCreate = QStringLiteral("Fail to create log file");

std::size_t PeakRss()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}

std::string WriteText(const TempDir& dir, const std::string& name, const std::string& content)
{
    const std::string path = dir.Path() + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out << content;
    EXPECT_TRUE(out.good()) << path;
    return path;
}

std::string Dmc(const std::string& lists, const std::string& prolog = {})
{
    return prolog + "<QXDMProfessional><Persistence><MessagesView><ISVConfig>" + lists +
           "</ISVConfig></MessagesView></Persistence></QXDMProfessional>\n";
}

// Splits what the tool wrote into packets and checks every frame on the way:
// nothing after the last flag (no frame cut short went out), no frame longer
// than the outgoing buffer, every FCS right. Returns the packets without FCS.
std::vector<Bytes> CheckedPackets(const Bytes& wire)
{
    std::vector<Bytes> packets;
    if (!wire.empty()) {
        EXPECT_EQ(wire.back(), 0x7E) << "the wire ends inside a frame";
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] != 0x7E)
            continue;
        EXPECT_LE(i + 1 - start, static_cast<std::size_t>(kTxBufSize)) << "frame longer than the buffer";
        start = i + 1;
    }
    for (Bytes frame : Unframe(wire)) {
        if (frame.size() < 3) {
            ADD_FAILURE() << "a frame of " << frame.size() << " bytes";
            continue;
        }
        const std::uint16_t fcs = static_cast<std::uint16_t>(frame[frame.size() - 2] | frame.back() << 8);
        frame.resize(frame.size() - 2);
        EXPECT_EQ(fcs, ReferenceFcs(frame)) << "command " << int(frame[0]);
        packets.push_back(std::move(frame));
    }
    return packets;
}

// Bytes counted since the count was before.
std::uint64_t Counted(COrvaneDlg& dlg, std::int64_t before)
{
    return static_cast<std::uint64_t>(RxTotal(dlg) - before);
}

class BadInputDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ports.Link("COM1", pty.SlavePath());
        dlg = std::make_unique<COrvaneDlg>(prompts);
        UseStartDir(*dlg, startDir.Path());
    }
    void TearDown() override { dlg.reset(); }

    void Connect()
    {
        dlg->OnConnect();
        ASSERT_TRUE(PortOpen(*dlg)) << prompts.Texts().join('|').toStdString();
    }

    // "Load Configuration..." with the file dialog answering path.
    void LoadConfiguration(const std::string& path)
    {
        prompts.answers.push_back(QString::fromStdString(path));
        dlg->OnSend();
    }

    // Bodies run at two sizes: a quick one in the default suite, and the
    // full one with its memory or wall-clock figure under the soak label.
    void HugeConfigurationLoadsAndRuns(int megabytes, bool measureMemory);
    void LongListsThroughTheSequence(int entries);
    void HugeReplayFileIsRefused(bool measureMemory);
    void ReplayToAPeerThatStopsReading(bool measureTime);

    FakePrompts prompts;
    PtyPair pty;
    PortDir ports;
    TempDir startDir;
    TempDir files;
    std::unique_ptr<COrvaneDlg> dlg;
};

class BadInputDialogSoak : public BadInputDialog {};

// ---------------------------------------------------------------------------
// Configuration files

// A 100 MB file whose bulk is a comment: it loads, the three steps run and
// the capture is created, and memory stays within a few times the file.
void BadInputDialog::HugeConfigurationLoadsAndRuns(int megabytes, bool measureMemory)
{
    const std::string path = files.Path() + "/huge.dmc";
    {
        std::ofstream out(path, std::ios::binary);
        out << "<QXDMProfessional><!--";
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < megabytes; ++i)
            out << block;
        out << "--><Persistence><MessagesView><ISVConfig><EventIDs>1,2,</EventIDs><LogCodes>0x1005,</LogCodes>"
               "<MessageLevels>0/1,</MessageLevels></ISVConfig></MessagesView></Persistence></QXDMProfessional>";
        ASSERT_TRUE(out.good());
    }
    FarEnd far(pty);
    Radio(*dlg, "IDC_MODE_LOG_CLIENT").click();
    Connect();
    const std::size_t before = PeakRss();
    LoadConfiguration(path);
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.Texts().join('|').toStdString();
    ASSERT_TRUE(WaitUntil([&] { return Steps(*dlg) == 3; }, 60000)) << Steps(*dlg);
    EXPECT_TRUE(Capture(*dlg).IsOpen());
    const std::vector<Bytes> packets = CheckedPackets(far.WaitFor(1));
    ASSERT_EQ(packets.size(), 4u);   // 60, 82, 73, 7D
    EXPECT_EQ(packets[0], (Bytes{0x60, 0x01}));
    EXPECT_EQ(packets[1][0], 0x82);
    EXPECT_EQ(packets[2][0], 0x73);
    EXPECT_EQ(packets[3][0], 0x7D);
    if (measureMemory) {
        const std::size_t grown = PeakRss() - std::min(PeakRss(), before);
        EXPECT_LT(grown, std::size_t{1000} << 20) << (grown >> 20) << " MB";
    }
}

TEST_F(BadInputDialog, LargeConfigurationLoadsAndRuns)
{
    HugeConfigurationLoadsAndRuns(4, false);
}

// The largest configuration the reader takes (it refuses one over 16 MiB,
// real ones are under 1 MB) loads and runs within memory; a 100 MB one is
// refused with the designed message, nothing sent and no capture made.
TEST_F(BadInputDialogSoak, HundredMegabyteConfigurationLoadsAndRuns)
{
    HugeConfigurationLoadsAndRuns(static_cast<int>(kMaxDmcFileSize >> 20) - 2, true);
    dlg = std::make_unique<COrvaneDlg>(prompts);
    UseStartDir(*dlg, startDir.Path());
    prompts.boxes.clear();
    const std::string path = files.Path() + "/hundred.dmc";
    {
        std::ofstream out(path, std::ios::binary);
        out << "<QXDMProfessional><!--";
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < 100; ++i)
            out << block;
        out << "--></QXDMProfessional>";
        ASSERT_TRUE(out.good());
    }
    FarEnd far(pty);
    Radio(*dlg, "IDC_MODE_LOG_CLIENT").click();
    Connect();
    LoadConfiguration(path);
    ASSERT_FALSE(prompts.boxes.empty());
    EXPECT_NE(prompts.Texts().join('|').toStdString().find("Fail to load dmc file"), std::string::npos);
    EXPECT_FALSE(Capture(*dlg).IsOpen());
    EXPECT_EQ(Steps(*dlg), 0);
}

// Files that are not configuration files at all, and entity tricks: refused
// with the message and its reason, nothing sent, no capture created.
TEST_F(BadInputDialog, HostileConfigurationFilesAreRefused)
{
    std::mt19937 rng(9);
    std::string random(65536, '\0');
    for (char& c : random)
        c = static_cast<char>(rng() & 0xFF);
    std::string laughs = "<!DOCTYPE QXDMProfessional [<!ENTITY a \"1,1,1,1,1,1,1,1,1,1,\">";
    for (char c = 'b'; c <= 'j'; ++c) {
        laughs += std::string("<!ENTITY ") + c + " \"";
        for (int k = 0; k < 10; ++k)
            laughs += std::string("&") + static_cast<char>(c - 1) + ";";
        laughs += "\">";
    }
    laughs += "]>";

    struct Case {
        const char* name;
        std::string path;
    };
    const Bytes capture = fixture::ModemCapture(29, 9).wire;
    std::vector<Case> cases = {
        {"random bytes", WriteText(files, "random.dmc", random)},
        {"capture.qmdl", WriteText(files, "capture.qmdl", std::string(capture.begin(), capture.end()))},
        {"billion laughs", WriteText(files, "laughs.dmc", Dmc("<EventIDs>&j;</EventIDs>", laughs))},
        {"external entity",
         WriteText(files, "xxe.dmc",
                   Dmc("<EventIDs>&x;</EventIDs>", "<!DOCTYPE QXDMProfessional [<!ENTITY x SYSTEM \"file://" +
                                                       WriteText(files, "ids.txt", "1,2,3,") + "\">]>"))},
    };
    // The real captures too, where the optional samples are there.
    for (const char* name : {"qmdl/goodsim-small.qmdl", "qmdl/deadsim.qmdl"})
        if (const std::optional<std::string> sample = SampleFile(name))
            cases.push_back({name, *sample});
    FarEnd far(pty);
    Radio(*dlg, "IDC_MODE_LOG_CLIENT").click();
    Connect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompts.boxes.clear();
        far.Clear();
        LoadConfiguration(c.path);
        ASSERT_EQ(prompts.boxes.size(), 1u) << prompts.Texts().join('|').toStdString();
        EXPECT_EQ(prompts.boxes[0].text.toStdString(), kFailToLoad.toStdString());
        EXPECT_EQ(prompts.boxes[0].icon, IPrompts::Icon::Exclamation);
        EXPECT_FALSE(prompts.boxes[0].detail.isEmpty());
        PumpEvents(300);
        EXPECT_TRUE(far.Received().empty());
        EXPECT_EQ(Steps(*dlg), 0u);
        EXPECT_FALSE(Capture(*dlg).IsOpen());
        EXPECT_TRUE(startDir.Files().empty());
    }
}

// Lists of a million entries each through the configuration sequence: it
// ends, and every frame that goes out is whole and fits the buffer.
void BadInputDialog::LongListsThroughTheSequence(int entries)
{
    std::string ids, codes, otas, levels;
    char hex[8];
    for (int i = 0; i < entries; ++i) {
        ids += std::to_string(i % 8000) + ",";
        std::snprintf(hex, sizeof hex, "0x%04X", (static_cast<unsigned>(i) * 2654435761u >> 16) & 0xFFFF);
        codes += std::string(hex) + ",";
        std::snprintf(hex, sizeof hex, "0x%04X", 0xFFFF - static_cast<unsigned>(i % 65536));
        otas += std::string(hex) + "/";
        levels += std::to_string((i * 7) % 20000) + "/" + std::to_string(i % 32) + ",";
    }
    const std::string path = WriteText(files, "million.dmc",
                                       Dmc("<EventIDs>" + ids + "</EventIDs><LogCodes>" + codes + "</LogCodes><OTATypes>" +
                                           otas + "</OTATypes><MessageLevels>" + levels + "</MessageLevels>"));
    FarEnd far(pty);
    Radio(*dlg, "IDC_MODE_LOG_CLIENT").click();
    Connect();
    LoadConfiguration(path);
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.Texts().join('|').toStdString();
    ASSERT_TRUE(WaitUntil([&] { return Steps(*dlg) == 3; }, 180000)) << Steps(*dlg);
    const std::vector<Bytes> packets = CheckedPackets(far.WaitFor(1, 1000));

    std::array<int, 256> byCommand{};
    for (const Bytes& p : packets)
        ++byCommand[p[0]];
    EXPECT_EQ(byCommand[0x60], 1);
    // Ids 0 to 7999: a full mask of 1000 bytes, whose frame still fits.
    EXPECT_EQ(byCommand[0x82], 1);
    // Equipment ids 1 to 15 all have codes; 20000 ssids make 393 ranges of 51.
    EXPECT_EQ(byCommand[0x73], 15);
    EXPECT_EQ(byCommand[0x7D], 393);
    EXPECT_EQ(byCommand[0x60] + byCommand[0x82] + byCommand[0x73] + byCommand[0x7D],
              static_cast<int>(packets.size()));
}

// A tenth of the length still holds every id, equipment id and ssid.
TEST_F(BadInputDialog, LongListsThroughTheSequence)
{
    LongListsThroughTheSequence(100000);
}

// A million entries make a file over the 16 MiB the reader takes: half a
// million (about 14 MB) is the longest a configuration can carry.
TEST_F(BadInputDialogSoak, MillionEntryListsThroughTheSequence)
{
    LongListsThroughTheSequence(500000);
}

// ---------------------------------------------------------------------------
// A 2 GB replay file: refused before anything is read or allocated, and the
// Log server goes on answering.
void BadInputDialog::HugeReplayFileIsRefused(bool measureMemory)
{
    const std::string path = files.Path() + "/huge.bin";
    {
        const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        const int r = ftruncate(fd, static_cast<off_t>(std::uint64_t{2} << 30));
        close(fd);
        ASSERT_EQ(r, 0) << std::strerror(errno);
    }
    Radio(*dlg, "IDC_MODE_LOG_SERVER").click();
    Connect();
    const std::size_t before = PeakRss();
    prompts.answers.push_back(QString::fromStdString(path));
    dlg->OnSend();
    EXPECT_EQ(prompts.filters.size(), 1);
    EXPECT_TRUE(pty.ReceiveUntilQuiet(std::chrono::milliseconds(300)).empty());
    EXPECT_EQ(Replaying(*dlg), 0);
    EXPECT_TRUE(LogData(*dlg).empty());
    if (measureMemory) {
        EXPECT_LT(PeakRss() - std::min(PeakRss(), before), std::size_t{64} << 20);
    }

    // Still the modem: a request gets its answer.
    pty.Send(logclient_test::HdlcFrame({0x00}));
    Bytes reply;
    WaitUntil([&] {
        pollfd p{pty.Master(), POLLIN, 0};
        if (poll(&p, 1, 0) > 0) {
            std::array<std::uint8_t, 256> buf{};
            const ssize_t n = read(pty.Master(), buf.data(), buf.size());
            if (n > 0)
                reply.insert(reply.end(), buf.begin(), buf.begin() + n);
        }
        return !reply.empty() && reply.back() == 0x7E;
    });
    EXPECT_FALSE(reply.empty());
}

TEST_F(BadInputDialog, TwoGigabyteReplayFileIsRefused)
{
    HugeReplayFileIsRefused(false);
}

TEST_F(BadInputDialogSoak, TwoGigabyteReplayFileIsRefusedWithoutAllocating)
{
    HugeReplayFileIsRefused(true);
}

// ---------------------------------------------------------------------------
// A start-up directory the capture cannot be created in.
//
// The tests run as root, and root writes into a directory whatever its mode
// says. So the directory is made read-only (0555) and, when running as root,
// the process gives up root for the effective user id "nobody" (reversible:
// the saved user id stays 0) for as long as the guard lives; the pty and the
// port directory are opened up so that nobody can still reach the device.
// Where the effective id cannot be changed, the start-up directory becomes a
// regular file instead, which fails the creation just as really (ENOTDIR).
class UnwritableStartDir {
public:
    UnwritableStartDir(COrvaneDlg& dlg, const std::string& dir, const std::vector<std::string>& openUp)
        : m_dir(dir)
    {
        chmod(dir.c_str(), 0555);
        if (geteuid() != 0) {
            m_how = "read-only directory";
            return;
        }
        for (const std::string& path : openUp)
            chmod(path.c_str(), 0777);
        if (seteuid(65534) == 0) {
            m_dropped = true;
            m_how = "read-only directory, effective user nobody";
            return;
        }
        chmod(dir.c_str(), 0755);
        m_file = dir + "/not-a-directory";
        std::ofstream(m_file) << "x";
        UseStartDir(dlg, m_file);
        m_how = "start-up directory is a regular file";
    }
    ~UnwritableStartDir()
    {
        if (m_dropped && seteuid(0) != 0)
            ADD_FAILURE() << "seteuid(0): " << std::strerror(errno);
        chmod(m_dir.c_str(), 0755);
        if (!m_file.empty())
            unlink(m_file.c_str());
    }
    UnwritableStartDir(const UnwritableStartDir&) = delete;
    UnwritableStartDir& operator=(const UnwritableStartDir&) = delete;
    const char* How() const { return m_how; }
    bool IsFile() const { return !m_file.empty(); }

private:
    std::string m_dir;
    std::string m_file;
    bool m_dropped = false;
    const char* m_how = "";
};

TEST_F(BadInputDialog, ReadOnlyStartDirectoryKeepsWhatWasCaptured)
{
    FarEnd far(pty);
    Radio(*dlg, "IDC_MODE_LOG_CLIENT").click();
    Connect();
    auto modemSends = [&](const Bytes& data) {
        const std::int64_t before = RxTotal(*dlg);
        std::thread sender([&] { pty.Send(data); });
        const bool arrived =
            WaitUntil([&] { return Counted(*dlg, before) == data.size(); }, 30000);
        sender.join();
        EXPECT_TRUE(arrived) << Counted(*dlg, before) << " of " << data.size();
    };
    auto defaultsSent = [&] { return WaitUntil([&] { return Steps(*dlg) == 11; }, 10000); };

    // A first capture while the directory can still be written.
    dlg->LoadDefaultConfig();
    ASSERT_TRUE(defaultsSent());
    ASSERT_TRUE(Capture(*dlg).IsOpen());
    const std::string first = Capture(*dlg).Path();
    Bytes captured(50000);
    for (std::size_t i = 0; i < captured.size(); ++i)
        captured[i] = static_cast<std::uint8_t>(i * 31 + 7);
    modemSends(captured);
    dlg->OnDisconnect();
    ASSERT_EQ(logclient_test::ReadFile(first), captured);

    std::vector<std::string> before = startDir.Files();
    {
        UnwritableStartDir guard(*dlg, startDir.Path(), {ports.Path(), pty.SlavePath()});
        RecordProperty("unwritable_by", guard.How());

        // Connect in Log client mode after a configuration: a new capture is
        // tried, fails with its reason, and the defaults go out regardless.
        far.Clear();
        prompts.boxes.clear();
        Connect();
        ASSERT_EQ(prompts.boxes.size(), 1u) << prompts.Texts().join('|').toStdString();
        EXPECT_EQ(prompts.boxes[0].text.toStdString(), kFailToCreate.toStdString());
        EXPECT_EQ(prompts.boxes[0].icon, IPrompts::Icon::Exclamation);
        const QString reason = guard.IsFile() ? QStringLiteral("Not a directory") : QStringLiteral("Permission denied");
        EXPECT_TRUE(prompts.boxes[0].detail.contains(reason)) << prompts.boxes[0].detail.toStdString();
        EXPECT_TRUE(defaultsSent());
        EXPECT_EQ(CheckedPackets(far.WaitFor(1)).size(), 11u);

        // "Load Default Cfg..." tells it again and still configures the modem.
        far.Clear();
        prompts.boxes.clear();
        dlg->LoadDefaultConfig();
        ASSERT_EQ(prompts.boxes.size(), 1u) << prompts.Texts().join('|').toStdString();
        EXPECT_EQ(prompts.boxes[0].text.toStdString(), kFailToCreate.toStdString());
        EXPECT_TRUE(prompts.boxes[0].detail.contains(reason)) << prompts.boxes[0].detail.toStdString();
        EXPECT_TRUE(defaultsSent());
        EXPECT_EQ(CheckedPackets(far.WaitFor(1)).size(), 11u);

        // What the modem sends now is counted, with nowhere to go.
        const std::int64_t total = RxTotal(*dlg);
        modemSends(Bytes(30000, 0x5A));
        EXPECT_EQ(RxTotal(*dlg), total + 30000);
        EXPECT_EQ(Label(*dlg, "IDC_STATIC_STATUS").text().toStdString(), "Received " + std::to_string(RxTotal(*dlg)) + " bytes...");
        EXPECT_FALSE(Capture(*dlg).IsOpen());
        dlg->OnDisconnect();
    }
    // The earlier capture is whole and nothing else appeared.
    EXPECT_EQ(logclient_test::ReadFile(first), captured);
    EXPECT_EQ(startDir.Files(), before);
}

// The running count past 2 GiB: a minute of flood in Log client mode brings
// in about that much, and a logging session far more.
TEST_F(BadInputDialog, ByteCountPastTwoAndFourGigabytes)
{
    Radio(*dlg, "IDC_MODE_HEX").click();
    for (const std::int64_t start : {std::int64_t{INT32_MAX} - 100, std::int64_t{UINT32_MAX} - 100}) {
        SCOPED_TRACE(start);
        RxTotal(*dlg) = start;
        dlg->OnCommRxChar(Bytes(kMaxChunk, 0x41));
        EXPECT_EQ(Label(*dlg, "IDC_STATIC_STATUS").text().toStdString(),
                  "Received " + std::to_string(start + static_cast<std::int64_t>(kMaxChunk)) + " bytes...");
    }
}

// A replay to a peer that has stopped reading: once the line is full every
// 1024-byte chunk waits out the write limit of a second, and the replay runs
// on the window's thread, so the window would stand still for size / 1024
// seconds (twelve days for a file at the 1 GiB limit). The peer here starts
// reading again after 20 s so that the test ends either way.
void BadInputDialog::ReplayToAPeerThatStopsReading(bool measureTime)
{
    Bytes log(1 << 20);
    for (std::size_t i = 0; i < log.size(); ++i)
        log[i] = static_cast<std::uint8_t>(i * 13 + i / 251);
    const std::string path = files.Path() + "/stalled.bin";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(log.data()), static_cast<std::streamsize>(log.size()));
        ASSERT_TRUE(out.good());
    }
    Radio(*dlg, "IDC_MODE_LOG_SERVER").click();
    Connect();

    std::atomic<bool> replayed{false};
    std::jthread peer([&](std::stop_token stop) {
        const auto resume = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!stop.stop_requested() && !replayed && std::chrono::steady_clock::now() < resume)
            poll(nullptr, 0, 50);
        std::array<std::uint8_t, 4096> buf{};
        while (!stop.stop_requested() && !replayed) {
            pollfd p{pty.Master(), POLLIN, 0};
            if (poll(&p, 1, 50) > 0 && (p.revents & POLLIN))
                (void)read(pty.Master(), buf.data(), buf.size());
        }
    });
    QElapsedTimer held;
    held.start();
    prompts.answers.push_back(QString::fromStdString(path));
    dlg->OnSend();
    const qint64 heldMs = held.elapsed();
    replayed = true;
    if (measureTime) {
        EXPECT_LT(heldMs, 10000) << "the window's thread was held for " << heldMs << " ms";
    }
    EXPECT_EQ(Label(*dlg, "IDC_STATIC_STATUS").text(), "Not Sent...");
    EXPECT_EQ(Replaying(*dlg), 0);
}

TEST_F(BadInputDialog, ReplayToAPeerThatStopsReadingEndsNotSent)
{
    ReplayToAPeerThatStopsReading(false);
}

TEST_F(BadInputDialogSoak, ReplayToAPeerThatStopsReadingDoesNotHoldTheWindow)
{
    ReplayToAPeerThatStopsReading(true);
}

// ---------------------------------------------------------------------------
// A peer that floods the line.

int FloodSeconds()
{
    const char* value = std::getenv("ORVANE_FLOOD_SECONDS");
    const int seconds = value ? std::atoi(value) : 60;
    return std::max(seconds, 1);
}

constexpr std::size_t kBurst = 8192;
constexpr int kMaxGapMs = 2000;

// The bursts a flood is made of: every burst is kBurst bytes, so the stream
// the peer sent is the list of patterns with their burst counts.
struct FloodPattern {
    const char* name;
    std::vector<Bytes> bursts;   // used in turn
};

std::vector<FloodPattern> FloodPatterns()
{
    std::mt19937 rng(20261207);
    FloodPattern random{"8192-byte random bursts", {}};
    for (int k = 0; k < 16; ++k) {
        Bytes b(kBurst);
        for (std::uint8_t& x : b)
            x = static_cast<std::uint8_t>(rng() & 0xFF);
        random.bursts.push_back(std::move(b));
    }
    return {
        {"0x7E flood", {Bytes(kBurst, 0x7E)}},
        {"NUL flood", {Bytes(kBurst, 0x00)}},
        std::move(random),
    };
}

// The peer: writes whole bursts as fast as the line takes them until told to
// stop, while another thread drains whatever the tool writes back, so neither
// side can block the other.
class FloodPeer {
public:
    explicit FloodPeer(int master) : m_master(master)
    {
        const int flags = fcntl(m_master, F_GETFL);
        fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
        m_drain = std::jthread([this](std::stop_token stop) { Drain(stop); });
    }
    ~FloodPeer() { m_drain.request_stop(); }
    FloodPeer(const FloodPeer&) = delete;
    FloodPeer& operator=(const FloodPeer&) = delete;

    // Sends bursts of pattern until stop; returns how many whole bursts went.
    std::uint64_t Flood(const FloodPattern& pattern, const std::atomic<bool>& stop)
    {
        std::uint64_t bursts = 0;
        while (!stop) {
            const Bytes& b = pattern.bursts[bursts % pattern.bursts.size()];
            if (!WriteAll(b))
                break;
            ++bursts;
        }
        return bursts;
    }
    // Sends count bursts of pattern; returns how many went whole.
    std::uint64_t Send(const FloodPattern& pattern, std::uint64_t count)
    {
        std::uint64_t bursts = 0;
        while (bursts < count && WriteAll(pattern.bursts[bursts % pattern.bursts.size()]))
            ++bursts;
        return bursts;
    }
    std::uint64_t Drained() const { return m_drained; }
    bool Failed() const { return m_failed; }

private:
    // A burst once started goes out whole (the stop flag is not looked at
    // inside it), unless the line stays blocked for 10 s.
    bool WriteAll(const Bytes& b)
    {
        std::size_t done = 0;
        int blockedMs = 0;
        while (done < b.size()) {
            const ssize_t n = write(m_master, b.data() + done, b.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                blockedMs = 0;
                continue;
            }
            if (n < 0 && errno != EINTR && errno != EAGAIN) {
                m_failed = true;
                return false;
            }
            pollfd p{m_master, POLLOUT, 0};
            poll(&p, 1, 50);
            blockedMs += 50;
            if (blockedMs > 10000) {
                m_failed = true;
                return false;
            }
        }
        return true;
    }

    void Drain(const std::stop_token& stop)
    {
        std::array<std::uint8_t, 4096> buf{};
        while (!stop.stop_requested()) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
                continue;
            const ssize_t n = read(m_master, buf.data(), buf.size());
            if (n > 0)
                m_drained += static_cast<std::uint64_t>(n);
        }
    }

    int m_master;
    std::atomic<std::uint64_t> m_drained{0};
    std::atomic<bool> m_failed{false};
    std::jthread m_drain;
};

struct FloodRun {
    std::uint64_t sent = 0;
    std::vector<std::uint64_t> bursts;   // per pattern
    qint64 worstGapMs = 0;
};

// Runs the window's own event loop while the peer floods with each pattern
// for seconds / 3, and a 10 ms timer measures how long the loop ever went
// without turning. Afterwards waits until the window has counted every byte.
FloodRun RunFlood(COrvaneDlg& dlg, FloodPeer& peer, const std::vector<FloodPattern>& patterns, int seconds)
{
    FloodRun run;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.elapsed();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        run.worstGapMs = std::max(run.worstGapMs, now - last);
        last = now;
    });

    const std::int64_t before = RxTotal(dlg);
    const int perPatternMs = std::max(1000, seconds * 1000 / static_cast<int>(patterns.size()));
    for (const FloodPattern& pattern : patterns) {
        std::atomic<bool> stop{false};
        std::uint64_t bursts = 0;
        std::thread sender([&] { bursts = peer.Flood(pattern, stop); });
        QEventLoop loop;
        QTimer::singleShot(perPatternMs, &loop, &QEventLoop::quit);
        last = clock.elapsed();
        tick.start();
        loop.exec();
        stop = true;
        // The sender may be inside its last burst: the window goes on taking
        // the line while it finishes.
        std::atomic<bool> joined{false};
        std::thread joiner([&] {
            sender.join();
            joined = true;
        });
        WaitUntil([&] { return joined.load(); }, 30000);
        joiner.join();
        tick.stop();
        run.bursts.push_back(bursts);
        run.sent += bursts * kBurst;
    }
    WaitUntil([&] { return Counted(dlg, before) == run.sent; }, 30000);
    return run;
}

// The same without a clock: the peer sends a fixed number of bursts of each
// pattern while the window's events run, then the window counts every byte.
FloodRun RunFixedFlood(COrvaneDlg& dlg, FloodPeer& peer, const std::vector<FloodPattern>& patterns,
                       std::uint64_t burstsPerPattern)
{
    FloodRun run;
    const std::int64_t before = RxTotal(dlg);
    for (const FloodPattern& pattern : patterns) {
        std::atomic<bool> done{false};
        std::uint64_t bursts = 0;
        std::thread sender([&] {
            bursts = peer.Send(pattern, burstsPerPattern);
            done = true;
        });
        WaitUntil([&] { return done.load(); }, 60000);
        sender.join();
        run.bursts.push_back(bursts);
        run.sent += bursts * kBurst;
    }
    WaitUntil([&] { return Counted(dlg, before) == run.sent; }, 30000);
    return run;
}

// Reads a capture back and checks it is exactly the bursts the peer sent.
void ExpectCaptureIs(const std::string& path, const std::vector<FloodPattern>& patterns, const FloodRun& run)
{
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path;
    Bytes block(kBurst);
    for (std::size_t p = 0; p < patterns.size(); ++p) {
        SCOPED_TRACE(patterns[p].name);
        for (std::uint64_t k = 0; k < run.bursts[p]; ++k) {
            in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(kBurst));
            ASSERT_EQ(in.gcount(), static_cast<std::streamsize>(kBurst)) << "capture ends at burst " << k;
            ASSERT_TRUE(block == patterns[p].bursts[k % patterns[p].bursts.size()]) << "burst " << k << " differs";
        }
    }
    EXPECT_EQ(in.peek(), std::char_traits<char>::eof()) << "capture holds more than was sent";
}

struct FloodMode {
    const char* name;
    int radio;
    std::int32_t mode;
    bool decodedView = false;   // the decoded view shown: its worker reads the same flood
};

// Shows the decoded view for a test; its kept choice goes back to off after.
class ShownDecodedView {
public:
    explicit ShownDecodedView(COrvaneDlg& dlg) { Action(dlg, "actionDecodedView").trigger(); }
    ~ShownDecodedView() { CSettingsStore().SetDecodedViewShown(false); }
    ShownDecodedView(const ShownDecodedView&) = delete;
    ShownDecodedView& operator=(const ShownDecodedView&) = delete;
};

void PrintTo(const FloodMode& m, std::ostream* os)
{
    *os << m.name;
}

class FloodTest : public BadInputDialog, public ::testing::WithParamInterface<FloodMode> {
protected:
    // measured: the peer floods for FloodSeconds() and the event loop's worst
    // gap is bounded; otherwise a fixed number of bursts, no clock involved.
    void Flood(bool measured);
};

class FloodSoak : public FloodTest {};

void FloodTest::Flood(bool measured)
{
    const FloodMode& m = GetParam();
    Radio(*dlg, kModeRadio[m.radio]).click();
    ASSERT_EQ(dlg->m_nMode, m.mode);
    std::optional<ShownDecodedView> view;
    if (m.decodedView)
        view.emplace(*dlg);
    Connect();
    FloodPeer peer(pty.Master());
    std::string capture;
    if (m.mode == MODE_LOG_CLIENT) {
        // A capture is open and the default packets have gone out.
        dlg->LoadDefaultConfig();
        ASSERT_TRUE(Capture(*dlg).IsOpen()) << prompts.Texts().join('|').toStdString();
        ASSERT_TRUE(WaitUntil([&] { return Steps(*dlg) == 11; }, 10000));
        capture = Capture(*dlg).Path();
    }

    const std::vector<FloodPattern> patterns = FloodPatterns();
    const std::int64_t before = RxTotal(*dlg);
    const FloodRun run = measured ? RunFlood(*dlg, peer, patterns, FloodSeconds()) : RunFixedFlood(*dlg, peer, patterns, 32);
    RecordProperty("bytes_sent", std::to_string(run.sent));
    if (measured)
        RecordProperty("worst_gap_ms", static_cast<int>(run.worstGapMs));

    EXPECT_FALSE(peer.Failed()) << "the line stayed blocked";
    EXPECT_TRUE(PortOpen(*dlg));
    if (measured) {
        EXPECT_LE(run.worstGapMs, kMaxGapMs) << "the event loop stood still";
    }
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.Texts().join('|').toStdString();
    EXPECT_EQ(Counted(*dlg, before), run.sent);
    EXPECT_EQ(Label(*dlg, "IDC_STATIC_STATUS").text().toStdString(), "Received " + std::to_string(RxTotal(*dlg)) + " bytes...");

    if (m.mode == MODE_LOG_SERVER) {
        // Replies went out and the line did not jam.
        EXPECT_TRUE(WaitUntil([&] { return peer.Drained() > 0; }, 5000));
    }
    dlg->OnDisconnect();
    if (m.mode == MODE_LOG_CLIENT)
        ExpectCaptureIs(capture, patterns, run);
}

TEST_P(FloodTest, EveryByteIsCountedAndCaptured)
{
    Flood(false);
}

TEST_P(FloodSoak, WindowStaysResponsiveAndCountsEveryByte)
{
    Flood(true);
}

const auto kEveryMode =
    ::testing::Values(FloodMode{"LogClient", MODE_LOG_CLIENT, MODE_LOG_CLIENT},
                      FloodMode{"LogClientDecodedView", MODE_LOG_CLIENT, MODE_LOG_CLIENT, true},
                      FloodMode{"DmAt", MODE_DM_AT, MODE_DM_AT},
                      FloodMode{"Hex", MODE_HEX, MODE_HEX},
                      FloodMode{"Ascii", MODE_ASCII, MODE_ASCII},
                      FloodMode{"LogServer", MODE_LOG_SERVER, MODE_LOG_SERVER});

std::string ModeName(const ::testing::TestParamInfo<FloodMode>& info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(EveryMode, FloodTest, kEveryMode, ModeName);
INSTANTIATE_TEST_SUITE_P(EveryMode, FloodSoak, kEveryMode, ModeName);

}   // namespace
