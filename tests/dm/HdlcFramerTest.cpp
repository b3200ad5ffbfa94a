// SPDX-License-Identifier: GPL-2.0-or-later
#include "dm/FramedWriter.h"
#include "dm/HdlcFramer.h"
#include "support/Fixtures.h"
#include "support/SampleData.h"

#include "tools/VmodemTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t F = 0x7E;   // flag
constexpr std::uint8_t E = 0x7D;   // escape
constexpr std::uint8_t X = 0x20;   // escape xor

Bytes Zeros(std::size_t n) { return Bytes(n, 0x00); }

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Frames packet in a 2048-byte buffer, as every caller's m_TxBuf is.
Bytes FrameOf(const Bytes& packet)
{
    std::array<unsigned char, 2048> buf{};
    std::copy(packet.begin(), packet.end(), buf.begin());
    CHdlcFramer framer;
    const int n = framer.Frame(buf.data(), static_cast<int>(packet.size()));
    return Bytes(buf.begin(), buf.begin() + n);
}

// CRC-16/X-25 bit by bit, independent of the framer's table.
std::uint16_t Crc16X25(const Bytes& data)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : data) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : static_cast<std::uint16_t>(crc >> 1);
    }
    return static_cast<std::uint16_t>(~crc);
}

// Undoes the escapes of a frame without its closing flag; false on a stray flag
// or a dangling escape.
bool Unescape(const Bytes& body, Bytes& out)
{
    out.clear();
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] == F)
            return false;
        if (body[i] == E) {
            if (++i == body.size())
                return false;
            out.push_back(static_cast<std::uint8_t>(body[i] ^ X));
        } else {
            out.push_back(body[i]);
        }
    }
    return true;
}

struct Case {
    const char* name;
    Bytes in, out;
};

TEST(HdlcFramer, FramesEveryVector)
{
    const Case cases[] = {
        {"empty packet: complemented FCS of nothing is 0000", {}, {0x00, 0x00, F}},
        {"digits one to nine: FCS 906E low byte first",
         {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39},
         {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x6E, 0x90, F}},
        {"flag and escape in data; FCS over unescaped bytes",
         {0x7E, 0x7D, 0x00}, {E, 0x7E ^ X, E, 0x7D ^ X, 0x00, 0xB3, 0x16, F}},
        {"60 01", {0x60, 0x01}, {0x60, 0x01, 0x9B, 0x7B, F}},
        {"control characters go out unchanged", {0x11, 0x13}, {0x11, 0x13, 0x14, 0xA1, F}},
        {"FCS high byte is a flag", {0x00, 0x52}, {0x00, 0x52, 0xD0, E, 0x7E ^ X, F}},
        {"FCS low byte is an escape", {0x00, 0x57}, {0x00, 0x57, E, 0x7D ^ X, 0x29, F}},
        {"both FCS bytes are flags", {0x1B, 0x00}, {0x1B, 0x00, E, 0x7E ^ X, E, 0x7E ^ X, F}},
        {"framing a frame again escapes its flag",
         {0x60, 0x01, 0x9B, 0x7B, F}, {0x60, 0x01, 0x9B, 0x7B, E, 0x7E ^ X, 0x35, 0x5C, F}},
        {"1021 zeros fill the 1024-byte room exactly", Zeros(1021), Concat({Zeros(1021), {0xF5, 0x5C, F}})},
        {"1022 zeros: both FCS bytes, no flag", Zeros(1022), Concat({Zeros(1022), {0x06, 0x50}})},
        {"1023 zeros: low FCS byte only", Zeros(1023), Concat({Zeros(1023), {0x1E}})},
        {"2000 zeros: first 1024 data bytes only", Zeros(2000), Zeros(1024)},
        {"escaped data byte never split at the room's end", Concat({Zeros(1023), {0x7E}}), Zeros(1023)},
        {"escaped FCS low byte never split at the room's end",
         Concat({Zeros(1021), {0x00, 0x5D}}), Concat({Zeros(1021), {0x00, 0x5D}})},
        {"escaped FCS high byte never split at the room's end",
         Concat({Zeros(1020), {0x00, 0xDF}}), Concat({Zeros(1020), {0x00, 0xDF, 0x7C}})},
        {"escaped data byte fits as the last pair", Concat({Zeros(1022), {0x7D}}),
         Concat({Zeros(1022), {E, 0x7D ^ X}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FrameOf(c.in), c.out);
    }
}

TEST(HdlcFramer, FrameOverwritesTheCallersBufferAndNothingPastTheFrame)
{
    std::array<unsigned char, 2048> buf;
    buf.fill(0xA5);
    buf[0] = 0x60;
    buf[1] = 0x01;
    CHdlcFramer framer;
    ASSERT_EQ(framer.Frame(buf.data(), 2), 5);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 5), (Bytes{0x60, 0x01, 0x9B, 0x7B, F}));
    EXPECT_TRUE(std::all_of(buf.begin() + 5, buf.end(), [](unsigned char b) { return b == 0xA5; }));

    EXPECT_EQ(framer.Frame(nullptr, 4), 0);
    EXPECT_EQ(framer.Frame(buf.data(), -3), 3) << "a negative length frames an empty packet";
}

