// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/orvanelog/Status.h"

#include "decode/LogCodeNames.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace {

template <typename... Args>
std::string Format(const char* format, Args... args)
{
    std::array<char, 256> text{};
    std::snprintf(text.data(), text.size(), format, args...);
    return text.data();
}

}  // namespace

std::string FormatElapsed(double seconds)
{
    const auto total = static_cast<std::uint64_t>(std::max(0.0, std::floor(seconds)));
    const std::uint64_t h = total / 3600, m = total / 60 % 60, s = total % 60;
    if (h > 0)
        return Format("%" PRIu64 ":%02" PRIu64 ":%02" PRIu64, h, m, s);
    return Format("%02" PRIu64 ":%02" PRIu64, m, s);
}

std::string FormatBytes(std::uint64_t bytes)
{
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return Format("%" PRIu64 " B", bytes);
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {   // 1023.96 KiB reads as 1.00 MiB
        value /= 1024;
        ++unit;
    }
    return Format(value < 9.995 ? "%.2f %s" : "%.1f %s", value, kUnits[unit]);   // 9.999 reads as 10.0
}

std::string FormatStatus(const StatusFigures& f)
{
    const std::string rate = FormatBytes(static_cast<std::uint64_t>(std::max(0.0, f.bytesPerSecond)));
    return FormatElapsed(f.elapsedSeconds) + "  " + (f.capture.empty() ? std::string("(no capture)") : f.capture)
           + "  " + FormatBytes(f.bytes) + "  " + rate + "/s"
           + Format("  frames %" PRIu64 "  bad FCS %" PRIu64 "  log codes %zu", f.frames, f.badFrames, f.logCodes);
}

namespace {

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string FitStatus(const StatusFigures& figures, std::size_t columns)
{
    std::string line = FormatStatus(figures);
    if (columns == 0 || line.size() < columns)
        return line;
    const std::size_t room = columns - 1;
    StatusFigures f = figures;
    f.capture = BaseName(figures.capture);
    line = FormatStatus(f);
    if (line.size() > room) {
        // Its end tells one capture from the next: the start goes.
        constexpr std::size_t kShortest = 8;
        const std::size_t excess = line.size() - room;
        const std::size_t length = std::max(kShortest, f.capture.size() > excess ? f.capture.size() - excess : 0);
        if (length < f.capture.size())
            f.capture = "..." + f.capture.substr(f.capture.size() - (length - 3));
        line = FormatStatus(f);
    }
    // The figures from the right: log codes, bad FCS, frames, rate.
    while (line.size() > room) {
        const std::size_t gap = line.rfind("  ");
        if (gap == std::string::npos)
            return line.substr(0, room);
        line.resize(gap);
    }
    return line;
}

std::string FormatSummary(const SummaryFigures& f)
{
    std::string text = "orvane-log: stopped after " + FormatElapsed(f.elapsedSeconds) + "\n";
    // A run of days rotates through thousands: the first and the last then.
    constexpr std::size_t kListed = 10;
    if (f.captures.size() > kListed)
        text += "  captures: " + std::to_string(f.captures.size()) + ", from " + f.captures.front() + " to "
                + f.captures.back() + "\n";
    else
        for (const std::string& capture : f.captures)
            text += "  capture: " + capture + "\n";
    // After a failure the captures keep less than was received: both are told.
    const std::string bytes = f.keptBytes == f.bytes
                                  ? Format("%" PRIu64, f.bytes)
                                  : Format("%" PRIu64 " received, %" PRIu64 " kept", f.bytes, f.keptBytes);
    text += "  bytes: " + bytes
            + Format("  frames: %" PRIu64 "  bad frames: %" PRIu64 "  distinct log codes: %zu\n", f.frames,
                     f.badFrames, f.logCodes);
    if (f.decoded)
        text += "  decoded records: " + FormatCount(f.decoded->records) + "  debug messages: "
                + FormatCount(f.decoded->messages) + "  malformed: " + FormatCount(f.decoded->malformed) + "\n";
    if (!f.topCodes.empty()) {
        text += "  top log codes:\n";
        for (const auto& [code, count] : f.topCodes)
            text += "    " + decode::LogCodeLabel(code) + " " + FormatCount(count) + "\n";
    }
    return text;
}

std::string FormatCount(std::uint64_t count)
{
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

std::vector<std::pair<std::uint16_t, std::uint64_t>> TopLogCodes(const std::map<std::uint16_t, std::uint64_t>& codes)
{
    std::vector<std::pair<std::uint16_t, std::uint64_t>> top(codes.begin(), codes.end());
    std::stable_sort(top.begin(), top.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    if (top.size() > kTopLogCodes)
        top.resize(kTopLogCodes);
    return top;
}
