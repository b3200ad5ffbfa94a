// SPDX-License-Identifier: GPL-2.0-or-later
#include "decode/MessageFormat.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

namespace decode {
namespace {

enum class Length : std::uint8_t { Char, Short, Int, LongLong };

// One conversion as read from the format: its text (for marks) and its parts.
struct Conversion {
    std::string_view text;   // from '%' to the conversion character, inclusive
    std::string flags;
    int width = -1;
    int precision = -1;
    Length length = Length::Int;
    char type = 0;           // 0: the format ended inside the conversion
    bool missing = false;    // a * had no argument left
};

// Hands out the arguments in order and says when there are none left.
class ArgumentCursor {
public:
    explicit ArgumentCursor(std::span<const std::uint32_t> args) : m_args(args) {}
    bool Has(std::size_t n) const { return m_args.size() - m_next >= n; }
    std::uint32_t Next() { return m_args[m_next++]; }

private:
    std::span<const std::uint32_t> m_args;
    std::size_t m_next = 0;
};

bool IsFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }

// A width or precision: digits (capped), or * from the arguments; nullopt
// when there is none (or the * has no argument: conv.missing is then set).
std::optional<int> ReadField(std::string_view format, std::size_t& at, ArgumentCursor& args, Conversion& conv)
{
    if (at < format.size() && format[at] == '*') {
        ++at;
        if (!args.Has(1)) {
            conv.missing = true;
            return std::nullopt;
        }
        return std::clamp(static_cast<int>(args.Next()), -kMaxFieldWidth, kMaxFieldWidth);
    }
    std::optional<int> value;
    while (at < format.size() && format[at] >= '0' && format[at] <= '9') {
        value = std::min(value.value_or(0) * 10 + (format[at] - '0'), kMaxFieldWidth);
        ++at;
    }
    return value;
}

Length ReadLength(std::string_view format, std::size_t& at)
{
    const auto next = [&](char c) { return at < format.size() && format[at] == c; };
    if (next('h')) {
        ++at;
        if (next('h')) {
            ++at;
            return Length::Char;
        }
        return Length::Short;
    }
    if (next('l')) {
        ++at;
        if (next('l')) {
            ++at;
            return Length::LongLong;
        }
        return Length::Int;
    }
    if (next('z'))
        ++at;
    return Length::Int;
}

// Reads the conversion that starts at format[at] == '%'; at ends past it.
Conversion ReadConversion(std::string_view format, std::size_t& at, ArgumentCursor& args)
{
    Conversion conv;
    const std::size_t start = at++;
    while (at < format.size() && IsFlag(format[at]))
        conv.flags += format[at++];
    if (const std::optional<int> width = ReadField(format, at, args, conv)) {
        if (*width < 0)
            conv.flags += '-';   // a negative * width means left-justified
        conv.width = *width < 0 ? -*width : *width;
    }
    if (at < format.size() && format[at] == '.') {
        ++at;
        // A negative * precision counts as none; "%.d" as zero.
        const std::optional<int> precision = ReadField(format, at, args, conv);
        conv.precision = precision ? (*precision < 0 ? -1 : *precision) : 0;
    }
    conv.length = ReadLength(format, at);
    if (at < format.size())
        conv.type = format[at++];
    conv.text = format.substr(start, at - start);
    return conv;
}

void AppendMark(std::string& out, const char* what, std::string_view text)
{
    out += '[';
    out += what;
    out += ' ';
    for (const char c : text)
        out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
    out += ']';
}

// The printf directive for one conversion, rebuilt from its checked parts.
std::string Directive(const Conversion& conv, const char* length, char type)
{
    std::string directive = "%" + conv.flags;
    if (conv.width >= 0)
        directive += std::to_string(conv.width);
    if (conv.precision >= 0)
        directive += "." + std::to_string(conv.precision);
    directive += length;
    directive += type;
    return directive;
}

template <typename T>
void AppendPrintf(std::string& out, const std::string& directive, T value)
{
    // Width and precision are capped, so a 64-bit number in the widest field fits.
    std::array<char, 2 * kMaxFieldWidth + 32> buffer{};
    const int n = std::snprintf(buffer.data(), buffer.size(), directive.c_str(), value);
    if (n > 0)
        out.append(buffer.data(), std::min<std::size_t>(static_cast<std::size_t>(n), buffer.size() - 1));
}

// The flags printf defines for the conversion: # only for x X o, + and
// space only for the signed ones (others are left out, not passed on).
std::string FlagsFor(const std::string& flags, char type)
{
    const bool isSigned = type == 'd' || type == 'i';
    const bool alternate = type == 'x' || type == 'X' || type == 'o';
    std::string kept;
    for (const char f : flags)
        if ((f != '#' || alternate) && ((f != '+' && f != ' ') || isSigned) && kept.find(f) == std::string::npos)
            kept += f;
    return kept;
}

void AppendInteger(std::string& out, Conversion conv, ArgumentCursor& args)
{
    const bool isSigned = conv.type == 'd' || conv.type == 'i';
    conv.flags = FlagsFor(conv.flags, conv.type);
    if (conv.length == Length::LongLong) {
        const std::uint64_t low = args.Next();
        const std::uint64_t value = low | static_cast<std::uint64_t>(args.Next()) << 32;
        if (isSigned)
            AppendPrintf(out, Directive(conv, "ll", conv.type), static_cast<long long>(value));
        else
            AppendPrintf(out, Directive(conv, "ll", conv.type), static_cast<unsigned long long>(value));
        return;
    }
    std::uint32_t value = args.Next();
    if (conv.length == Length::Short)
        value = isSigned ? static_cast<std::uint32_t>(static_cast<std::int16_t>(value)) : value & 0xFFFF;
    else if (conv.length == Length::Char)
        value = isSigned ? static_cast<std::uint32_t>(static_cast<std::int8_t>(value)) : value & 0xFF;
    if (isSigned)
        AppendPrintf(out, Directive(conv, "", conv.type), static_cast<int>(static_cast<std::int32_t>(value)));
    else
        AppendPrintf(out, Directive(conv, "", conv.type), static_cast<unsigned>(value));
}

// An address (%p, and %s whose string stays in the modem): 0x and eight hex digits.
void AppendAddress(std::string& out, const Conversion& conv, std::uint32_t value)
{
    std::array<char, 12> hex{};
    std::snprintf(hex.data(), hex.size(), "0x%08x", static_cast<unsigned>(value));
    Conversion asText = conv;
    asText.precision = -1;
    asText.flags = conv.flags.find('-') != std::string::npos ? "-" : "";
    AppendPrintf(out, Directive(asText, "", 's'), hex.data());
}

void AppendConversion(std::string& out, const Conversion& conv, ArgumentCursor& args)
{
    switch (conv.type) {
    case 'd': case 'i': case 'u': case 'x': case 'X': case 'o':
        if (conv.missing || !args.Has(conv.length == Length::LongLong ? 2 : 1))
            return AppendMark(out, "missing", conv.text);
        return AppendInteger(out, conv, args);
    case 'c': {
        if (conv.missing || !args.Has(1))
            return AppendMark(out, "missing", conv.text);
        const auto c = static_cast<unsigned char>(args.Next());
        Conversion asChar = conv;
        asChar.precision = -1;
        asChar.flags = conv.flags.find('-') != std::string::npos ? "-" : "";
        return AppendPrintf(out, Directive(asChar, "", 'c'), c < 0x20 || c >= 0x7F ? ' ' : static_cast<int>(c));
    }
    case 'p': case 's':
        if (conv.missing || !args.Has(1))
            return AppendMark(out, "missing", conv.text);
        return AppendAddress(out, conv, args.Next());
    default:
        return AppendMark(out, "unknown", conv.text);
    }
}

}  // namespace

void AppendFormattedMessage(std::string& out, std::string_view format, std::span<const std::uint32_t> args)
{
    ArgumentCursor cursor(args);
    std::size_t at = 0;
    while (at < format.size()) {
        const std::size_t percent = format.find('%', at);
        const std::size_t plainEnd = percent == std::string_view::npos ? format.size() : percent;
        for (; at < plainEnd; ++at) {
            const auto c = static_cast<unsigned char>(format[at]);
            out += c < 0x20 || c == 0x7F ? ' ' : format[at];
        }
        if (at >= format.size())
            break;
        if (at + 1 < format.size() && format[at + 1] == '%') {
            out += '%';
            at += 2;
            continue;
        }
        AppendConversion(out, ReadConversion(format, at, cursor), cursor);
    }
}

std::string FormatMessage(std::string_view format, std::span<const std::uint32_t> args)
{
    std::string out;
    out.reserve(format.size() + 8 * args.size());
    AppendFormattedMessage(out, format, args);
    return out;
}

}  // namespace decode
