// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/orvanelog/ReadCapture.h"

#include "logclient/CaptureStats.h"
#include "tools/orvanelog/DecodeOutput.h"
#include "tools/orvanelog/Status.h"

#include <chrono>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

void Tell(std::FILE* err, const std::string& text)
{
    std::fprintf(err, "orvane-log: %s\n", text.c_str());
    std::fflush(err);
}

// Every chunk and every good frame to each consumer that wants it.
decode::CaptureSinks SinksOf(const std::vector<ReadConsumer>& consumers)
{
    decode::CaptureSinks sinks;
    sinks.onBytes = [&consumers](std::span<const std::uint8_t> bytes) {
        for (const ReadConsumer& c : consumers)
            if (c.onBytes)
                c.onBytes(bytes);
    };
    sinks.onPacket = [&consumers](std::span<const std::uint8_t> packet, std::span<const decode::DecodedRecord> r) {
        for (const ReadConsumer& c : consumers)
            if (c.onPacket)
                c.onPacket(packet, r);
    };
    return sinks;
}

}  // namespace

int ReadCapture(const LogOptions& options, std::FILE* out, std::FILE* err, std::vector<ReadConsumer> consumers)
{
    const Clock::time_point start = Clock::now();
    std::shared_ptr<const decode::CMessageDatabase> database;
    std::string error;
    if (!options.qdbPath.empty() && !(database = LoadMessageDatabase(options.qdbPath, &error))) {
        Tell(err, "cannot load the message database " + error);
        return kExitFile;
    }
    CCaptureStats stats;
    consumers.insert(consumers.begin(), ReadConsumer{[&stats](std::span<const std::uint8_t> bytes) {
                                                         stats.Feed(bytes, Clock::now());
                                                     },
                                                     {}, {}, {}});
    std::unique_ptr<CDecodeOutput> lines;
    if (options.decode) {
        lines = std::make_unique<CDecodeOutput>(out, database);
        consumers.push_back({{}, [&lines](std::span<const std::uint8_t>, std::span<const decode::DecodedRecord> r) {
                                 lines->Write(r);
                             },
                             {}, {}});
    }
    decode::CRecordStream stream(database);
    const decode::CaptureSinks sinks = SinksOf(consumers);
    if (!decode::DecodeCaptureFile(options.readPath, stream, sinks, &error)) {
        Tell(err, "cannot read the capture " + error);
        return kExitFile;
    }
    for (const ReadConsumer& c : consumers)
        if (c.finish && !c.finish(&error)) {
            Tell(err, error);
            return kExitCapture;
        }

    SummaryFigures summary;
    summary.elapsedSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    summary.captures = {options.readPath};
    summary.bytes = stats.Bytes();
    summary.keptBytes = summary.bytes;   // the file is the capture: nothing of it was lost
    summary.frames = stats.Frames();
    summary.badFrames = stats.BadFrames();
    summary.logCodes = stats.DistinctLogCodes();
    summary.topCodes = TopLogCodes(stats.LogCodeCounts());
    if (lines)
        summary.decoded = lines->Counts();
    std::fputs(FormatSummary(summary).c_str(), out);
    for (const ReadConsumer& c : consumers)
        if (c.summary)
            std::fputs(c.summary().c_str(), out);
    std::fflush(out);
    return kExitClean;
}
