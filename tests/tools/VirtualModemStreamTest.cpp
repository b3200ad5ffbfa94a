// SPDX-License-Identifier: GPL-2.0-or-later
// What the virtual modem streams: which records each request starts and
// stops, the hold while a client sets its masks, the timestamps, and the
// records of a capture filtered by the client's masks.
#include "support/SampleData.h"
#include "tools/vmodem/CaptureStream.h"
#include "tools/vmodem/LogRecords.h"
#include "tools/vmodem/VirtualModem.h"

#include "tools/VmodemTestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <map>

using vmtest::Bytes;
using vmtest::RefFrame;
using namespace std::chrono_literals;

namespace {

const auto kT0 = std::chrono::steady_clock::time_point{} + 1h;

// 73 op 3: `codes` of one equipment id set, item count one past the highest.
Bytes SetLogMask(std::uint32_t equip, std::initializer_list<std::uint16_t> items)
{
    std::uint32_t count = 0;
    for (const std::uint16_t i : items)
        count = std::max<std::uint32_t>(count, i + 1u);
    Bytes b{0x73, 0, 0, 0, 3, 0, 0, 0, static_cast<std::uint8_t>(equip), 0, 0, 0,
            static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8), 0, 0};
    b.resize(16 + (count + 7) / 8, 0);
    for (const std::uint16_t i : items)
        b[16 + i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
    return b;
}

// 7D 04: the level masks of ssids first..last set to `mask`.
Bytes SetLevelMasks(std::uint16_t first, std::uint16_t last, std::uint32_t mask)
{
    Bytes b{0x7D, 0x04, static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(first >> 8),
            static_cast<std::uint8_t>(last), static_cast<std::uint8_t>(last >> 8), 0, 0};
    for (std::uint32_t ssid = first; ssid <= last; ++ssid)
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(mask >> (8 * i)));
    return b;
}

// The window's "Stop Modem Logging" packets, and what a modem stops on each.
const Bytes kLogsOff = {0x73, 0, 0, 0, 0, 0, 0, 0};
const Bytes kEventsOff = {0x60, 0x00};
const Bytes kMessagesOff = {0x7D, 0x05, 0, 0, 0, 0, 0, 0};

const Bytes kLteRrcOn = SetLogMask(11, {0xC0});
const Bytes kEventsOn = {0x60, 0x01};
const Bytes kMessagesOn = {0x7D, 0x05, 0, 0, 0x1F, 0, 0, 0};

// Command bytes of the packets streamed over `span` after `from`, unpaced.
std::map<std::uint8_t, int> StreamedKinds(CVirtualModem& modem, std::chrono::steady_clock::time_point from)
{
    int bad = 0;
    std::map<std::uint8_t, int> kinds;
    for (const Bytes& p : vmtest::RefDeframe(modem.TakeLogStream(from, 8192), bad))
        ++kinds[p.at(0)];
    EXPECT_EQ(bad, 0);
    return kinds;
}

// A capture as a modem's line gives it: replies, log records, a broken frame.
Bytes CaptureBytes()
{
    Bytes wire;
    const auto add = [&wire](const Bytes& frame) { wire.insert(wire.end(), frame.begin(), frame.end()); };
    add(RefFrame({0x73, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));                                      // a reply
    add(RefFrame(vmlog::WrapLogRecord(0xB0C0, 111, Bytes{1, 2, 3})));
    add(RefFrame(vmlog::WrapLogRecord(0x1234, 222, Bytes{4, 5})));                               // any code
    Bytes broken = RefFrame(vmlog::WrapLogRecord(0xB0C0, 333, Bytes{9}));
    broken[3] ^= 0x01;                                                                            // FCS wrong
    add(broken);
    Bytes badLength = vmlog::WrapLogRecord(0xB0C0, 444, Bytes{7, 7});
    badLength[2] = 0x40;                                                                          // length lies
    add(RefFrame(badLength));
    add(RefFrame(vmlog::WrapLogRecord(0x7E7D, 555, Bytes{0x7E, 0x7D})));                          // escapes
    add(RefFrame({0x60, 0x00, 0x00}));                                                            // an event
    add(Bytes{0x10, 0x00, 0x20});                                                                 // cut at the end
    return wire;
}

std::uint16_t CodeOf(const Bytes& r) { return static_cast<std::uint16_t>(r.at(6) | (r.at(7) << 8)); }

}  // namespace

