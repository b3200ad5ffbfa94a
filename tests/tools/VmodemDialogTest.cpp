// SPDX-License-Identifier: GPL-2.0-or-later
// The real window against the real virtual modem: what a newcomer sees in
// `make demo`, checked end to end.
#include "dm/HdlcDeframer.h"
#include "support/FakePrompts.h"
#include "support/Pty.h"
#include "tools/VmodemProcess.h"
#include "ui/WindowControls.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(VmodemDialog, DefaultConfigurationStartsALogStreamIntoTheCapture)
{
    PortDir ports;
    TempDir startDir;
    vmtest::VmodemProcess modem({"--link", "COM1", "--rate", "200000"});
    ASSERT_FALSE(modem.DevicePath().empty());
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::is_symlink(ports.Path() + "/COM1"); }));

    FakePrompts prompts;
    COrvaneDlg dlg(prompts);
    UseStartDir(dlg, startDir.Path());
    Radio(dlg, "IDC_MODE_LOG_CLIENT").click();
    dlg.OnConnect();
    ASSERT_TRUE(PortOpen(dlg)) << dlg.m_SerialPort.GetLastErrorText();
    dlg.LoadDefaultConfig();
    ASSERT_TRUE(WaitUntil([&] { return Steps(dlg) == 11; }, 10000));
    // The stream runs once the log masks are set; let it fill the capture.
    ASSERT_TRUE(WaitUntil([&] { return RxTotal(dlg) > 50000; }, 20000)) << RxTotal(dlg);
    dlg.OnDisconnect();
    EXPECT_EQ(modem.Stop(), 0);

    const std::vector<std::string> files = startDir.Files();
    ASSERT_EQ(files.size(), 1u);
    const std::vector<std::uint8_t> capture = ReadFile(startDir.Path() + "/" + files[0]);
    ASSERT_EQ(static_cast<std::int64_t>(capture.size()), RxTotal(dlg));

    // Every frame is well formed: the only bytes that may not make a frame are
    // those of the last one, cut by the disconnect.
    CHdlcDeframer reader;
    std::vector<HdlcItem> items;
    reader.Push(capture, items);
    EXPECT_EQ(reader.BadFrames(), 0u);
    std::size_t logPackets = 0;
    for (const HdlcItem& item : items)
        if (item.kind == HdlcItem::Kind::Frame && !item.data.empty() && item.data[0] == 0x10)
            ++logPackets;
    EXPECT_GT(logPackets, 20u);
}
