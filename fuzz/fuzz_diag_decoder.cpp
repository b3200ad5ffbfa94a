// SPDX-License-Identifier: GPL-2.0-or-later
// The DIAG decoder and the message formatter on hostile bytes. The first
// byte picks what the rest is:
//   0  one packet for the decoder (with a small message database, so terse
//      messages are formatted from its formats too)
//   1  the formatter: an argument count, that many 32-bit arguments (as many
//      as the input holds), then the format string
//   2  an HDLC stream for the record stream, in chunks whose sizes the next
//      byte picks
//   3  a message database file
// Checked: every record has a kind and a line; no text holds a line end; a
// formatted text is no longer than the format and its arguments can make it
// (so nothing was read past them); the same input decodes the same twice.
#include "FuzzCheck.h"
#include "decode/DiagDecoder.h"
#include "decode/MessageFormat.h"
#include "decode/RecordText.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::shared_ptr<const decode::CMessageDatabase> Database()
{
    static const auto database = [] {
        auto db = std::make_shared<decode::CMessageDatabase>();
        const std::string text = "1:a.c:%d %s %lld %*.*x %c%%\n"
                                 "2:b.c:%hhu %hd %5.3p %q %\n"
                                 "0:z.c:%llu%llu%llu\n";
        db->LoadBytes(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), nullptr);
        return db;
    }();
    return database;
}

void CheckRecords(std::span<const decode::DecodedRecord> records)
{
    for (const decode::DecodedRecord& r : records) {
        const std::string line = decode::FormatRecordLine(r);
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        FUZZ_CHECK(r.text.find('\n') == std::string::npos || r.kind == decode::RecordKind::Message
                   || r.kind == decode::RecordKind::Terse);
        if (r.kind == decode::RecordKind::Message || r.kind == decode::RecordKind::Terse)
            FUZZ_CHECK(r.text.find('\n') == std::string::npos && r.text.find('\r') == std::string::npos);
        // Bytes in hex stop at kMaxHexBytes; a terse message shows at most 255 arguments.
        if (r.kind == decode::RecordKind::Terse)
            FUZZ_CHECK(r.text.size() <= 16 + 255 * 11);
        else if (r.kind != decode::RecordKind::Message && r.kind != decode::RecordKind::Log)
            FUZZ_CHECK(r.text.size() <= decode::CDiagDecoder::kMaxHexBytes * 3 + 32);
    }
}

void FuzzPacket(std::span<const std::uint8_t> packet)
{
    const std::vector<std::uint8_t> exact(packet.begin(), packet.end());   // its own heap block
    decode::CDiagDecoder decoder(Database());
    std::vector<decode::DecodedRecord> first, second;
    const std::size_t n = decoder.Decode(exact, first);
    FUZZ_CHECK(n == first.size() && n >= 1);
    CheckRecords(first);
    // Into reused storage: the same lines.
    const std::size_t m = decoder.Decode(exact, second, 0);
    FUZZ_CHECK(decoder.Decode(exact, second, 0) == m && m == n);
    for (std::size_t i = 0; i < n; ++i)
        FUZZ_CHECK(decode::FormatRecordLine(first[i]) == decode::FormatRecordLine(second[i]));
}

void FuzzFormat(std::span<const std::uint8_t> in)
{
    if (in.empty())
        return;
    const std::size_t wanted = in[0] % 40;
    in = in.subspan(1);
    std::vector<std::uint32_t> args;
    while (args.size() < wanted && in.size() >= 4) {
        args.push_back(static_cast<std::uint32_t>(in[0] | in[1] << 8 | in[2] << 16 | std::uint32_t{in[3]} << 24));
        in = in.subspan(4);
    }
    const std::string format(in.begin(), in.end());   // its own heap block
    const std::vector<std::uint32_t> exactArgs(args);
    const std::string text = decode::FormatMessage(format, exactArgs);
    FUZZ_CHECK(text.find('\n') == std::string::npos && text.find('\r') == std::string::npos);
    // Each conversion (at least two format bytes) prints at most a capped
    // field or its mark; plain bytes print one each.
    const std::size_t conversions = std::count(format.begin(), format.end(), '%');
    FUZZ_CHECK(text.size() <= format.size() + conversions * (2 * decode::kMaxFieldWidth + 48));
    FUZZ_CHECK(decode::FormatMessage(format, exactArgs) == text);
}

void FuzzStream(std::span<const std::uint8_t> in)
{
    if (in.empty())
        return;
    const std::size_t step = 1 + in[0] % 64;
    const std::vector<std::uint8_t> bytes(in.begin() + 1, in.end());
    decode::CRecordStream stream(Database());
    std::vector<decode::DecodedRecord> records;
    for (std::size_t at = 0; at < bytes.size(); at += step)
        stream.Push(std::span(bytes).subspan(at, std::min(step, bytes.size() - at)), records);
    CheckRecords(records);
    FUZZ_CHECK(stream.Records() == records.size());
    FUZZ_CHECK(records.size() >= stream.GoodFrames());
}

void FuzzDatabase(std::span<const std::uint8_t> in)
{
    const std::vector<std::uint8_t> exact(in.begin(), in.end());
    decode::CMessageDatabase db;
    std::string error;
    const bool ok = db.LoadBytes(exact, &error, std::size_t{1} << 16);
    FUZZ_CHECK(ok || !error.empty());     // a refusal says why
    FUZZ_CHECK(ok == (db.Size() > 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    switch (data[0] % 4) {
    case 0: FuzzPacket(rest); break;
    case 1: FuzzFormat(rest); break;
    case 2: FuzzStream(rest); break;
    default: FuzzDatabase(rest); break;
    }
    return 0;
}
