// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "decode/TextLineFile.h"

#include <unistd.h>

namespace {

std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(TextLineFile, ReplacesTheFileWithOneLineEach)
{
    const auto path = std::filesystem::temp_directory_path() / ("orvane-lines-" + std::to_string(::getpid()) + ".txt");
    std::ofstream(path) << "older and longer content that must not survive\n";
    decode::CTextLineFile file;
    ASSERT_TRUE(file.Open(path.string())) << file.LastError();
    EXPECT_TRUE(file.WriteLine("first"));
    EXPECT_TRUE(file.WriteLine(""));
    EXPECT_TRUE(file.WriteLine(std::string_view("with\0nul", 8)));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(ReadAll(path), std::string("first\n\nwith\0nul\n", 16));
    std::filesystem::remove(path);
}

TEST(TextLineFile, FailuresCarryTheCallAndItsReason)
{
    struct Case {
        const char* name;
        std::string path;
        bool opens;
        const char* error;   // how LastError begins
    };
    const Case cases[] = {
        {"missing folder", "/nonexistent-orvane-folder/decoded.txt", false, "open: No such file or directory (/nonexistent-orvane-folder/decoded.txt)"},
        {"a folder", "/", false, "open: Is a directory"},
        {"full device: the buffered write fails at the latest on close", "/dev/full", true, "write: No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        decode::CTextLineFile file;
        EXPECT_EQ(file.Open(c.path), c.opens);
        for (int line = 0; line < 3; ++line)
            file.WriteLine("a line that cannot stay");
        EXPECT_FALSE(file.Close());
        EXPECT_EQ(file.LastError().rfind(c.error, 0), 0u) << file.LastError();
        EXPECT_FALSE(file.WriteLine("after the failure"));
    }
}

}  // namespace
