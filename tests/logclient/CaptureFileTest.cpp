#include "logclient/CaptureFile.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <vector>

namespace {

std::tm At(int month, int day, int hour, int minute, int second, int year = 126)
{
    std::tm t{};
    t.tm_year = year;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

std::vector<std::uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(CaptureFile, NameFollowsTheLocalTime)
{
    struct Case {
        std::tm time;
        unsigned n;
        const char* name;
    };
    const Case cases[] = {
        {At(3, 7, 14, 5, 9), 1, "03-07-14-05-09.bin"},
        {At(12, 31, 23, 59, 59), 1, "12-31-23-59-59.bin"},
        {At(1, 1, 0, 0, 0), 2, "01-01-00-00-00-2.bin"},
        {At(1, 1, 0, 0, 0), 17, "01-01-00-00-00-17.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CCaptureFile::FileName(c.time, c.n), c.name);
    }
}

TEST(CaptureFile, TakenNamesGetASuffixAndAreNeverTruncated)
{
    TempDir dir;
    const std::tm when = At(3, 7, 14, 5, 9);
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

TEST(CaptureFile, WritesEverythingInOrder)
{
    TempDir dir;
    CCaptureFile file;
    ASSERT_TRUE(file.Create(dir.Path() + "/", At(3, 7, 14, 5, 9)));
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
    ASSERT_TRUE(file.Create(dir.Path(), At(3, 7, 14, 5, 9)));
    const std::string first = file.Path();
    ASSERT_TRUE(file.Create(dir.Path(), At(3, 7, 14, 5, 10)));
    EXPECT_EQ(file.Path(), first);
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"03-07-14-05-09.bin"});
}

TEST(CaptureFile, FailuresCarryTheReason)
{
    TempDir dir;
    CCaptureFile file;
    std::string error;
    EXPECT_FALSE(file.Create(dir.Path() + "/no/such/dir", At(3, 7, 14, 5, 9), &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(file.IsOpen());
    const std::uint8_t byte = 1;
    EXPECT_FALSE(file.Write(&byte, 1));   // no file: written nowhere
    file.Close();                         // harmless

    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0500), 0);
        EXPECT_FALSE(file.Create(dir.Path(), At(3, 7, 14, 5, 9), &error));
        EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
        ::chmod(dir.Path().c_str(), 0700);
    }
}

}   // namespace