TEST(VirtualModemStream, EachStopRequestStopsItsOwnRecords)
{
    struct Case {
        const char* name;
        std::vector<Bytes> stop;
        std::map<std::uint8_t, int> left;   // kinds still streamed (count > 0)
    };
    const Case cases[] = {
        {"73 op 0: log records stop", {kLogsOff}, {{0x60, 1}, {0x79, 1}}},
        {"60 00: events stop", {kEventsOff}, {{0x10, 1}, {0x79, 1}}},
        {"7D 05 mask 0: messages stop", {kMessagesOff}, {{0x10, 1}, {0x60, 1}}},
        {"7D 04 with ssids 0-21 (every ssid the modem's messages use) at 0: messages stop",
         {SetLevelMasks(0, 21, 0)}, {{0x10, 1}, {0x60, 1}}},
        {"7D 04 with ssid 0 at 0: the other ssids' messages go on",
         {SetLevelMasks(0, 0, 0)}, {{0x10, 1}, {0x60, 1}, {0x79, 1}}},
        {"an event mask without event 1606: events stop",
         {{0x82, 0, 0, 0, 0x08, 0x00, 0x0E}}, {{0x10, 1}, {0x79, 1}}},
        {"Stop Modem Logging: all three", {kLogsOff, kEventsOff, kMessagesOff}, {}},
        {"a mask for another equipment id stops nothing",
         {SetLogMask(4, {0x12F})}, {{0x10, 1}, {0x60, 1}, {0x79, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CVirtualModem modem(0);
        for (const Bytes& on : {kLteRrcOn, kEventsOn, kMessagesOn})
            modem.Answer(on);
        std::map<std::uint8_t, int> before = StreamedKinds(modem, kT0);
        EXPECT_GT(before[0x10], 0);
        EXPECT_GT(before[0x60], 0);
        EXPECT_GT(before[0x79], 0);

        for (const Bytes& stop : c.stop)
            EXPECT_FALSE(modem.Answer(stop).empty());
        std::map<std::uint8_t, int> after = StreamedKinds(modem, kT0 + 1s);
        for (const std::uint8_t kind : {0x10, 0x60, 0x79}) {
            SCOPED_TRACE(int(kind));
            EXPECT_EQ(after[kind] > 0, c.left.count(kind) > 0);
        }
        EXPECT_EQ(modem.StreamActive(), !c.left.empty());
    }
}

TEST(VirtualModemStream, EventsNeedReportingOnAndTheirBitWhenAMaskIsSet)
{
    struct Case {
        const char* name;
        std::vector<Bytes> requests;
        bool events;
    };
    // Event 1606: bit 6 of mask byte 200.
    Bytes withBit{0x82, 0, 0, 0, 0x50, 0x06};   // 1616 bits
    withBit.resize(6 + 202, 0);
    withBit[6 + 200] = 0x40;
    Bytes withoutBit = withBit;
    withoutBit[6 + 200] = 0xBF;
    Bytes tooShort{0x82, 0, 0, 0, 0x40, 0x06};  // 1600 bits: 1606 is past the mask
    tooShort.resize(6 + 200, 0xFF);
    const Case cases[] = {
        {"reporting on, no mask ever set: every event", {kEventsOn}, true},
        {"mask set, reporting off", {withBit}, false},
        {"reporting on, mask with the bit", {kEventsOn, withBit}, true},
        {"reporting on, mask without the bit", {kEventsOn, withoutBit}, false},
        {"reporting on, mask too short for the id", {kEventsOn, tooShort}, false},
        {"reporting on then off", {kEventsOn, kEventsOff}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CVirtualModem modem(0);
        for (const Bytes& r : c.requests)
            modem.Answer(r);
        EXPECT_EQ(modem.EventsEnabled(), c.events);
        EXPECT_EQ(StreamedKinds(modem, kT0)[0x60] > 0, c.events);
    }
}

TEST(VirtualModemStream, HoldsWhileTheClientSetsMasks)
{
    CVirtualModem modem(20000);
    modem.SetMaskQuiet(750ms);
    modem.Answer(kLteRrcOn);
    EXPECT_TRUE(modem.TakeLogStream(kT0, 4096).empty());
    EXPECT_EQ(modem.NextLogDue(kT0 + 100ms), std::chrono::nanoseconds(650ms));
    EXPECT_TRUE(modem.TakeLogStream(kT0 + 700ms, 4096).empty());
    // Another mask change before the hold ends starts it again.
    modem.Answer(kEventsOn);
    EXPECT_TRUE(modem.TakeLogStream(kT0 + 800ms, 4096).empty());
    EXPECT_TRUE(modem.TakeLogStream(kT0 + 1500ms, 4096).empty());
    // Quiet for long enough: the first record goes at once, and no burst for the wait.
    const Bytes first = modem.TakeLogStream(kT0 + 1550ms, 4096);
    int bad = 0;
    EXPECT_EQ(vmtest::RefDeframe(first, bad).size(), 1u);
    // A poll that sets nothing does not hold the stream.
    modem.Answer(Bytes{0x1D});
    EXPECT_FALSE(modem.TakeLogStream(kT0 + 2s, 4096).empty());
}

TEST(VirtualModemStream, TimestampsTellTheWallClock)
{
    CVirtualModem modem(0);
    const std::chrono::system_clock::time_point wall{std::chrono::seconds{1800000000}};
    modem.SetWallClock(wall, kT0);
    modem.Answer(kLteRrcOn);
    int bad = 0;
    const std::vector<Bytes> records = vmtest::RefDeframe(modem.TakeLogStream(kT0 + 2500ms, 200), bad);
    ASSERT_FALSE(records.empty());
    std::uint64_t stamp = 0;
    for (int i = 7; i >= 0; --i)
        stamp = (stamp << 8) | records[0].at(8 + static_cast<std::size_t>(i));
    EXPECT_EQ(stamp, vmlog::DmTimestamp(wall + 2500ms));
}

TEST(CaptureStream, PlaysLogRecordsOfWantedCodesRoundAndRound)
{
    struct Case {
        const char* name;
        std::function<bool(std::uint16_t)> wanted;
        std::vector<std::uint16_t> codes;   // the first records Next gives, in order
    };
    const Case cases[] = {
        {"every code: good log records only, then from the start again", [](std::uint16_t) { return true; },
         {0xB0C0, 0x1234, 0x7E7D, 0xB0C0, 0x1234, 0x7E7D, 0xB0C0}},
        {"one code", [](std::uint16_t c) { return c == 0x1234; }, {0x1234, 0x1234, 0x1234}},
        {"a code the capture lacks: nothing", [](std::uint16_t c) { return c == 0x412F; }, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto stream = CCaptureStream::FromBytes(CaptureBytes());
        std::vector<std::uint16_t> got;
        for (std::size_t i = 0; i < std::max<std::size_t>(c.codes.size(), 1); ++i) {
            const auto r = stream->Next(c.wanted);
            if (!r)
                break;
            got.push_back(CodeOf(*r));
        }
        EXPECT_EQ(got, c.codes);
    }
    // Records come back as captured, escapes undone.
    auto stream = CCaptureStream::FromBytes(CaptureBytes());
    const auto wantEscapes = [](std::uint16_t c) { return c == 0x7E7D; };
    EXPECT_EQ(stream->Next(wantEscapes), vmlog::WrapLogRecord(0x7E7D, 555, Bytes{0x7E, 0x7D}));
    EXPECT_TRUE(CCaptureStream::FromBytes({})->Next(wantEscapes) == std::nullopt);
}

TEST(CaptureStream, TheModemStreamsWhatTheMasksEnableWithFreshTimestamps)
{
    CVirtualModem modem(0);
    modem.SetCapture(CCaptureStream::FromBytes(CaptureBytes()));
    EXPECT_FALSE(modem.StreamActive());
    // A code the capture lacks: the stream stops once a round finds nothing.
    modem.Answer(SetLogMask(4, {0x12F}));
    EXPECT_TRUE(modem.TakeLogStream(kT0, 4096).empty());
    EXPECT_FALSE(modem.StreamActive());

    // 0x1234 is no code the modem builds, but the capture has it.
    modem.Answer(SetLogMask(1, {0x234}));
    modem.Answer(SetLogMask(11, {0xC0}));
    int bad = 0;
    const std::vector<Bytes> records = vmtest::RefDeframe(modem.TakeLogStream(kT0 + 3s, 400), bad);
    EXPECT_EQ(bad, 0);
    ASSERT_GE(records.size(), 4u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        const Bytes& r = records[i];
        const Bytes captured = i % 2 ? vmlog::WrapLogRecord(0x1234, 0, Bytes{4, 5}) : vmlog::WrapLogRecord(0xB0C0, 0, Bytes{1, 2, 3});
        // All as captured but the timestamp, which is the stream's own.
        EXPECT_EQ(Bytes(r.begin(), r.begin() + 8), Bytes(captured.begin(), captured.begin() + 8));
        EXPECT_EQ(Bytes(r.begin() + 16, r.end()), Bytes(captured.begin() + 16, captured.end()));
        EXPECT_EQ(Bytes(r.begin() + 8, r.begin() + 16), Bytes(8, 0)) << "first instant of the stream";
    }
    modem.Answer(kLogsOff);
    EXPECT_FALSE(modem.StreamActive());
}

TEST(CaptureStream, SampleCaptureFile)
{
    const std::optional<std::string> sample = SampleFile("qmdl/goodsim-small.qmdl");
    if (!sample)
        GTEST_SKIP() << SampleMissing("qmdl/goodsim-small.qmdl");
    const std::filesystem::path file = *sample;
    std::string error;
    auto stream = CCaptureStream::Open(file.string(), error);
    ASSERT_TRUE(stream) << error;
    std::map<std::uint16_t, int> codes;
    while (stream->Rounds() == 0) {
        const auto r = stream->Next([](std::uint16_t) { return true; });
        ASSERT_TRUE(r);
        ++codes[CodeOf(*r)];
    }
    EXPECT_GT(codes[0xB0C0], 0) << "LTE RRC records in the sample";
    int total = 0;
    for (const auto& [code, n] : codes)
        total += n;
    EXPECT_LE(total, 29 + 1);   // 29 frames, the first of the next round counted too

    // What cannot be read is refused with its name and reason.
    for (const std::filesystem::path& bad : {file.parent_path() / "no-such.qmdl", file.parent_path()}) {
        SCOPED_TRACE(bad.string());
        std::string why;
        EXPECT_FALSE(CCaptureStream::Open(bad.string(), why));
        EXPECT_EQ(why.rfind(bad.string() + ": ", 0), 0u) << why;
    }
}

TEST(CaptureStream, ACaptureWithoutEnabledCodesEndsAPacedStream)
{
    CVirtualModem modem(20000);
    modem.SetCapture(CCaptureStream::FromBytes(CaptureBytes()));
    modem.Answer(SetLogMask(4, {0x12F}));
    EXPECT_TRUE(modem.StreamActive());
    EXPECT_EQ(modem.NextLogDue(kT0), std::chrono::nanoseconds(0));
    EXPECT_TRUE(modem.TakeLogStream(kT0, 4096).empty());
    EXPECT_FALSE(modem.StreamActive());
    EXPECT_FALSE(modem.NextLogDue(kT0 + 1s));
    // Enabling a code it has starts it again.
    modem.Answer(SetLogMask(11, {0xC0}));
    EXPECT_FALSE(modem.TakeLogStream(kT0 + 2s, 4096).empty());
}

TEST(CaptureStream, ARecordLargerThanTheRoomStillGoesAlone)
{
    // A captured record of 6000 bytes between two small ones.
    Bytes wire;
    for (const std::size_t size : {3u, 6000u, 3u}) {
        const Bytes frame = RefFrame(vmlog::WrapLogRecord(0xB0C0, 0, Bytes(size, 0x42)));
        wire.insert(wire.end(), frame.begin(), frame.end());
    }
    CVirtualModem modem(0);
    modem.SetCapture(CCaptureStream::FromBytes(wire));
    modem.Answer(kLteRrcOn);
    struct Step {
        std::size_t room;
        std::vector<std::size_t> payloads;   // sizes of the records taken
    };
    const Step steps[] = {
        {4096, {3}},      // the small one; the large one does not fit behind it
        {100, {}},        // a small room waits
        {4096, {6000}},   // a full room takes the large one alone
        {4096, {3, 3}},   // and the stream goes on, round the capture
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.room);
        const Bytes out = modem.TakeLogStream(kT0, s.room);
        int bad = 0;
        std::vector<std::size_t> got;
        for (const Bytes& r : vmtest::RefDeframe(out, bad))
            got.push_back(r.size() - vmlog::kLogHeader);
        EXPECT_EQ(bad, 0);
        if (s.payloads.size() == 2) {
            ASSERT_GE(got.size(), 2u);
            got.resize(2);
        }
        EXPECT_EQ(got, s.payloads);
    }
}