TEST(HdlcFramer, SizedBufferCutsTheFrameToFit)
{
    const struct {
        const char* name;
        Bytes packet;
        int length;
        std::size_t size;
        Bytes out;
    } cases[] = {
        {"fits", {0x60, 0x01}, 2, 8, {0x60, 0x01, 0x9B, 0x7B, F}},
        {"cut before the flag", {0x60, 0x01}, 2, 4, {0x60, 0x01, 0x9B, 0x7B}},
        {"escape pair waits", {0x60, 0x7E}, 2, 2, {0x60}},
        {"length past the buffer is clamped", {0x60, 0x01}, 5, 2, {0x60, 0x01}},
        {"no room", {0x60}, 1, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes buf = c.packet;
        const std::size_t used = std::max(c.size, c.packet.size());
        buf.resize(used + 4, 0xA5);
        CHdlcFramer framer;
        const int n = framer.Frame(std::span<unsigned char>(buf.data(), c.size), c.length);
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + n), c.out);
        EXPECT_TRUE(std::all_of(buf.begin() + static_cast<long>(used), buf.end(),
                                [](unsigned char b) { return b == 0xA5; }));
    }
}

TEST(HdlcFramer, TableFcsMatchesBitwiseCrcAndUnescapingGivesThePacketBack)
{
    std::mt19937 rng(20261207);
    for (int round = 0; round < 4000; ++round) {
        SCOPED_TRACE(round);
        // Lengths up to 509 always fit the room even when every byte is escaped.
        Bytes packet(rng() % 510);
        const bool flagHeavy = round % 4 == 0;
        for (auto& b : packet) {
            b = static_cast<std::uint8_t>(rng());
            if (flagHeavy && rng() % 3 == 0)
                b = (rng() & 1) ? F : E;
        }
        const Bytes frame = FrameOf(packet);
        ASSERT_GE(frame.size(), 3u);
        ASSERT_LE(frame.size(), static_cast<std::size_t>(kHdlcScratchSize));
        ASSERT_EQ(frame.back(), F);
        Bytes plain;
        ASSERT_TRUE(Unescape(Bytes(frame.begin(), frame.end() - 1), plain));
        ASSERT_EQ(plain.size(), packet.size() + 2);
        const std::uint16_t crc = Crc16X25(packet);
        EXPECT_EQ(plain[packet.size()], crc & 0xFF);
        EXPECT_EQ(plain[packet.size() + 1], crc >> 8);
        plain.resize(packet.size());
        EXPECT_EQ(plain, packet);
        EXPECT_EQ(HdlcFcs(packet), crc);
    }
}

