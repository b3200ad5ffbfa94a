// SPDX-License-Identifier: GPL-2.0-or-later
// orvane-log for hours on a lab rig, in two minutes (longer with
// ORVANE_SOAK_SECONDS, by hand): the virtual modem at full rate, captures
// rotating at 8M with the 5 newest kept. The program's memory and descriptor
// count stay flat, every kept file decodes on its own, and every byte
// received is in a kept file or in one removed whole.
#include "OrvaneLogProcess.h"
#include "VmodemProcess.h"
#include "VmodemTestUtil.h"
#include "tools/orvanelog/Options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

namespace {

using namespace orvanelog_test;

struct Sample {
    std::uint64_t rssKiB = 0;
    std::size_t fds = 0;
};

Sample Measure(pid_t pid)
{
    Sample s;
    std::istringstream status(ReadText("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            s.rssKiB = std::strtoull(line.c_str() + 6, nullptr, 10);
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++s.fds;
    return s;
}

TEST(OrvaneLogSoak, RotatingAtFullRateForMinutesStaysFlatAndLosesNothing)
{
    const char* env = std::getenv("ORVANE_SOAK_SECONDS");
    const int seconds = env ? std::max(20, std::atoi(env)) : 120;
    PortDir ports;
    TempDir dir;
    vmtest::VmodemProcess modem({"--link", "COM1", "--rate", "0"});
    ASSERT_FALSE(modem.DevicePath().empty());
    LogProcess run({"COM1", "--defaults", "--quiet", "--dir", dir.Path(), "--rotate-size", "8M", "--keep", "5",
                    "--duration", std::to_string(seconds)});
    // A first sample once the run is under way, then one every 5 s.
    std::this_thread::sleep_for(10s);
    const Sample first = Measure(run.Pid());
    Sample most = first, least = first;
    for (int t = 10; t + 5 < seconds; t += 5) {
        std::this_thread::sleep_for(5s);
        const Sample s = Measure(run.Pid());
        if (s.rssKiB == 0)
            break;
        most = {std::max(most.rssKiB, s.rssKiB), std::max(most.fds, s.fds)};
        least = {std::min(least.rssKiB, s.rssKiB), std::min(least.fds, s.fds)};
    }
    ASSERT_EQ(run.Wait(std::chrono::seconds(60)), kExitClean) << run.Err();
    std::cout << "[ figures  ] " << seconds << " s: RSS " << least.rssKiB << " to " << most.rssKiB
              << " KiB (first " << first.rssKiB << "), descriptors " << least.fds << " to " << most.fds << "\n";
    ::testing::Test::RecordProperty("rss_kib_first", static_cast<int>(first.rssKiB));
    ::testing::Test::RecordProperty("rss_kib_max", static_cast<int>(most.rssKiB));
    EXPECT_LT(most.rssKiB, first.rssKiB + 8 * 1024) << "memory grows with the run";
    EXPECT_LE(most.fds, first.fds + 1) << "descriptors leak";

    // Bytes received = the kept files + the removed ones, as the run told them.
    const std::string err = run.Err();
    std::uint64_t removed = 0;
    const std::regex removedLine(R"(removed \S+ \((\d+) bytes; --keep 5\))");
    for (auto it = std::sregex_iterator(err.begin(), err.end(), removedLine); it != std::sregex_iterator(); ++it)
        removed += std::stoull((*it)[1].str());
    std::uint64_t kept = 0;
    const std::vector<std::string> files = dir.Files();
    EXPECT_LE(files.size(), 5u);
    EXPECT_GE(files.size(), 2u) << "the stream rotated";
    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        const std::string text = ReadText(dir.Path() + "/" + name);
        const vmtest::Bytes capture(text.begin(), text.end());
        int bad = 0;
        vmtest::Bytes rest;
        const std::vector<vmtest::Bytes> packets = vmtest::RefDeframe(capture, bad, &rest);
        EXPECT_EQ(bad, 0);
        EXPECT_TRUE(rest.empty()) << "a file ends with a whole frame";
        EXPECT_FALSE(packets.empty());
        kept += capture.size();
    }
    const std::string out = run.Out();
    std::smatch bytes;
    ASSERT_TRUE(std::regex_search(out, bytes, std::regex(R"(bytes: (\d+) )"))) << out;
    std::cout << "[ figures  ] received " << bytes[1].str() << " bytes, " << kept << " kept, " << removed
              << " in removed captures\n";
    EXPECT_EQ(std::stoull(bytes[1].str()), kept + removed);
    EXPECT_EQ(modem.Stop(), 0);
}

}  // namespace
