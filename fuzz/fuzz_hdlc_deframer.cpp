// SPDX-License-Identifier: GPL-2.0-or-later
// The virtual modem's frame reader on an arbitrary byte stream: the items do
// not depend on how the stream is chunked, frames respect the size limit,
// every good frame framed again reads back as itself, and (text lines off) the
// capture figures' frame counter sees the same frames in the same chunks. Byte 0: text lines and
// the frame limit; byte 1: the chunk size; the rest is the stream.
#include "FuzzCheck.h"
#include "dm/HdlcFramer.h"
#include "dm/HdlcDeframer.h"
#include "dm/HdlcFrameCounter.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace {

bool SameItems(const std::vector<HdlcItem>& a, const std::vector<HdlcItem>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const HdlcItem& x, const HdlcItem& y) { return x.kind == y.kind && x.data == y.data; });
}

struct Scratch {
    std::vector<HdlcItem> once, chunked, back;
    CHdlcDeframer reader;
    std::array<unsigned char, 2048> frame{};
    Scratch()
    {
        // An item takes a byte of the stream at least; longer inputs only grow them.
        once.reserve(4096);
        chunked.reserve(4096);
        back.reserve(1);
    }
};

class ScratchEmptied {
public:
    explicit ScratchEmptied(Scratch& s) : m_s(s) {}
    ~ScratchEmptied()
    {
        m_s.once.clear();
        m_s.chunked.clear();
        m_s.back.clear();
        m_s.reader.Reset();
    }
    ScratchEmptied(const ScratchEmptied&) = delete;
    ScratchEmptied& operator=(const ScratchEmptied&) = delete;

private:
    Scratch& m_s;
};

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const bool textLines = data[0] & 1;
    const std::size_t maxFrame = (data[0] & 2) ? CHdlcDeframer::kDefaultMaxFrame : (data[0] >> 2);
    const std::size_t chunk = data[1] % 17 + 1;
    const std::span<const std::uint8_t> stream(data + 2, size - 2);

    // Item lists and the read-back deframer live across inputs, so an input
    // does not pay for growing them again. They are emptied before the input
    // ends: what an input allocates it also frees, or libFuzzer would take
    // each input for a leak and run it again under the leak checker.
    static Scratch scratch;
    const ScratchEmptied emptied(scratch);
    std::vector<HdlcItem>& once = scratch.once;
    std::vector<HdlcItem>& chunked = scratch.chunked;
    std::vector<HdlcItem>& back = scratch.back;
    CHdlcDeframer& reader = scratch.reader;

    CHdlcDeframer whole(textLines, maxFrame);
    whole.Push(stream, once);

    CHdlcDeframer pieces(textLines, maxFrame);
    for (std::size_t at = 0; at < stream.size(); at += chunk)
        pieces.Push(stream.subspan(at, std::min(chunk, stream.size() - at)), chunked);
    FUZZ_CHECK(SameItems(once, chunked));
    FUZZ_CHECK(whole.GoodFrames() + whole.BadFrames() + whole.TextLines() == once.size());

    if (!textLines) {
        CHdlcFrameCounter counter(maxFrame);
        std::size_t next = 0;   // the item the next good frame must match
        for (std::size_t at = 0; at < stream.size(); at += chunk)
            counter.Push(stream.subspan(at, std::min(chunk, stream.size() - at)), [&](const HdlcFrameHead& frame) {
                while (next < once.size() && once[next].kind != HdlcItem::Kind::Frame)
                    ++next;
                FUZZ_CHECK(next < once.size());
                const std::vector<std::uint8_t>& data = once[next++].data;
                FUZZ_CHECK(frame.length == data.size());
                FUZZ_CHECK(std::equal(frame.head.begin(), frame.head.end(), data.begin(),
                                      data.begin() + static_cast<std::ptrdiff_t>(
                                                         std::min(data.size(), CHdlcFrameCounter::kHeadSize))));
            });
        FUZZ_CHECK(counter.GoodFrames() == whole.GoodFrames() && counter.BadFrames() == whole.BadFrames());
    }

    const std::size_t limit = std::max<std::size_t>(maxFrame, 3);
    for (const HdlcItem& item : once) {
        if (item.kind != HdlcItem::Kind::Frame)
            continue;
        FUZZ_CHECK(item.data.size() + 2 <= limit);
        if (item.data.size() > 1021)
            continue;
        // Framed in place: only the packet's bytes need to be there first.
        std::array<unsigned char, 2048>& buffer = scratch.frame;
        std::copy(item.data.begin(), item.data.end(), buffer.begin());
        CHdlcFramer framer;
        const int n = framer.Frame(buffer.data(), static_cast<int>(item.data.size()));
        if (n < 3 || buffer[static_cast<std::size_t>(n) - 1] != 0x7E)
            continue;   // cut at the framer's room: not a whole frame
        reader.Reset();
        back.clear();
        reader.Push(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)), back);
        FUZZ_CHECK(back.size() == 1 && back[0].kind == HdlcItem::Kind::Frame && back[0].data == item.data);
    }
    return 0;
}
