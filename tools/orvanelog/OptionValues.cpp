// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/orvanelog/OptionValues.h"

#include "serial/DcbTermios.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

bool ParseUnsigned(const std::string& text, unsigned long long& value)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text.c_str(), &end, 10);
    return *end == '\0' && errno == 0;
}

// A number above 0 with an optional one-letter unit from units (each with its
// scale); nothing when the word is not of that form or overflows limit.
struct Unit {
    char letter;
    double scale;
};
bool ParseScaled(const std::string& text, std::initializer_list<Unit> units, double limit, double& value)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    double number = std::strtod(text.c_str(), &end);
    if (errno != 0 || !std::isfinite(number) || number <= 0)
        return false;
    if (*end != '\0') {
        bool known = false;
        for (const Unit& u : units)
            if (std::tolower(static_cast<unsigned char>(*end)) == u.letter && end[1] == '\0') {
                number *= u.scale;
                known = true;
            }
        if (!known)
            return false;
    }
    if (number > limit)
        return false;
    value = number;
    return true;
}

std::vector<std::string> SplitFields(const std::string& text)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        fields.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            return fields;
        start = comma + 1;
    }
}

std::string ApplyLineFields(const std::vector<std::string>& fields, DCB& next)
{
    unsigned long long bits = 0;
    if (!ParseUnsigned(fields[1], bits) || bits > 255)
        return "--settings: \"" + fields[1] + "\" is not a number of data bits";
    next.ByteSize = static_cast<std::uint8_t>(bits);
    static constexpr struct { char letter; std::uint8_t parity; } kParities[] = {
        {'N', NOPARITY}, {'O', ODDPARITY}, {'E', EVENPARITY}, {'M', MARKPARITY}, {'S', SPACEPARITY}};
    bool found = false;
    for (const auto& p : kParities)
        if (fields[2].size() == 1 && (fields[2][0] == p.letter || fields[2][0] == p.letter + ('a' - 'A'))) {
            next.Parity = p.parity;
            found = true;
        }
    if (!found)
        return "--settings: parity \"" + fields[2] + "\" is not N, O, E, M or S";
    if (fields[3] == "1")
        next.StopBits = ONESTOPBIT;
    else if (fields[3] == "1.5")
        next.StopBits = ONE5STOPBITS;
    else if (fields[3] == "2")
        next.StopBits = TWOSTOPBITS;
    else
        return "--settings: stop bits \"" + fields[3] + "\" are not 1, 1.5 or 2";
    return {};
}

}  // namespace

std::string ApplySettings(const std::string& text, DCB& dcb)
{
    const std::vector<std::string> fields = SplitFields(text);
    if (fields.size() != 1 && fields.size() != 4)
        return "--settings takes BAUD or BAUD,BITS,PARITY,STOP, not \"" + text + "\"";
    unsigned long long baud = 0;
    if (!ParseUnsigned(fields[0], baud) || baud > 0xFFFFFFFFull)
        return "--settings: \"" + fields[0] + "\" is not a baud rate";
    DCB next = dcb;
    next.BaudRate = static_cast<std::uint32_t>(baud);
    if (fields.size() == 4)
        if (std::string why = ApplyLineFields(fields, next); !why.empty())
            return why;
    dcb = next;
    return {};
}

std::string CheckSettings(const DCB& dcb)
{
    const DcbTranslation translation = TranslateDcb(dcb);
    return translation.ok ? std::string() : "--settings: " + translation.refusal;
}

std::string ParseSize(const std::string& option, const std::string& text, std::uint64_t& bytes)
{
    double value = 0;
    if (!ParseScaled(text, {{'k', 1024.0}, {'m', 1048576.0}, {'g', 1073741824.0}}, 9.0e18, value) || value < 1)
        return option + " takes a size such as 4096, 512k, 256M or 2G, not \"" + text + "\"";
    bytes = static_cast<std::uint64_t>(value);
    return {};
}

std::string ParseDuration(const std::string& option, const std::string& text, double& seconds)
{
    if (!ParseScaled(text, {{'s', 1.0}, {'m', 60.0}, {'h', 3600.0}}, 1e9, seconds))
        return option + " takes a time above 0 such as 30, 90s, 15m or 1.5h, not \"" + text + "\"";
    return {};
}

std::string ParseCount(const std::string& option, const std::string& text, std::uint64_t& count)
{
    unsigned long long value = 0;
    if (!ParseUnsigned(text, value) || value == 0 || value > 1000000000ull)
        return option + " takes a whole number of at least 1, not \"" + text + "\"";
    count = value;
    return {};
}
