// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "decode/ByteReader.h"
#include "decode/DiagRecord.h"

namespace {

TEST(ByteReader, ReadsLittleEndianAndRefusesToReadPastTheEnd)
{
    const std::vector<std::uint8_t> bytes{0x01, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 'a', 0, 'b'};
    decode::ByteReader in(bytes);
    EXPECT_EQ(in.U8(), 0x01);
    EXPECT_EQ(in.U16(), 0x1234);
    EXPECT_EQ(in.U32(), 0x12345678u);
    auto text = in.CString();
    ASSERT_EQ(text.size(), 1u);
    EXPECT_EQ(text[0], 'a');
    EXPECT_EQ(in.Remaining(), 1u);
    EXPECT_EQ(in.U16(), 0);       // one byte left: the read fails
    EXPECT_FALSE(in.Ok());
    EXPECT_EQ(in.U8(), 0);        // and stays failed
    EXPECT_TRUE(in.Bytes(1).empty());
}

TEST(DiagRecord, LogRecordHeaderIsCheckedAgainstItsLength)
{
    // 10 00 | len 14 00 | len 14 00 | code C0 B0 | ts 8 bytes | payload 02 bytes
    const std::vector<std::uint8_t> good{0x10, 0x00, 0x14, 0x00, 0x0E, 0x00, 0xC0, 0xB0,
                                         1, 2, 3, 4, 5, 6, 7, 8, 0xAA, 0xBB};
    auto view = decode::ReadLogRecord(good);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->code, 0xB0C0);
    EXPECT_EQ(view->timestamp, 0x0807060504030201ull);
    EXPECT_EQ(view->payload.size(), 2u);

    struct Case { const char* name; std::vector<std::uint8_t> in; };
    const Case bad[] = {
        {"empty", {}},
        {"not a log record", {0x79, 0, 0, 0}},
        {"header cut", {0x10, 0x00, 0x14, 0x00, 0x0E, 0x00, 0xC0}},
        {"inner length past the end", {0x10, 0x00, 0x14, 0x00, 0x20, 0x00, 0xC0, 0xB0, 1, 2, 3, 4, 5, 6, 7, 8}},
        {"inner length below its own header", {0x10, 0x00, 0x14, 0x00, 0x02, 0x00, 0xC0, 0xB0, 1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(decode::ReadLogRecord(c.in));
    }
}

}  // namespace
