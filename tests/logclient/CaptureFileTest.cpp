// SPDX-License-Identifier: GPL-2.0-or-later
#include "logclient/CaptureFile.h"
#include "support/Fixtures.h"
#include "support/DiskFull.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using fixture::ReadAll;
using fixture::LocalTime;

TEST(CaptureFile, NameFollowsTheLocalTime)
{
    struct Case {
        std::tm time;
        unsigned n;
        const char* name;
    };
    const Case cases[] = {
        {LocalTime(3, 7, 14, 5, 9), 1, "03-07-14-05-09.bin"},
        {LocalTime(12, 31, 23, 59, 59), 1, "12-31-23-59-59.bin"},
        {LocalTime(1, 1, 0, 0, 0), 2, "01-01-00-00-00-2.bin"},
        {LocalTime(1, 1, 0, 0, 0), 17, "01-01-00-00-00-17.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CCaptureFile::FileName(c.time, c.n), c.name);
    }
}

TEST(CaptureFile, TakenNamesGetASuffixAndAreNeverTruncated)
{
    TempDir dir;
    const std::tm when = LocalTime(3, 7, 14, 5, 9);
    {
        // a capture of another year, same date and time
        std::ofstream(dir.Path() + "/03-07-14-05-09.bin", std::ios::binary) << "older";
    }
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        CCaptureFile file;
        std::string error;
        ASSERT_TRUE(file.Create(dir.Path(), when, &error)) << error;
        const std::uint8_t byte = static_cast<std::uint8_t>('a' + i);
        ASSERT_TRUE(file.Write(&byte, 1));
        paths.push_back(file.Path());
    }
    EXPECT_EQ(paths, (std::vector<std::string>{dir.Path() + "/03-07-14-05-09-2.bin", dir.Path() + "/03-07-14-05-09-3.bin",
                                               dir.Path() + "/03-07-14-05-09-4.bin"}));
    EXPECT_EQ(ReadAll(dir.Path() + "/03-07-14-05-09.bin"), (std::vector<std::uint8_t>{'o', 'l', 'd', 'e', 'r'}));
    EXPECT_EQ(ReadAll(paths[0]), std::vector<std::uint8_t>{'a'});
    EXPECT_EQ(ReadAll(paths[2]), std::vector<std::uint8_t>{'c'});
}

// Links planted under a capture's name (to a file, dangling, to a folder) are
// taken names: never followed, never written through. A rotating run starts
// past the number it took last, so a name it removed is not taken again.
TEST(CaptureFile, PlantedLinksAreNeverFollowedAndNumbersOnlyGrow)
{
    TempDir dir, elsewhere;
    const std::tm when = LocalTime(12, 7, 18, 0, 0);
    const std::string precious = elsewhere.Path() + "/precious";
    std::ofstream(precious) << "keep";
    std::filesystem::create_symlink(precious, dir.Path() + "/12-07-18-00-00.bin");
    std::filesystem::create_symlink(elsewhere.Path() + "/none", dir.Path() + "/12-07-18-00-00-2.bin");
    std::filesystem::create_directory_symlink(elsewhere.Path(), dir.Path() + "/12-07-18-00-00-3.bin");
    struct Case {
        unsigned from;
        const char* name;
        unsigned number;
    };
    const Case cases[] = {{1, "12-07-18-00-00-4.bin", 4}, {1, "12-07-18-00-00-5.bin", 5}, {9, "12-07-18-00-00-9.bin", 9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CCaptureFile file;
        std::string error;
        ASSERT_TRUE(file.Create(dir.Path(), when, &error, c.from)) << error;
        const std::uint8_t byte = 'x';
        ASSERT_TRUE(file.Write(&byte, 1));
        EXPECT_EQ(file.Path(), dir.Path() + "/" + c.name);
        EXPECT_EQ(file.Number(), c.number);
    }
    EXPECT_EQ(ReadAll(precious), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_FALSE(std::filesystem::exists(elsewhere.Path() + "/none"));
}

TEST(CaptureFile, WritesEverythingInOrder)
{
    TempDir dir;
    CCaptureFile file;
    ASSERT_TRUE(file.Create(dir.Path() + "/", LocalTime(3, 7, 14, 5, 9)));
    EXPECT_EQ(file.Path(), dir.Path() + "/03-07-14-05-09.bin");
    std::vector<std::uint8_t> expected;
    for (int chunk = 0; chunk < 200; ++chunk) {
        std::vector<std::uint8_t> data(static_cast<std::size_t>(chunk * 97 % 8192) + 1);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i * 31 + static_cast<std::size_t>(chunk));
        ASSERT_TRUE(file.Write(data.data(), data.size()));
        expected.insert(expected.end(), data.begin(), data.end());
    }
    const std::uint8_t frame[] = {0x7E, 0x7D, 0x5E, 0x7E};
    ASSERT_TRUE(file.Write(frame, sizeof frame));
    expected.insert(expected.end(), std::begin(frame), std::end(frame));
    EXPECT_EQ(file.BytesWritten(), expected.size());
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadAll(dir.Path() + "/03-07-14-05-09.bin"), expected);
}

