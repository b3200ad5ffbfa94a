// SPDX-License-Identifier: GPL-2.0-or-later
// orvane-log against the real virtual modem, as a lab rig without a display
// runs it: `orvane-vmodem --link COM1` and `orvane-log COM1 --defaults
// --duration N`. The capture is read back with a framer of the test's own.
#include "OrvaneLogProcess.h"
#include "VmodemProcess.h"
#include "VmodemTestUtil.h"
#include "tools/orvanelog/Options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

namespace {

using namespace orvanelog_test;

// Runs the pair for `seconds` and checks the capture frame by frame.
void CaptureTheStream(const char* seconds)
{
    PortDir ports;
    TempDir dir;
    vmtest::VmodemProcess modem({"--link", "COM1"});
    ASSERT_FALSE(modem.DevicePath().empty());
    LogProcess run({"COM1", "--defaults", "--duration", seconds, "--dir", dir.Path()});
    ASSERT_EQ(run.Wait(std::chrono::seconds(std::atoi(seconds) + 30)), kExitClean) << run.Err();
    ASSERT_EQ(dir.Files().size(), 1u);

    const std::string text = ReadText(dir.Path() + "/" + dir.Files()[0]);
    const vmtest::Bytes capture(text.begin(), text.end());
    int bad = 0;
    vmtest::Bytes rest;
    const std::vector<vmtest::Bytes> packets = vmtest::RefDeframe(capture, bad, &rest);
    EXPECT_EQ(bad, 0);
    std::map<std::uint16_t, std::uint64_t> codes;
    for (const vmtest::Bytes& p : packets)
        if (p.size() >= 8 && p[0] == 0x10)
            ++codes[static_cast<std::uint16_t>(p[6] | p[7] << 8)];
    EXPECT_FALSE(codes.empty()) << "the modem logged nothing";

    // The summary counts what the file holds.
    const std::string out = run.Out();
    EXPECT_NE(out.find("bytes: " + std::to_string(capture.size()) + " "), std::string::npos) << out;
    EXPECT_NE(out.find("frames: " + std::to_string(packets.size()) + " "), std::string::npos) << out;
    EXPECT_NE(out.find("bad frames: 0 "), std::string::npos) << out;
    EXPECT_NE(out.find("distinct log codes: " + std::to_string(codes.size())), std::string::npos) << out;
    EXPECT_EQ(modem.Stop(), 0);
}

TEST(OrvaneLogVmodem, CapturesTheStreamFrameByFrame)
{
    CaptureTheStream("3");
}

// The 30-second run of a rig (CTest label soak; ORVANE_SOAK=1 runs it).
TEST(OrvaneLogVmodem, SoakThirtySeconds)
{
    if (std::getenv("ORVANE_SOAK") == nullptr)
        GTEST_SKIP() << "30 s soak run: set ORVANE_SOAK=1 (make soak / ctest -L soak)";
    CaptureTheStream("30");
}

}  // namespace
