// SPDX-License-Identifier: GPL-2.0-or-later
// A capture that cannot be written ends at once and the user hears of it once,
// while the window goes on counting what arrives.
#include "DialogFixture.h"
#include "support/Fixtures.h"
#include "support/DiskFull.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using fixture::ReadAll;

// Byte i of the stream is a byte of the 32-bit number i / 4: a hole shows.
Bytes Numbered(std::size_t from, std::size_t count)
{
    Bytes out(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = from + i;
        out[i] = static_cast<std::uint8_t>((at / 4) >> (8 * (at % 4)));
    }
    return out;
}

class CaptureWriteFailure : public DialogTest {
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        ClickMode(MODE_LOG_CLIENT);
        dlg->CreateCaptureFile();
        ASSERT_TRUE(Capture(*dlg).IsOpen());
        path = Capture(*dlg).Path();
    }

    // The modem sends `count` more bytes of the stream, in chunks of 4095.
    void Arrive(std::size_t count)
    {
        for (std::size_t end = offered + count; offered < end;) {
            const std::size_t n = std::min<std::size_t>(4095, end - offered);
            Deliver(Numbered(offered, n));
            offered += n;
        }
    }

    std::string path;
    std::size_t offered = 0;
};

TEST_F(CaptureWriteFailure, AFullDiskIsToldOnceAndTheFileStopsWhole)
{
    FileSizeLimit limit(50000);
    ASSERT_TRUE(limit.Active());
    Arrive(120000);
    ASSERT_TRUE(WaitUntil([&] { return !prompts.boxes.empty(); }));
    PumpEvents(50);

    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("Fail to write log file"));
    EXPECT_EQ(prompts.boxes[0].icon, IPrompts::Icon::Exclamation);
    EXPECT_EQ(prompts.boxes[0].detail, QStringLiteral("write: File too large\n") + QString::fromStdString(path));
    EXPECT_FALSE(Capture(*dlg).IsOpen());
    EXPECT_EQ(Status(), QStringLiteral("Received 120000 bytes..."));
    EXPECT_EQ(ReadAll(path), Numbered(0, 50000));

    // Room again: the window keeps counting, the ended capture does not grow.
    limit.Lift();
    Arrive(10000);
    PumpEvents(50);
    EXPECT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(Status(), QStringLiteral("Received 130000 bytes..."));
    EXPECT_EQ(std::filesystem::file_size(path), 50000u);

    // The next configuration starts a new file.
    dlg->CreateCaptureFile();
    ASSERT_TRUE(Capture(*dlg).IsOpen());
    const std::string next = Capture(*dlg).Path();
    EXPECT_NE(next, path);
    Arrive(3000);
    dlg->CloseCaptureFile();
    EXPECT_EQ(ReadAll(next), Numbered(130000, 3000));
}

TEST_F(CaptureWriteFailure, ARemovedFileIsToldEvenWhileNothingArrives)
{
    Arrive(5000);
    std::filesystem::remove(path);
    // The once-a-second look finds it without any further data.
    ASSERT_TRUE(WaitUntil([&] { return !prompts.boxes.empty(); }, 10000));
    EXPECT_EQ(prompts.Texts(), QStringList{QStringLiteral("Fail to write log file")});
    EXPECT_TRUE(prompts.boxes[0].detail.endsWith(QString::fromStdString(path)));
    EXPECT_TRUE(prompts.boxes[0].detail.contains(QStringLiteral("removed")));
    EXPECT_FALSE(Capture(*dlg).IsOpen());

    Arrive(5000);
    PumpEvents(50);
    EXPECT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(Status(), QStringLiteral("Received 10000 bytes..."));
}

}   // namespace
