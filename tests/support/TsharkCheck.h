// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Reads a pcap back with tshark, where it is installed: each frame's
// protocols and whether any line of the full dissection says "Malformed" or
// "Expert Info (Error".
#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TsharkReading {
    std::vector<std::string> frames;   // frame.protocols and the info column, one per frame
    std::vector<std::string> errors;   // the dissection's error lines
};

inline std::string RunForOutput(const std::string& command)
{
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe)
        return out;
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe.get()))
        out += buffer.data();
    return out;
}

inline bool TsharkInstalled()
{
    return RunForOutput("command -v tshark 2>/dev/null").find("tshark") != std::string::npos;
}

inline TsharkReading ReadWithTshark(const std::string& pcap)
{
    TsharkReading reading;
    const std::string fields = RunForOutput("tshark -n -r '" + pcap
                                            + "' -T fields -e frame.protocols -e _ws.col.Info 2>/dev/null");
    std::size_t start = 0;
    while (start < fields.size()) {
        const std::size_t end = fields.find('\n', start);
        reading.frames.push_back(fields.substr(start, end - start));
        start = end == std::string::npos ? fields.size() : end + 1;
    }
    const std::string full = RunForOutput("tshark -n -r '" + pcap + "' -V 2>&1");
    start = 0;
    while (start < full.size()) {
        const std::size_t end = full.find('\n', start);
        const std::string line = full.substr(start, end - start);
        if (line.find("Malformed") != std::string::npos || line.find("Expert Info (Error") != std::string::npos)
            reading.errors.push_back(line);
        start = end == std::string::npos ? full.size() : end + 1;
    }
    return reading;
}
