// SPDX-License-Identifier: GPL-2.0-or-later
#include "logclient/DmcReader.h"

#include "sys/RegularFile.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

const DmcPath g_pathEventIDs{"QXDM", "Persistence", "MessagesView", "ISVConfig", "EventIDs"};
const DmcPath g_pathLogCodes{"QXDM", "Persistence", "MessagesView", "ISVConfig", "LogCodes"};
const DmcPath g_pathOTATypes{"QXDM", "Persistence", "MessagesView", "ISVConfig", "OTATypes"};
const DmcPath g_pathMessageLevels{"QXDM", "Persistence", "MessagesView", "ISVConfig", "MessageLevels"};

const DmcPath g_pathLoggingEventIDs{"QXDM", "Persistence", "LoggingView", "ISVConfig", "EventIDs"};
const DmcPath g_pathLoggingLogCodes{"QXDM", "Persistence", "LoggingView", "ISVConfig", "LogCodes"};
const DmcPath g_pathLoggingOTATypes{"QXDM", "Persistence", "LoggingView", "ISVConfig", "OTATypes"};
const DmcPath g_pathLoggingMessageLevels{"QXDM", "Persistence", "LoggingView", "ISVConfig", "MessageLevels"};

const DmcListPaths& DmcPathsFor(DmcListView view)
{
    static const DmcListPaths kMessages{&g_pathEventIDs, &g_pathLogCodes, &g_pathOTATypes, &g_pathMessageLevels};
    static const DmcListPaths kLogging{&g_pathLoggingEventIDs, &g_pathLoggingLogCodes, &g_pathLoggingOTATypes,
                                       &g_pathLoggingMessageLevels};
    return view == DmcListView::LoggingView ? kLogging : kMessages;
}

const char* DmcViewName(DmcListView view)
{
    return view == DmcListView::LoggingView ? "LoggingView" : "MessagesView";
}

std::size_t CountListEntries(std::string_view text)
{
    std::size_t count = 0;
    bool blank = true;
    for (const char c : text) {
        if (c == ',') {
            count += blank ? 0 : 1;
            blank = true;
        } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            blank = false;
        }
    }
    return count + (blank ? 0 : 1);
}

namespace {

DmcListCounts CountLists(const CDmcReader& reader, const DmcDocument& doc, DmcListView view)
{
    const DmcListPaths& paths = DmcPathsFor(view);
    const auto count = [&](const DmcPath& path) {
        std::string text;
        return reader.GetListText(doc, path, text) ? CountListEntries(text) : std::size_t{0};
    };
    return {count(*paths.eventIDs), count(*paths.logCodes), count(*paths.otaTypes), count(*paths.messageLevels)};
}

}   // namespace

DmcListSummary SummarizeLists(const CDmcReader& reader, const DmcDocument& doc, DmcListView chosen)
{
    const DmcListView other = chosen == DmcListView::LoggingView ? DmcListView::MessagesView : DmcListView::LoggingView;
    return {chosen, CountLists(reader, doc, chosen), CountLists(reader, doc, other)};
}

std::string DescribeLists(const DmcListSummary& summary)
{
    const DmcListView other =
        summary.chosen == DmcListView::LoggingView ? DmcListView::MessagesView : DmcListView::LoggingView;
    const DmcListCounts& c = summary.used;
    if (c.Total() == 0 && summary.other.Total() > 0)
        return std::string("No logging lists under ") + DmcViewName(summary.chosen) + "; this file has "
               + std::to_string(summary.other.eventIDs) + " event ids and " + std::to_string(summary.other.logCodes)
               + " log codes under " + DmcViewName(other) + ": see Read Lists From LoggingView";
    std::string line = std::string("Lists from ") + DmcViewName(summary.chosen) + ": " + std::to_string(c.eventIDs)
                       + " event ids, " + std::to_string(c.logCodes) + " log codes, " + std::to_string(c.otaTypes)
                       + " OTA types, " + std::to_string(c.messageLevels) + " message levels";
    // A real file may keep a token list here and its full lists in the other view.
    if (summary.other.Total() > c.Total())
        line += std::string("; ") + DmcViewName(other) + " has " + std::to_string(summary.other.eventIDs)
                + " event ids and " + std::to_string(summary.other.logCodes)
                + " log codes: see Read Lists From LoggingView";
    return line;
}