TEST(CaptureFile, CreateWhileOpenKeepsTheFile)
{
    TempDir dir;
    CCaptureFile file;
    ASSERT_TRUE(file.Create(dir.Path(), LocalTime(3, 7, 14, 5, 9)));
    const std::string first = file.Path();
    ASSERT_TRUE(file.Create(dir.Path(), LocalTime(3, 7, 14, 5, 10)));
    EXPECT_EQ(file.Path(), first);
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"03-07-14-05-09.bin"});
}

TEST(CaptureFile, FailuresCarryTheReason)
{
    TempDir dir;
    CCaptureFile file;
    std::string error;
    EXPECT_FALSE(file.Create(dir.Path() + "/no/such/dir", LocalTime(3, 7, 14, 5, 9), &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(file.IsOpen());
    const std::uint8_t byte = 1;
    EXPECT_FALSE(file.Write(&byte, 1));   // no file: written nowhere
    file.Close();                         // harmless

    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0500), 0);
        EXPECT_FALSE(file.Create(dir.Path(), LocalTime(3, 7, 14, 5, 9), &error));
        EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
        ::chmod(dir.Path().c_str(), 0700);
    }
}

// A numbered stream: byte i of it is the low byte of (i / 4) spelled out in
// 4-byte words, so a missing or repeated stretch shows wherever it falls.
std::vector<std::uint8_t> Numbered(std::size_t from, std::size_t count)
{
    std::vector<std::uint8_t> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = from + i;
        out[i] = static_cast<std::uint8_t>((at / 4) >> (8 * (at % 4)));
    }
    return out;
}

std::uint64_t FileSize(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : ~std::uint64_t{0};
}

// A folder whose file system refuses a capture after some bytes, and the way
// to give it room again.
struct FillingDisk {
    std::string dir;
    std::function<void()> makeRoom;
    std::string expectedReason;
    std::shared_ptr<void> keep;   // what keeps the folder full
};

// A 64 KiB tmpfs, half of it taken by another file; room comes back when that
// file goes. Empty dir when the tmpfs cannot be mounted.
FillingDisk SmallFileSystem(const TempDir& base, std::string* skip)
{
    const std::string dir = base.Path() + "/small";
    std::filesystem::create_directory(dir);
    auto fs = std::make_shared<SmallTmpfs>(dir, 64 * 1024);
    if (!fs->Mounted()) {
        *skip = fs->Error();
        return {};
    }
    const std::string filler = dir + "/filler";
    std::ofstream(filler, std::ios::binary) << std::string(32 * 1024, 'f');
    return {dir, [filler] { std::filesystem::remove(filler); }, "write: No space left on device", fs};
}

// Files of this process may not grow past 40,000 bytes until the limit is lifted.
FillingDisk SizeLimit(const TempDir& base, std::string*)
{
    auto limit = std::make_shared<FileSizeLimit>(40000);
    return {base.Path(), [limit] { limit->Lift(); }, "write: File too large", limit};
}

}   // namespace

