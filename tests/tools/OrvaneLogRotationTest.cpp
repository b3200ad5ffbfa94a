// SPDX-License-Identifier: GPL-2.0-or-later
// orvane-log's pure parts of a lab run: where rotation cuts a stream, which
// captures --keep and --min-free let go, the status line at a terminal's
// width, and when systemd's notices are due.
#include "dm/HdlcDeframer.h"
#include "support/DmFrames.h"
#include "support/Pty.h"
#include "tools/orvanelog/DiskFloor.h"
#include "tools/orvanelog/Notify.h"
#include "tools/orvanelog/Rotation.h"
#include "tools/orvanelog/Status.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A frame of n payload bytes (flags and escapes among them when dense).
Bytes Frame(std::size_t n, std::uint8_t seed)
{
    Bytes payload(n);
    for (std::size_t i = 0; i < n; ++i)
        payload[i] = static_cast<std::uint8_t>(seed + i * 13);
    return ReferenceFrame(payload);
}

// Splits stream into files as the run does: chunks of chunkSize, the clock
// advancing by tick per chunk.
std::vector<Bytes> Rotate(const Bytes& stream, RotationLimits limits, std::size_t chunkSize, Clock::duration tick)
{
    CRotation rotation(limits);
    Clock::time_point now{};
    rotation.Started(now);
    std::vector<Bytes> files(1);
    for (std::size_t at = 0; at < stream.size(); at += chunkSize) {
        std::span<const std::uint8_t> chunk(stream.data() + at, std::min(chunkSize, stream.size() - at));
        while (!chunk.empty()) {
            const CRotation::Cut cut = rotation.Next(chunk, now);
            files.back().insert(files.back().end(), chunk.begin(), chunk.begin() + static_cast<long>(cut.take));
            rotation.Wrote(chunk.first(cut.take));
            chunk = chunk.subspan(cut.take);
            if (cut.newFile) {
                files.emplace_back();
                rotation.Started(now);
            }
        }
        now += tick;
    }
    if (files.back().empty())
        files.pop_back();
    return files;
}

std::size_t GoodFrames(const Bytes& file, std::size_t* bad)
{
    CHdlcDeframer deframer;
    std::vector<HdlcItem> items;
    deframer.Push(file, items);
    std::size_t good = 0;
    *bad = 0;
    for (const HdlcItem& item : items)
        item.kind == HdlcItem::Kind::Frame ? ++good : ++*bad;
    return good;
}

TEST(OrvaneLogRotation, EveryFileHoldsWholeFramesAndTheFilesAreTheStream)
{
    constexpr std::size_t kLongestShortFrame = 2 * 320 + 4;
    Bytes stream;
    for (std::size_t i = 0; i < 200; ++i) {
        const Bytes f = Frame(20 + (i * 37) % 300, static_cast<std::uint8_t>(i));
        stream.insert(stream.end(), f.begin(), f.end());
    }
    const Bytes longFrame = Frame(5000, 0x7E);   // longer than the size limit below
    stream.insert(stream.end(), longFrame.begin(), longFrame.end());
    for (std::size_t i = 0; i < 20; ++i) {
        const Bytes f = Frame(100, static_cast<std::uint8_t>(i));
        stream.insert(stream.end(), f.begin(), f.end());
    }
    struct Case {
        const char* name;
        RotationLimits limits;
        std::size_t chunk;
        std::size_t minFiles;
        std::uint64_t largest;   // no file above this but the one with the long frame
    };
    const Case cases[] = {
        {"size, small chunks", {4096, {}}, 61, 10, 4096},
        {"size, chunks larger than the limit", {4096, {}}, 10000, 10, 4096},
        {"size of one byte: one frame a file", {1, {}}, 512, 200, 0},
        {"time", {0, 1s}, 700, 5, 0},
        {"size and time", {8192, 3s}, 333, 5, 8192},
        {"no limit", {0, {}}, 1024, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Bytes> files = Rotate(stream, c.limits, c.chunk, 250ms);
        EXPECT_GE(files.size(), c.minFiles);
        Bytes joined;
        for (const Bytes& file : files) {
            joined.insert(joined.end(), file.begin(), file.end());
            ASSERT_FALSE(file.empty());
            EXPECT_EQ(file.back(), 0x7E) << "a file ends with a frame's flag";
            std::size_t bad = 0;
            EXPECT_GE(GoodFrames(file, &bad), 1u);
            EXPECT_EQ(bad, 0u);
            // Past the limit by at most the frame that crossed it and began in the file.
            if (c.largest > 0 && std::search(file.begin(), file.end(), longFrame.begin(), longFrame.end()) == file.end()) {
                EXPECT_LE(file.size(), c.largest + kLongestShortFrame);
            }
        }
        EXPECT_TRUE(joined == stream);
    }
}

// The frame that crosses the limit: it goes whole into the next file when the
// file ends with a flag as the limit is reached; a frame that began in the
// file finishes there.
TEST(OrvaneLogRotation, AFrameAcrossTheLimitIsNeverSplit)
{
    const Bytes a = Frame(50, 1), b = Frame(50, 2);
    Bytes stream = a;
    stream.insert(stream.end(), b.begin(), b.end());
    struct Case {
        const char* name;
        std::uint64_t limit;
        std::size_t chunk;
        std::vector<std::size_t> sizes;
    };
    const Case cases[] = {
        {"b straddles, one chunk", a.size() + 10, stream.size(), {a.size(), b.size()}},
        {"b straddles, chunk ends at a's flag", a.size() + 10, a.size(), {a.size(), b.size()}},
        {"b straddles, chunk mid a", a.size() + 10, a.size() / 2, {a.size(), b.size()}},
        {"a longer than the limit", 10, 7, {a.size(), b.size()}},
        {"both fit", stream.size(), 9, {stream.size()}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Bytes> files = Rotate(stream, {c.limit, {}}, c.chunk, 1ms);
        std::vector<std::size_t> sizes;
        for (const Bytes& f : files)
            sizes.push_back(f.size());
        EXPECT_EQ(sizes, c.sizes);
    }
}

CaptureFileId IdOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::string Touch(const TempDir& dir, const std::string& name)
{
    const std::string path = dir.Path() + "/" + name;
    std::ofstream(path) << name;
    return path;
}

TEST(OrvaneLogDisk, KeepDeletesOnlyThisRunsOldestByIdentity)
{
    TempDir dir;
    const std::string stranger = Touch(dir, "01-01-00-00-00.bin");   // not of this run
    CRunFiles files;
    for (const char* name : {"a.bin", "b.bin", "c.bin", "d.bin"}) {
        const std::string path = Touch(dir, name);
        files.Add(path, IdOf(path));
    }
    // b's name now leads to another file (made while b still existed, so it
    // cannot have b's inode): it is let go, not deleted.
    std::filesystem::rename(Touch(dir, "b.new"), dir.Path() + "/b.bin");
    using Removed = CRunFiles::Removed;
    const std::vector<Removed> removed = files.KeepNewest(2);
    EXPECT_EQ(removed, (std::vector<Removed>{{dir.Path() + "/a.bin", 5}}));
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"01-01-00-00-00.bin", "b.bin", "c.bin", "d.bin"}));
    EXPECT_EQ(files.KeepNewest(1), (std::vector<Removed>{{dir.Path() + "/c.bin", 5}}));
    EXPECT_EQ(files.KeepNewest(0), std::vector<Removed>{}) << "the open capture always stays";
    EXPECT_TRUE(std::filesystem::exists(stranger));
}