namespace {

// Comments and CDATA stay nodes of their own kind so that neither is taken for
// a list; whitespace-only text is not kept (no parse_ws_pcdata). Fragment mode
// keeps text beside the root element, so that such a file can be refused.
// References are left in the text (no parse_escapes): pugixml would leave an
// undeclared entity as plain text, and a well-formed file has none, so they
// are checked after the parse and decoded when a list is looked up. No entity
// declared by the document is ever expanded.
constexpr unsigned kParseFlags =
    (pugi::parse_default & ~pugi::parse_escapes) | pugi::parse_comments | pugi::parse_pi | pugi::parse_fragment;

// pugixml accepts a few things a strict parser refuses: text beside the root
// element and more than one root element. A configuration file has one root.
bool HasSingleRoot(const pugi::xml_document& doc)
{
    int elements = 0;
    for (pugi::xml_node child : doc.children()) {
        switch (child.type()) {
        case pugi::node_element:
            ++elements;
            break;
        case pugi::node_pcdata:
        case pugi::node_cdata:
            return false;
        default:
            break;
        }
    }
    return elements == 1;
}

// The character a reference stands for; s runs from just after '&' to ';'
// inclusive. nullopt for an entity this file never declared (none can be).
std::optional<std::uint32_t> ReferenceValue(std::string_view s)
{
    struct Named {
        std::string_view name;
        char value;
    };
    static constexpr Named kNamed[] = {{"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"apos;", '\''}, {"quot;", '"'}};
    for (const Named& n : kNamed)
        if (s == n.name)
            return static_cast<std::uint32_t>(n.value);
    if (s.size() < 3 || s[0] != '#')
        return std::nullopt;
    const bool hex = s[1] == 'x';
    const std::string_view digits = s.substr(hex ? 2 : 1, s.size() - (hex ? 3 : 2));
    if (digits.empty() || digits.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
    }
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return std::nullopt;
    return value;
}

// Calls put(character) for every reference of text and put_text(run) for the
// text between them; false at the first reference that is not well-formed.
template <class PutText, class PutChar>
bool WalkReferences(std::string_view text, PutText putText, PutChar putChar)
{
    std::size_t from = 0;
    for (std::size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', from)) {
        const std::size_t end = text.find(';', at);
        if (end == std::string_view::npos)
            return false;
        const std::optional<std::uint32_t> value = ReferenceValue(text.substr(at + 1, end - at));
        if (!value)
            return false;
        putText(text.substr(from, at - from));
        putChar(*value);
        from = end + 1;
    }
    putText(text.substr(from));
    return true;
}

bool ReferencesWellFormed(std::string_view text)
{
    return WalkReferences(text, [](std::string_view) {}, [](std::uint32_t) {});
}

void AppendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string DecodeReferences(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    WalkReferences(text, [&](std::string_view run) { out += run; }, [&](std::uint32_t c) { AppendUtf8(out, c); });
    return out;
}

// Every text and attribute of the document, walked without recursion: a file
// may nest elements far deeper than the stack goes.
bool ReferencesWellFormed(const pugi::xml_document& doc)
{
    pugi::xml_node node = doc.first_child();
    while (node) {
        if (node.type() == pugi::node_pcdata && !ReferencesWellFormed(node.value()))
            return false;
        for (pugi::xml_attribute a : node.attributes())
            if (!ReferencesWellFormed(a.value()))
                return false;
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && !node.next_sibling())
            node = node.parent();
        if (node)
            node = node.next_sibling();
    }
    return true;
}

bool NameMatches(const char* name, const char* wanted)
{
    const std::size_t length = std::strlen(wanted);
    return std::strncmp(name, wanted, length) == 0 && std::strlen(name) >= length;
}

}   // namespace

namespace {

// The line (from 1) of offset in text, for a parse error a user can find.
std::size_t LineAt(const std::vector<std::uint8_t>& text, std::ptrdiff_t offset)
{
    const auto end = text.begin() + std::clamp<std::ptrdiff_t>(offset, 0, static_cast<std::ptrdiff_t>(text.size()));
    return 1 + static_cast<std::size_t>(std::count(text.begin(), end, std::uint8_t{'\n'}));
}

// The file's bytes, read through a descriptor that never waits (a FIFO or a
// device is refused before anything is read); false and why in words.
bool ReadConfigurationFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& why)
{
    sysio::RegularFile file = sysio::OpenRegularFile(path);
    if (!file.fd.Valid()) {
        why = file.errnoValue == ENOENT ? "not found (" + file.error + ")" : file.error;
        return false;
    }
    if (file.size > kMaxDmcFileSize) {
        why = std::to_string(file.size) + " bytes, more than a configuration file holds (at most "
              + std::to_string(kMaxDmcFileSize >> 20) + " MiB)";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(file.size));
    const long long got = sysio::ReadUpTo(file.fd.Get(), bytes.data(), bytes.size());
    if (got < 0) {
        why = sysio::ErrnoText("read", errno);
        return false;
    }
    bytes.resize(static_cast<std::size_t>(got));
    return true;
}

}   // namespace

int CDmcReader::LoadDocument(const std::string& path, DmcDocument& doc, std::string* error) const
{
    auto fail = [&](const std::string& reason) {
        if (error)
            *error = path + ": " + reason;
        return 0;
    };
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!ReadConfigurationFile(path, bytes, why))
        return fail(why);
    auto loaded = std::make_shared<pugi::xml_document>();
    const pugi::xml_parse_result result = loaded->load_buffer(bytes.data(), bytes.size(), kParseFlags);
    if (!result)
        return fail("not XML at line " + std::to_string(LineAt(bytes, result.offset)) + " ("
                    + result.description() + ")");
    if (!HasSingleRoot(*loaded) || !loaded->document_element())
        return fail("not XML with a single root element");
    if (!ReferencesWellFormed(*loaded))
        return fail("not XML: undeclared entity reference");
    doc = std::move(loaded);
    return 1;
}

int CDmcReader::GetListText(const DmcDocument& doc, const DmcPath& path, std::string& text,
                            const MessageSink& onMessage) const
{
    pugi::xml_node node = doc ? doc->document_element() : pugi::xml_node();
    if (!node) {
        if (onMessage)
            onMessage(kDmcEmptyDocumentMessage);
        return 0;
    }

    std::size_t depth = 0;
    while (node && depth <= path.size()) {
        if (node.type() == pugi::node_pcdata) {
            text = DecodeReferences(node.value());
            return 1;
        }
        // Inside the list element there is no further name to compare: anything
        // but text (a comment, a nested element) is passed over.
        if (depth < path.size() && node.type() == pugi::node_element && NameMatches(node.name(), path[depth])) {
            node = node.first_child();
            ++depth;
        } else {
            node = node.next_sibling();
        }
    }
    return 0;
}