TEST(CaptureFile, AFullDiskEndsTheCaptureOnceAndLeavesAnExactPrefix)
{
    struct Case {
        const char* name;
        FillingDisk (*make)(const TempDir&, std::string*);
    };
    const Case cases[] = {
        {"tmpfs of 64 KiB fills up", SmallFileSystem},
        {"file size limit reached", SizeLimit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir base;
        std::string skip;
        const FillingDisk disk = c.make(base, &skip);
        if (disk.dir.empty()) {
            std::printf("[  SKIPPED ] %s: %s\n", c.name, skip.c_str());
            continue;
        }
        CCaptureFile file;
        ASSERT_TRUE(file.Create(disk.dir, LocalTime(3, 7, 14, 5, 9)));
        const std::string path = file.Path();

        // Chunks of an odd size, so the last one is cut inside.
        constexpr std::size_t kChunk = 3001;
        std::size_t offered = 0;
        int refused = 0;
        for (int i = 0; i < 200 && refused < 3; ++i) {
            const std::vector<std::uint8_t> chunk = Numbered(offered, kChunk);
            if (!file.Write(chunk.data(), chunk.size()))
                ++refused;
            offered += kChunk;
        }
        ASSERT_EQ(refused, 3) << "the disk never filled";
        EXPECT_FALSE(file.IsOpen());
        EXPECT_TRUE(file.Failed());

        std::optional<CaptureFailure> failure = file.TakeFailure();
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->reason, disk.expectedReason);
        EXPECT_EQ(failure->path, path);
        EXPECT_FALSE(file.TakeFailure().has_value()) << "told once";

        const std::vector<std::uint8_t> held = ReadAll(path);
        EXPECT_EQ(held.size(), file.BytesWritten());
        EXPECT_GT(held.size(), 0u);
        EXPECT_NE(held.size() % kChunk, 0u) << "the chunk at the edge is cut inside";
        EXPECT_EQ(held, Numbered(0, held.size())) << "an exact prefix of the stream";

        // Room again: the ended capture stays as it is.
        disk.makeRoom();
        const std::vector<std::uint8_t> more = Numbered(offered, kChunk);
        EXPECT_FALSE(file.Write(more.data(), more.size()));
        EXPECT_FALSE(file.CheckLinked(CCaptureFile::Clock::now() + std::chrono::hours(1)));
        EXPECT_EQ(FileSize(path), held.size());
        EXPECT_FALSE(file.TakeFailure().has_value());

        // The next creation point starts a new file, which captures again.
        ASSERT_TRUE(file.Create(disk.dir, LocalTime(3, 7, 14, 5, 9)));
        EXPECT_NE(file.Path(), path);
        EXPECT_FALSE(file.Failed());
        EXPECT_TRUE(file.Write(more.data(), more.size()));
        file.Close();
        EXPECT_EQ(ReadAll(path), held) << "the failed capture keeps what it holds";
    }
}

TEST(CaptureFile, ARemovedFileEndsTheCapture)
{
    struct Case {
        const char* name;
        bool removeFolder;
    };
    const Case cases[] = {
        {"file deleted", false},
        {"capture folder deleted", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir base;
        const std::string dir = base.Path() + "/captures";
        std::filesystem::create_directory(dir);
        CCaptureFile file;
        ASSERT_TRUE(file.Create(dir, LocalTime(3, 7, 14, 5, 9)));
        const std::string path = file.Path();
        const auto created = CCaptureFile::Clock::now();
        const std::uint8_t byte = 1;
        ASSERT_TRUE(file.Write(&byte, 1));

        if (c.removeFolder)
            std::filesystem::remove_all(dir);
        else
            std::filesystem::remove(path);
        EXPECT_TRUE(file.CheckLinked(created)) << "looks at most once a second";
        EXPECT_FALSE(file.CheckLinked(created + CCaptureFile::kLinkCheckInterval));
        EXPECT_FALSE(file.IsOpen());
        const std::optional<CaptureFailure> failure = file.TakeFailure();
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->path, path);
        EXPECT_NE(failure->reason.find("removed"), std::string::npos) << failure->reason;
        EXPECT_FALSE(file.Write(&byte, 1));
        EXPECT_FALSE(file.TakeFailure().has_value());
    }
}

TEST(CaptureFile, AnEmptyCaptureIsRemovedWhenItCloses)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> written;
        bool replaceName;   // another file takes the capture's name before it closes
        bool kept;
    };
    const Case cases[] = {
        {"nothing received", {}, false, false},
        {"one byte", {0x7E}, false, true},
        {"a file put in its place", {}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        CCaptureFile file;
        ASSERT_TRUE(file.Create(dir.Path(), LocalTime(3, 7, 14, 5, 9)));
        if (!c.written.empty()) {
            ASSERT_TRUE(file.Write(c.written.data(), c.written.size()));
        }
        if (c.replaceName) {
            std::filesystem::remove(file.Path());
            std::ofstream(file.Path(), std::ios::binary).flush();
        }
        file.Close();
        EXPECT_EQ(std::filesystem::exists(file.Path()), c.kept);
    }
}