TEST(HdlcFramer, FcsOverARunEqualsOneStepPerByteFromAnyRegister)
{
    std::mt19937 rng(7);
    Bytes data(64);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(rng());
    // Every start and length around the eight-byte steps, from a register mid-frame.
    for (std::size_t at = 0; at < 9; ++at)
        for (std::size_t n = 0; at + n <= data.size(); ++n) {
            SCOPED_TRACE(::testing::Message() << "bytes " << at << ".." << at + n);
            const auto start = static_cast<std::uint16_t>(rng());
            std::uint16_t stepped = start;
            for (std::size_t i = at; i < at + n; ++i)
                stepped = HdlcFcsUpdate(stepped, data[i]);
            ASSERT_EQ(HdlcFcsUpdateRun(start, std::span(data).subspan(at, n)), stepped);
        }
    EXPECT_EQ(static_cast<std::uint16_t>(~HdlcFcsUpdateRun(0xFFFF, Bytes{0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39})), 0x906E);
}

// Runs HdlcEncode over packet with output rooms of the given sizes in turn
// (the last size repeats), each room surrounded by guard bytes.
Bytes EncodeInRooms(Bytes packet, const std::vector<std::size_t>& rooms, std::int32_t final = 1)
{
    // An empty packet is one whose next byte lies past its last.
    unsigned char none[2] = {};
    HdlcInput in{none + 1, none, HDLC_START, final};
    if (!packet.empty())
        in = HdlcInput{packet.data(), packet.data() + packet.size() - 1, HDLC_START, final};
    HdlcOutput out{nullptr, nullptr, 0};
    Bytes frame;
    constexpr std::size_t kGuard = 8;
    for (std::size_t call = 0; in.nState != HDLC_DONE; ++call) {
        const std::size_t room = rooms[std::min(call, rooms.size() - 1)];
        Bytes area(room + 2 * kGuard, 0xA5);
        out.pCur = area.data() + kGuard;
        out.pLast = area.data() + kGuard + room - 1;
        unsigned char* const start = out.pCur;
        HdlcEncode(&in, &out);
        const auto n = static_cast<std::size_t>(out.pCur - start);
        EXPECT_LE(n, room);
        EXPECT_TRUE(std::all_of(area.begin(), area.begin() + kGuard, [](unsigned char b) { return b == 0xA5; }));
        EXPECT_TRUE(std::all_of(area.end() - kGuard, area.end(), [](unsigned char b) { return b == 0xA5; }));
        frame.insert(frame.end(), start, start + n);
        if (call > 4 * packet.size() + 16) {
            ADD_FAILURE() << "encoder made no progress";
            break;
        }
    }
    return frame;
}

TEST(HdlcFramer, ResumableEncoderInSmallRoomsEqualsOneCall)
{
    const Bytes packets[] = {
        {},
        {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39},
        {0x7E, 0x7D, 0x00},
        {0x1B, 0x00},                       // both FCS bytes escaped
        {0x7E, 0x7E, 0x7E, 0x7D, 0x7D, 0x7D},
        {0x00, 0x52},
        {0x00, 0x57},
    };
    const std::vector<std::vector<std::size_t>> roomSets = {
        {2}, {3}, {5}, {7}, {2, 3}, {3, 2, 2, 5}, {1, 1, 2}, {4, 1, 6},
    };
    for (const auto& packet : packets) {
        const Bytes whole = FrameOf(packet);
        for (const auto& rooms : roomSets) {
            SCOPED_TRACE(::testing::PrintToString(packet) + " in rooms " + ::testing::PrintToString(rooms));
            EXPECT_EQ(EncodeInRooms(packet, rooms), whole);
        }
    }

    std::mt19937 rng(7);
    for (int round = 0; round < 500; ++round) {
        SCOPED_TRACE(round);
        Bytes packet(rng() % 300);
        for (auto& b : packet)
            b = (rng() % 4 == 0) ? static_cast<std::uint8_t>(0x7D + (rng() & 1)) : static_cast<std::uint8_t>(rng());
        std::vector<std::size_t> rooms(20);
        for (auto& r : rooms)
            r = 2 + rng() % 9;
        EXPECT_EQ(EncodeInRooms(packet, rooms), FrameOf(packet));
    }
}

