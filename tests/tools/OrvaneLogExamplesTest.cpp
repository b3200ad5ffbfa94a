// SPDX-License-Identifier: GPL-2.0-or-later
// The examples of the README and of orvane-log(1) work as written: every
// orvane-log command line in them is accepted, and the one against the
// virtual modem runs as a shell would run it (its link exists before
// orvane-log looks for it) and leaves one capture.
#include "OrvaneLogProcess.h"
#include "tools/orvanelog/Options.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace {

using namespace orvanelog_test;

using Block = std::vector<std::string>;   // the lines of one example, continuations joined

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void Push(Block& block, std::string line)
{
    if (!block.empty() && !block.back().empty() && block.back().back() == '\\') {
        block.back().pop_back();
        block.back() += line.substr(line.find_first_not_of(' '));
    } else {
        block.push_back(std::move(line));
    }
}

// ```sh blocks of a Markdown file.
std::vector<Block> MarkdownBlocks(const std::string& text)
{
    std::vector<Block> blocks;
    bool inside = false;
    for (const std::string& line : Lines(text)) {
        if (line.rfind("```", 0) == 0) {
            inside = !inside && line == "```sh";
            if (inside)
                blocks.emplace_back();
        } else if (inside) {
            Push(blocks.back(), line);
        }
    }
    return blocks;
}

// .nf/.fi blocks of a man page, with roff's escapes undone.
std::vector<Block> ManBlocks(const std::string& text)
{
    std::vector<Block> blocks;
    bool inside = false;
    for (std::string line : Lines(text)) {
        if (line == ".nf" || line == ".fi") {
            inside = line == ".nf";
            if (inside)
                blocks.emplace_back();
            continue;
        }
        if (!inside)
            continue;
        line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
        line = std::regex_replace(line, std::regex(R"(\\\\)"), "\\");
        Push(blocks.back(), line);
    }
    return blocks;
}

std::vector<Block> AllBlocks()
{
    std::vector<Block> blocks = MarkdownBlocks(ReadText(ORVANE_SOURCE_DIR "/README.md"));
    for (Block& b : ManBlocks(ReadText(ORVANE_SOURCE_DIR "/packaging/orvane-log.1.in")))
        blocks.push_back(std::move(b));
    return blocks;
}

TEST(OrvaneLogExamples, EveryCommandLineIsAccepted)
{
    std::size_t commands = 0;
    for (const Block& block : AllBlocks())
        for (std::string line : block) {
            if (line.rfind("orvane-log ", 0) != 0)
                continue;
            SCOPED_TRACE(line);
            line = line.substr(0, line.find("  #"));
            line = line.substr(0, line.find(" | "));   // what a pipe does with the output
            std::istringstream words(line);
            std::vector<std::string> args;
            for (std::string word; words >> word;)
                args.push_back(word);
            args.erase(args.begin());
            const ParsedArgs parsed = ParseLogArgs(args);
            EXPECT_TRUE(parsed.options.has_value()) << parsed.message;
            ++commands;
        }
    EXPECT_GE(commands, 8u);
}

// The README's and the man page's example against the virtual modem are the
// same lines; they run once, through bash, with the built programs first in
// PATH and a port directory of the test's own.
TEST(OrvaneLogExamples, TheVirtualModemExampleRunsAsWritten)
{
    std::vector<Block> found;
    for (const Block& block : AllBlocks())
        if (!block.empty() && block[0] == "orvane-vmodem --link COM1 &")
            found.push_back(block);
    ASSERT_EQ(found.size(), 2u) << "one in the README, one in the man page";
    EXPECT_EQ(found[0], found[1]);
    std::string script = "set -e\n";
    for (const std::string& line : found[0])
        script += line + "\n";
    PortDir ports;
    TempDir cwd;
    std::ofstream(cwd.Path() + "/example.sh") << script;
    const std::string path = std::string(ORVANE_BINARY_DIR "/tools/orvanelog:" ORVANE_BINARY_DIR "/tools/vmodem:")
                             + std::getenv("PATH");
    const std::string command = "cd '" + cwd.Path() + "' && PATH='" + path + "' timeout 60 bash example.sh >out 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << ReadText(cwd.Path() + "/out");
    std::size_t captures = 0;
    for (const std::string& name : cwd.Files())
        captures += name.size() > 4 && name.substr(name.size() - 4) == ".bin";
    EXPECT_EQ(captures, 1u) << ReadText(cwd.Path() + "/out");
}

// orvane-vmodem(1)'s example that prints the device: it returns (a pipe into
// head would wait for the modem to end) with the device in $dev.
TEST(OrvaneLogExamples, TheVirtualModemsDeviceExampleReturns)
{
    std::vector<Block> found;
    for (const Block& block : ManBlocks(ReadText(ORVANE_SOURCE_DIR "/packaging/orvane-vmodem.1.in")))
        if (!block.empty() && block[0] == "orvane-vmodem >vmodem.out &")
            found.push_back(block);
    ASSERT_EQ(found.size(), 1u);
    std::string script;
    for (const std::string& line : found[0])
        script += line + "\n";
    script += "test -c \"$dev\" && echo \"$dev\"\nkill %1\n";
    TempDir cwd;
    std::ofstream(cwd.Path() + "/example.sh") << script;
    const std::string command = "cd '" + cwd.Path() + "' && PATH='" ORVANE_BINARY_DIR "/tools/vmodem:'\"$PATH\" "
                                "timeout 30 bash example.sh >out 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadText(cwd.Path() + "/out");
    EXPECT_EQ(ReadText(cwd.Path() + "/out").rfind("/dev/pts/", 0), 0u) << ReadText(cwd.Path() + "/out");
}

}  // namespace