TEST(OrvaneLogDisk, MinFreeDeletesOldestAndGivesUpWhenOnlyTheOpenOneIsLeft)
{
    TempDir dir;
    std::uint64_t free = 0;
    CRunFiles files([&](const std::string&) -> std::optional<std::uint64_t> { return free; });
    for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
        const std::string path = Touch(dir, name);
        files.Add(path, IdOf(path));
    }
    struct Step {
        std::uint64_t free;
        bool kept;
        std::size_t left;
    };
    // The fake disk does not grow as files go: each step deletes until one is left.
    const Step steps[] = {{1000, true, 3}, {10, false, 1}, {1000, true, 1}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.free);
        free = s.free;
        const CRunFiles::FloorResult r = files.KeepFree(dir.Path(), 100);
        EXPECT_EQ(r.kept, s.kept);
        EXPECT_EQ(files.Count(), s.left);
    }
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"c.bin"});
}

TEST(OrvaneLogStatus, TheLineFitsTheTerminal)
{
    StatusFigures f;
    f.elapsedSeconds = 3723;
    f.capture = "/var/lib/orvane-log/captures/12-07-17-30-00.bin";
    f.bytes = 123456789;
    f.bytesPerSecond = 2.5e6;
    f.frames = 1234567;
    f.badFrames = 3;
    f.logCodes = 42;
    const std::string full = FormatStatus(f);
    for (const std::size_t columns : {0u, 200u, 120u, 80u, 60u, 40u, 20u}) {
        SCOPED_TRACE(columns);
        const std::string line = FitStatus(f, columns);
        if (columns == 0 || full.size() < columns) {
            EXPECT_EQ(line, full);
            continue;
        }
        EXPECT_LT(line.size(), columns);
        EXPECT_EQ(line.find("/var/lib"), std::string::npos) << "the base name goes first";
        EXPECT_EQ(line.rfind("1:02:03", 0), 0u);
    }
    // The name's end is what tells one capture from the next; the figures stay
    // while the name can still give way.
    EXPECT_EQ(FitStatus(f, 100), "1:02:03  12-07-17-30-00.bin  117.7 MiB  2.38 MiB/s  frames 1234567  bad FCS 3  log codes 42");
    EXPECT_NE(FitStatus(f, 80).find("...0.bin  117.7 MiB  2.38 MiB/s  frames 1234567"), std::string::npos)
        << FitStatus(f, 80);
}

TEST(OrvaneLogNotify, StatusAndPingsComeFromTheLoopAndAStallSkipsThem)
{
    const Clock::time_point t0{};
    CNotifySchedule schedule(10s, 5s, t0);
    struct Step {
        Clock::duration at;
        bool status, ping;
    };
    const Step steps[] = {
        {1s, false, false}, {5s, false, true}, {6s, false, false}, {10s, true, true},
        {60s, true, true},    // the loop stalled: one of each, not the ones missed
        {61s, false, false}, {65s, false, true},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::chrono::duration_cast<std::chrono::seconds>(s.at).count());
        EXPECT_EQ(schedule.StatusDue(t0 + s.at), s.status);
        EXPECT_EQ(schedule.PingDue(t0 + s.at), s.ping);
    }
    CNotifySchedule noWatchdog(10s, std::nullopt, t0);
    EXPECT_FALSE(noWatchdog.PingDue(t0 + 100s));
    EXPECT_EQ(noWatchdog.Next(), t0 + 10s);
}

}  // namespace
