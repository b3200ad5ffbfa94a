#pragma once
// Reads the four lists of a ".dmc" logging configuration (an XML file).
//
// A list is the first text met on a walk from the root element along five
// element names, each matched as a prefix (an element named QXDMProfessional
// matches "QXDM"); an element that does not match is skipped with its whole
// subtree. Whitespace-only text between elements is dropped at load time, or
// the indentation would be taken for the list.
#include <array>
#include <functional>
#include <memory>
#include <string>

namespace pugi { class xml_document; }

using DmcDocument = std::shared_ptr<const pugi::xml_document>;

// Element names from the root element down to the list element.
using DmcPath = std::array<const char*, 5>;

extern const DmcPath g_pathEventIDs;
extern const DmcPath g_pathLogCodes;
extern const DmcPath g_pathOTATypes;
extern const DmcPath g_pathMessageLevels;

// Told to the caller when GetListText is handed a document without a root
// element; the window shows it in a message box.
inline constexpr const char* kDmcEmptyDocumentMessage = "Empty document!Error Loading XML";

class CDmcReader {
public:
    using MessageSink = std::function<void(const char* text)>;

    // 1 when the file was loaded and has a root element; doc is replaced only then.
    // A missing, unreadable or not well-formed file gives 0 and, when error is
    // given, the reason.
    int LoadDocument(const std::string& path, DmcDocument& doc, std::string* error = nullptr) const;

    // 1 when a text was found on path (text is replaced by it), 0 otherwise
    // (text unchanged). A document without a root element is reported through
    // onMessage with kDmcEmptyDocumentMessage, and gives 0.
    int GetListText(const DmcDocument& doc, const DmcPath& path, std::string& text,
                    const MessageSink& onMessage = {}) const;
};
