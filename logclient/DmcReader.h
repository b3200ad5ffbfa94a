// SPDX-License-Identifier: GPL-2.0-or-later
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
#include <string_view>
#include <cstddef>
#include <cstdint>

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

// The same four lists as the logging tool keeps them for its logging window:
// real files hold their full lists there, the MessagesView ones are often empty.
extern const DmcPath g_pathLoggingEventIDs;
extern const DmcPath g_pathLoggingLogCodes;
extern const DmcPath g_pathLoggingOTATypes;
extern const DmcPath g_pathLoggingMessageLevels;

// Which ISVConfig block the four lists are read from. MessagesView is the
// designed one; LoggingView is the user's choice for files saved that way.
enum class DmcListView { MessagesView, LoggingView };

struct DmcListPaths {
    const DmcPath* eventIDs;
    const DmcPath* logCodes;
    const DmcPath* otaTypes;
    const DmcPath* messageLevels;
};
const DmcListPaths& DmcPathsFor(DmcListView view);
const char* DmcViewName(DmcListView view);

class CDmcReader;

// How many entries each list of one view holds (0 for a list that is missing
// or empty). Entries are the comma-separated items that are not blank.
struct DmcListCounts {
    std::size_t eventIDs = 0;
    std::size_t logCodes = 0;
    std::size_t otaTypes = 0;
    std::size_t messageLevels = 0;
    std::size_t Total() const { return eventIDs + logCodes + otaTypes + messageLevels; }
};

// What a loaded file offers under the chosen view and under the other one.
struct DmcListSummary {
    DmcListView chosen = DmcListView::MessagesView;
    DmcListCounts used;    // under the chosen view: what the sequence sends
    DmcListCounts other;   // under the other view: only told about
};

std::size_t CountListEntries(std::string_view text);
DmcListSummary SummarizeLists(const CDmcReader& reader, const DmcDocument& doc, DmcListView chosen);
// One line for the user: where the lists came from and their sizes; when the
// chosen view has nothing and the other one has, says so and names the
// window's entry that switches ("Read Lists From LoggingView").
std::string DescribeLists(const DmcListSummary& summary);

// Real configuration files are well under 1 MiB; a larger file is refused
// with its size rather than held in memory and parsed.
inline constexpr std::uint64_t kMaxDmcFileSize = std::uint64_t{16} << 20;

class CDmcReader {
public:
    using MessageSink = std::function<void(const char* text)>;

    // 1 when the file was loaded and has a root element; doc is replaced only then.
    // A missing, unreadable or not well-formed file, one that is not a regular
    // file (a FIFO, a device, a directory: refused without waiting on it) or
    // one over kMaxDmcFileSize gives 0 and, when error is given, "<path>:
    // <what is wrong, in a user's words>".
    int LoadDocument(const std::string& path, DmcDocument& doc, std::string* error = nullptr) const;

    // 1 when a text was found on path (text is replaced by it), 0 otherwise
    // (text unchanged). A document without a root element is reported through
    // onMessage with kDmcEmptyDocumentMessage, and gives 0.
    int GetListText(const DmcDocument& doc, const DmcPath& path, std::string& text,
                    const MessageSink& onMessage = {}) const;
};
