// SPDX-License-Identifier: GPL-2.0-or-later
#include "logserver/LogReplay.h"
#include "support/Fixtures.h"
#include "support/Pty.h"
#include "support/SampleData.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return b;
}

void WriteFile(const std::string& path, const Bytes& data)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    ASSERT_TRUE(out.good()) << path;
}

struct Write {
    std::size_t offset;
    std::size_t count;
    bool operator==(const Write&) const = default;
};

std::vector<Write> Writes(const Bytes& data)
{
    std::vector<Write> writes;
    ReplayInChunks(data, [&](const std::uint8_t* p, std::size_t n) {
        writes.push_back({static_cast<std::size_t>(p - data.data()), n});
    });
    return writes;
}

}  // namespace

TEST(LogReplay, ChunksOf1024)
{
    struct Case {
        const char* name;
        std::size_t size;
        std::size_t chunks;
        std::vector<Write> writes;
    };
    const Case cases[] = {
        {"empty: nothing", 0, 1, {}},
        {"1 byte", 1, 1, {{0, 1}}},
        {"1023: one short write", 1023, 1, {{0, 1023}}},
        {"1024: one full write, then nothing", 1024, 2, {{0, 1024}}},
        {"1025", 1025, 2, {{0, 1024}, {1024, 1}}},
        {"1500: 1024 and 476", 1500, 2, {{0, 1024}, {1024, 476}}},
        {"2047: 1024 and 1023", 2047, 2, {{0, 1024}, {1024, 1023}}},
        {"2048: two full writes", 2048, 3, {{0, 1024}, {1024, 1024}}},
        {"3000", 3000, 3, {{0, 1024}, {1024, 1024}, {2048, 952}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReplayChunkCount(c.size), c.chunks);
        EXPECT_EQ(Writes(Pattern(c.size)), c.writes);
    }
}

TEST(LogReplay, LoadsFilesByteForByte)
{
    TempDir dir;
    const std::string hexText = "7E 00 41 7D 5E\r\n4B 04 0E\r\n";
    Bytes flags(3000);
    for (std::size_t i = 0; i < flags.size(); ++i)
        flags[i] = (i % 3 == 0) ? 0x7E : (i % 3 == 1) ? 0x7D : 0x00;
    struct Case {
        const char* name;
        Bytes content;
    };
    const Case cases[] = {
        {"empty.bin", {}},
        {"one.bin", {0x7E}},
        {"flags.bin", flags},
        {"edge.bin", Pattern(1024)},
        {"hex.txt", Bytes(hexText.begin(), hexText.end())},   // its characters, not the bytes they spell
        {"big.bin", Pattern(300000)},
        {"capture.qmdl", fixture::ModemCapture(99, 3).wire},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Path() + "/" + c.name;
        WriteFile(path, c.content);
        const LogLoadResult r = LoadLogData(path);
        EXPECT_EQ(r.status, LogLoadStatus::Loaded) << r.error;
        EXPECT_EQ(r.data, c.content);

        Bytes replayed;
        ReplayInChunks(r.data, [&](const std::uint8_t* p, std::size_t n) { replayed.insert(replayed.end(), p, p + n); });
        EXPECT_EQ(replayed, c.content);
    }
}

TEST(LogReplay, SampleCapturesLoadUnchanged)
{
    for (const char* name : {"qmdl/goodsim-small.qmdl", "qmdl/deadsim.qmdl"}) {
        SCOPED_TRACE(name);
        const std::optional<std::string> sample = SampleFile(name);
        if (!sample)
            GTEST_SKIP() << SampleMissing(name);
        const std::string& path = *sample;
        std::ifstream in(path, std::ios::binary);
        const Bytes expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(expected.empty());
        const LogLoadResult r = LoadLogData(path);
        ASSERT_EQ(r.status, LogLoadStatus::Loaded) << r.error;
        EXPECT_EQ(r.data, expected);
    }
}

TEST(LogReplay, RefusesWhatCannotBeReadWhole)
{
    TempDir dir;
    const std::string fifo = dir.Path() + "/pipe.bin";
    // No writer: opening it must not wait for one.
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    const std::string sparse = dir.Path() + "/sparse.bin";
    {
        const int fd = open(sparse.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kMaxLogFileSize + 1)), 0);
        close(fd);
    }
    const std::string small = dir.Path() + "/small.bin";
    WriteFile(small, Pattern(100));

    struct Case {
        const char* name;
        std::string path;
        std::uint64_t limit;
        LogLoadStatus status;
        const char* text;     // what the user is told; nullptr: nothing
        const char* detail;
    };
    const Case cases[] = {
        {"missing", dir.Path() + "/none.bin", kMaxLogFileSize, LogLoadStatus::CannotOpen, nullptr, nullptr},
        {"directory", dir.Path(), kMaxLogFileSize, LogLoadStatus::CannotOpen, nullptr, nullptr},
        {"fifo without a writer", fifo, kMaxLogFileSize, LogLoadStatus::CannotSize, "Fail to read log file",
         "not a regular file"},
        {"a device", "/dev/null", kMaxLogFileSize, LogLoadStatus::CannotSize, "Fail to read log file",
         "not a regular file"},
        {"one byte past 1 GiB", sparse, kMaxLogFileSize, LogLoadStatus::TooLarge,
         "Log file too large: 1.1 GB, at most 1 GiB", ""},
        {"past a given limit", small, 99, LogLoadStatus::TooLarge, "Log file too large: 100 bytes, at most 99 bytes",
         ""},
        {"nothing allowed", small, 0, LogLoadStatus::TooLarge, "Log file too large: 100 bytes, at most 0 bytes",
         ""},
        {"at a given limit", small, 100, LogLoadStatus::Loaded, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LogLoadResult r = LoadLogData(c.path, c.limit);
        EXPECT_EQ(r.status, c.status) << r.error;
        if (c.status != LogLoadStatus::Loaded) {
            EXPECT_TRUE(r.data.empty());
            EXPECT_FALSE(r.error.empty());
        }
        const std::optional<LogRefusal> told = DescribeRefusal(r);
        ASSERT_EQ(told.has_value(), c.text != nullptr);
        if (told) {
            EXPECT_EQ(told->text, c.text);
            EXPECT_EQ(told->detail, c.detail);
        }
    }

    // Sizes as people read them beside the limit as it was set.
    struct Size {
        std::uint64_t size, limit;
        const char* text;
    };
    const Size sizes[] = {
        {std::uint64_t{5} << 30, std::uint64_t{1} << 30, "Log file too large: 5.4 GB, at most 1 GiB"},
        {1500000, std::uint64_t{1} << 20, "Log file too large: 1.5 MB, at most 1 MiB"},
        {4097, 4096, "Log file too large: 4.1 kB, at most 4 KiB"},
        {4097, 4000, "Log file too large: 4.1 kB, at most 4000 bytes"},
    };
    for (const Size& c : sizes) {
        SCOPED_TRACE(c.text);
        LogLoadResult r;
        r.status = LogLoadStatus::TooLarge;
        r.size = c.size;
        r.limit = c.limit;
        const std::optional<LogRefusal> told = DescribeRefusal(r);
        ASSERT_TRUE(told.has_value());
        EXPECT_EQ(told->text, c.text);
    }
}
