#pragma once
// The .dmc file the Log client session reads, for the list view the user
// chose. The session reads the designed view (MessagesView); for LoggingView
// it is handed a private copy that holds the file's LoggingView lists where
// the session looks, so the same session sends them.
#include "logclient/DmcReader.h"

#include <optional>
#include <string>

class CListViewFile {
public:
    explicit CListViewFile(DmcListView view) : m_view(view) {}
    ~CListViewFile();
    CListViewFile(const CListViewFile&) = delete;
    CListViewFile& operator=(const CListViewFile&) = delete;

    // Reads path. Returns the path to hand to the session (path itself, or the
    // copy, made again from path each time), or nothing and why. lists is set
    // to one line on what the file holds under each view.
    std::optional<std::string> Prepare(const std::string& path, std::string* error, std::string* lists);

private:
    DmcListView m_view;
    std::string m_copy;   // the private copy, removed with this object
};
