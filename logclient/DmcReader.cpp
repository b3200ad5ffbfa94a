#include "logclient/DmcReader.h"

#include <pugixml.hpp>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

const DmcPath g_pathEventIDs{"QXDM", "Persistence", "MessagesView", "ISVConfig", "EventIDs"};
const DmcPath g_pathLogCodes{"QXDM", "Persistence", "MessagesView", "ISVConfig", "LogCodes"};
const DmcPath g_pathOTATypes{"QXDM", "Persistence", "MessagesView", "ISVConfig", "OTATypes"};
const DmcPath g_pathMessageLevels{"QXDM", "Persistence", "MessagesView", "ISVConfig", "MessageLevels"};

namespace {

// Comments and CDATA stay nodes of their own kind so that neither is taken for
// a list; whitespace-only text is not kept (no parse_ws_pcdata). pugixml only
// expands the predefined and numeric character references, never an entity
// declared by the document. Fragment mode keeps text beside the root element,
// so that such a file can be refused below.
constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_comments | pugi::parse_pi | pugi::parse_fragment;

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

bool IsReference(std::string_view s)
{
    // s starts just after '&' and ends with ';'
    if (s == "lt;" || s == "gt;" || s == "amp;" || s == "apos;" || s == "quot;")
        return true;
    if (s.size() < 3 || s[0] != '#')
        return false;
    const bool hex = s[1] == 'x';
    const std::string_view digits = s.substr(hex ? 2 : 1, s.size() - (hex ? 3 : 2));
    if (digits.empty())
        return false;
    for (char c : digits)
        if (!(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c))))
            return false;
    return true;
}

// pugixml leaves an undeclared entity reference as plain text; a well-formed
// file has none. Checked on the unexpanded text.
bool ReferencesWellFormed(std::string_view text)
{
    for (std::size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', at + 1)) {
        const std::size_t end = text.find(';', at);
        if (end == std::string_view::npos || !IsReference(text.substr(at + 1, end - at)))
            return false;
    }
    return true;
}

bool ReferencesWellFormed(pugi::xml_node node)
{
    for (pugi::xml_attribute a : node.attributes())
        if (!ReferencesWellFormed(a.value()))
            return false;
    if (node.type() == pugi::node_pcdata && !ReferencesWellFormed(node.value()))
        return false;
    for (pugi::xml_node child : node.children())
        if (!ReferencesWellFormed(child))
            return false;
    return true;
}

bool NameMatches(const char* name, const char* wanted)
{
    const std::size_t length = std::strlen(wanted);
    return std::strncmp(name, wanted, length) == 0 && std::strlen(name) >= length;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = "open: " + std::string(std::strerror(errno));
        return std::nullopt;
    }
    std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        if (error)
            *error = "read failed";
        return std::nullopt;
    }
    return content;
}

}   // namespace

int CDmcReader::LoadDocument(const std::string& path, DmcDocument& doc, std::string* error) const
{
    const std::optional<std::string> content = ReadWholeFile(path, error);
    if (!content)
        return 0;
    auto fail = [&](std::string reason) {
        if (error)
            *error = std::move(reason);
        return 0;
    };

    pugi::xml_document raw;
    const pugi::xml_parse_result checked =
        raw.load_buffer(content->data(), content->size(), kParseFlags & ~pugi::parse_escapes);
    if (!checked)
        return fail(std::string(checked.description()) + " at offset " + std::to_string(checked.offset));
    if (!HasSingleRoot(raw))
        return fail("not a single root element");
    if (!ReferencesWellFormed(raw))
        return fail("undeclared entity reference");

    auto loaded = std::make_shared<pugi::xml_document>();
    const pugi::xml_parse_result result = loaded->load_buffer(content->data(), content->size(), kParseFlags);
    if (!result || !loaded->document_element())
        return fail(result ? "no root element" : result.description());
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
            text = node.value();
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