TEST(HdlcFramer, EncoderWithoutFinalLeavesRunningFcsAndAppendsNothing)
{
    Bytes packet{0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x7E};
    std::array<unsigned char, 32> room{};
    HdlcInput in{packet.data(), packet.data() + packet.size() - 1, HDLC_START, 0};
    HdlcOutput out{room.data(), room.data() + room.size() - 1, 0};
    EXPECT_EQ(HdlcEncode(&in, &out), 0);
    EXPECT_EQ(in.nState, static_cast<std::uint32_t>(HDLC_DONE));
    EXPECT_EQ(out.pCur - room.data(), 11);
    EXPECT_EQ(room[9], E);
    EXPECT_EQ(room[10], 0x7E ^ X);
    EXPECT_EQ(static_cast<std::uint16_t>(~out.wFcs), Crc16X25(packet));
}

TEST(HdlcFramer, NullDescriptorsProduceNothing)
{
    unsigned char byte = 0x41;
    std::array<unsigned char, 8> room{};
    HdlcInput in{&byte, &byte, HDLC_START, 1};
    HdlcOutput out{room.data(), room.data() + room.size() - 1, 0x1234};

    EXPECT_EQ(HdlcEncode(nullptr, &out), 0);
    EXPECT_EQ(HdlcEncode(&in, nullptr), 0);
    EXPECT_EQ(in.nState, static_cast<std::uint32_t>(HDLC_START));
    EXPECT_EQ(out.pCur, room.data());
    EXPECT_EQ(out.wFcs, 0x1234);

    HdlcOutput noRoom{nullptr, room.data(), 0};
    EXPECT_EQ(HdlcEncode(&in, &noRoom), 0);
    EXPECT_EQ(noRoom.pCur, nullptr);
    EXPECT_EQ(in.pCur, &byte) << "no input is taken without room";
    EXPECT_EQ(in.nState, static_cast<std::uint32_t>(HDLC_DATA));
    EXPECT_EQ(noRoom.wFcs, 0xFFFF);
}

// Splits a capture at its flags and frames each packet again: the tool's
// framer must give back every frame byte for byte.
void ExpectReframedIdentically(const Bytes& capture, int expectedFrames)
{
    int frames = 0;
    auto begin = capture.begin();
    for (auto it = capture.begin(); it != capture.end(); ++it) {
        if (*it != F)
            continue;
        const Bytes wire(begin, it + 1);
        begin = it + 1;
        Bytes plain;
        ASSERT_TRUE(Unescape(Bytes(wire.begin(), wire.end() - 1), plain));
        ASSERT_GE(plain.size(), 2u);
        plain.resize(plain.size() - 2);
        EXPECT_EQ(FrameOf(plain), wire) << "frame " << frames;
        ++frames;
    }
    EXPECT_EQ(frames, expectedFrames);
}

TEST(HdlcFramer, ReframesEveryFrameOfAModemCapture)
{
    const fixture::Capture capture = fixture::ModemCapture(99, 4);
    // The capture must hold what makes it worth framing again: flag and
    // escape bytes in a payload and in an FCS.
    const Bytes& first = capture.packets.at(0);
    EXPECT_NE(std::find(first.begin(), first.end(), F), first.end());
    const std::uint16_t fcs = ReferenceFcs(capture.packets.at(1));
    const std::uint8_t lo = fcs & 0xFF, hi = fcs >> 8;
    EXPECT_TRUE(lo == F || lo == E || hi == F || hi == E) << std::hex << fcs;
    ExpectReframedIdentically(capture.wire, 99);
}

TEST(HdlcFramer, ReframesEveryCapturedModemFrame)
{
    for (const auto& [name, frames] : {std::pair{"qmdl/goodsim-small.qmdl", 29}, std::pair{"qmdl/deadsim.qmdl", 99}}) {
        SCOPED_TRACE(name);
        const std::optional<std::string> sample = SampleFile(name);
        if (!sample)
            GTEST_SKIP() << SampleMissing(name);
        std::ifstream file(*sample, std::ios::binary);
        ExpectReframedIdentically(Bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()}, frames);
    }
}

} // namespace

