// SPDX-License-Identifier: GPL-2.0-or-later
// Replay files far too large to hold, and files that only pretend to have a
// size: each is refused or loaded without an allocation the file could steer
// past the limit, and without reading forever.
#include "logserver/LogReplay.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::size_t PeakRss()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}

// A file of `size` bytes that takes no room on disk. false when the file
// system cannot hold a file that large.
bool MakeSparse(const std::string& path, std::uint64_t size)
{
    const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = ftruncate(fd, static_cast<off_t>(size)) == 0;
    close(fd);
    return ok;
}

// measureMemory: the soak run also bounds the peak resident memory.
void HugeSparseFilesAreRefused(bool measureMemory)
{
    struct Case {
        const char* name;
        std::uint64_t size;
    };
    const std::vector<Case> cases = {
        {"2 GiB", std::uint64_t{2} << 30},
        {"4 GiB and 5 bytes (5 when cut to 32 bits)", (std::uint64_t{4} << 30) + 5},
        {"2 GiB + 1 KiB (past a signed 32-bit size)", (std::uint64_t{2} << 30) + 1024},
        {"1 TiB", std::uint64_t{1} << 40},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Path() + "/huge.bin";
        if (!MakeSparse(path, c.size)) {
            ADD_FAILURE() << "this file system cannot hold a sparse file of " << c.size << " bytes";
            continue;
        }
        const std::size_t before = PeakRss();
        const LogLoadResult r = LoadLogData(path);
        EXPECT_EQ(r.status, LogLoadStatus::TooLarge);
        EXPECT_TRUE(r.data.empty());
        EXPECT_EQ(r.data.capacity(), 0u);
        EXPECT_FALSE(r.error.empty());
        if (measureMemory) {
            EXPECT_LT(PeakRss() - std::min(PeakRss(), before), std::size_t{16} << 20);
        }
    }
}

TEST(BadInputReplay, HugeSparseFilesAreRefused)
{
    HugeSparseFilesAreRefused(false);
}

TEST(BadInputReplaySoak, HugeSparseFilesAreRefusedWithoutAllocating)
{
    HugeSparseFilesAreRefused(true);
}

// The limit is the whole file: one byte under it loads, at it loads, one past
// it is refused. Checked on a small limit, on a sparse file, so the loaded
// bytes are the zeros the hole reads as.
TEST(BadInputReplay, SparseFileAtTheLimitLoadsAsZeros)
{
    constexpr std::uint64_t kLimit = 3 << 20;
    TempDir dir;
    const std::string path = dir.Path() + "/edge.bin";
    struct Case {
        std::uint64_t size;
        LogLoadStatus status;
    };
    for (const Case& c : {Case{kLimit - 1, LogLoadStatus::Loaded}, Case{kLimit, LogLoadStatus::Loaded},
                          Case{kLimit + 1, LogLoadStatus::TooLarge}}) {
        SCOPED_TRACE(c.size);
        ASSERT_TRUE(MakeSparse(path, c.size));
        const LogLoadResult r = LoadLogData(path, kLimit);
        EXPECT_EQ(r.status, c.status) << r.error;
        if (c.status == LogLoadStatus::Loaded) {
            EXPECT_EQ(r.data.size(), c.size);
            EXPECT_TRUE(std::all_of(r.data.begin(), r.data.end(), [](std::uint8_t b) { return b == 0; }));
        } else {
            EXPECT_TRUE(r.data.empty());
        }
    }
}

// Files whose size says nothing about what reading them gives: an endless
// device or a kernel file. The replay takes the size it was told and stops
// there, never reading on until memory runs out.
void EndlessDevicesAreNotReadForever(bool measureMemory)
{
    for (const char* path : {"/dev/zero", "/dev/urandom", "/proc/self/maps"}) {
        SCOPED_TRACE(path);
        if (access(path, R_OK) != 0)
            continue;
        const std::size_t before = PeakRss();
        const LogLoadResult r = LoadLogData(path);
        if (r.status == LogLoadStatus::Loaded) {
            EXPECT_LE(r.data.size(), kMaxLogFileSize);
        }
        if (measureMemory) {
            EXPECT_LT(PeakRss() - std::min(PeakRss(), before), std::size_t{64} << 20);
        }
    }
}

TEST(BadInputReplay, EndlessDevicesAreNotReadForever)
{
    EndlessDevicesAreNotReadForever(false);
}

TEST(BadInputReplaySoak, EndlessDevicesAreNotReadWithinMemory)
{
    EndlessDevicesAreNotReadForever(true);
}

}   // namespace