TEST(HdlcEncoder, FramePacketMatchesTheReferenceAtAnyLength)
{
    // Past the framer's 1024-byte window, with bytes that need escapes.
    for (const std::size_t n : {0u, 1u, 2u, 255u, 256u, 1021u, 1024u, 3000u}) {
        SCOPED_TRACE(n);
        Bytes packet(n);
        for (std::size_t i = 0; i < n; ++i)
            packet[i] = static_cast<std::uint8_t>(0x7C + i % 4);   // 7C 7D 7E 7F ...
        EXPECT_EQ(FramePacket(packet), vmtest::RefFrame(packet));
        EXPECT_EQ(HdlcFramePacket(packet), n == 0 ? Bytes{} : vmtest::RefFrame(packet)) << "nothing for nothing";
    }
}

// The encoder resumed through rooms of every small size gives the same frame
// as one call with room for all of it; runs of plain bytes longer than a room,
// escapes at a room's last byte and escaped FCS bytes all cross piece ends.
TEST(HdlcEncoder, AnyRoomsGiveTheWholeFrame)
{
    std::mt19937 rng(1662);
    struct Case {
        const char* name;
        Bytes packet;
    } cases[] = {
        {"empty", {}},
        {"FCS bytes need escapes", {}},
        {"plain run longer than the rooms", Bytes(300, 0x41)},
        {"every byte escaped", Bytes(64, F)},
        {"random", {}},
    };
    for (unsigned v = 0; cases[1].packet.empty(); ++v) {
        const Bytes two{static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
        const std::uint16_t fcs = Crc16X25(two);
        if ((fcs & 0xFF) == F && (fcs >> 8) == E)
            cases[1].packet = two;
    }
    cases[4].packet.resize(2000);
    for (auto& b : cases[4].packet)
        b = static_cast<std::uint8_t>(rng() % 8 == 0 ? (rng() & 1 ? F : E) : rng());
    for (const Case& c : cases) {
        const Bytes whole = vmtest::RefFrame(c.packet);
        for (std::size_t room = 2; room <= 17; ++room) {
            SCOPED_TRACE(::testing::Message() << c.name << ", room " << room);
            CHdlcEncoder encoder(c.packet);
            Bytes frame;
            Bytes area(room + 1, 0xA5);
            while (!encoder.Done() && frame.size() <= whole.size()) {
                const std::size_t n = encoder.Encode(std::span(area).first(room));
                ASSERT_GT(n, 0u) << "a room of two always takes a byte";
                ASSERT_EQ(area[room], 0xA5) << "wrote past the room";
                frame.insert(frame.end(), area.begin(), area.begin() + static_cast<long>(n));
            }
            EXPECT_EQ(frame, whole);
            EXPECT_EQ(encoder.Encode(std::span(area).first(room)), 0u) << "a finished frame adds nothing";
        }
    }
}

TEST(HdlcEncoder, OnePieceIsCutAtTheRoomWithoutSplittingAnEscape)
{
    const struct {
        const char* name;
        Bytes packet;
        std::size_t room;
        Bytes out;
    } cases[] = {
        {"fits", {0x60, 0x01}, 5, {0x60, 0x01, 0x9B, 0x7B, F}},
        {"flag left out", {0x60, 0x01}, 4, {0x60, 0x01, 0x9B, 0x7B}},
        {"escape pair waits", {0x60, F}, 2, {0x60}},
        {"no room", {0x60}, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes room(c.room + 2, 0xA5);
        const std::size_t n = HdlcFrameInto(c.packet, std::span(room).first(c.room));
        EXPECT_EQ(Bytes(room.begin(), room.begin() + static_cast<long>(n)), c.out);
        EXPECT_EQ(room[c.room], 0xA5);
    }
}
