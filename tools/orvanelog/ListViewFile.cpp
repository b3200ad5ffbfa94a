#include "tools/orvanelog/ListViewFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

std::string XmlText(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

// The window's entry that switches views is an option here.
std::string ForTheCommandLine(std::string line)
{
    static const std::string kEntry = "see Read Lists From LoggingView";
    if (const std::size_t at = line.find(kEntry); at != std::string::npos)
        line.replace(at, kEntry.size(), "see --view logging");
    return line;
}

}  // namespace

CListViewFile::~CListViewFile()
{
    if (!m_copy.empty())
        ::unlink(m_copy.c_str());
}

std::optional<std::string> CListViewFile::Prepare(const std::string& path, std::string* error, std::string* lists)
{
    CDmcReader reader;
    DmcDocument doc;
    if (!reader.LoadDocument(path, doc, error))
        return std::nullopt;
    if (lists)
        *lists = ForTheCommandLine(DescribeLists(SummarizeLists(reader, doc, m_view)));
    if (m_view == DmcListView::MessagesView)
        return path;

    const DmcListPaths& from = DmcPathsFor(DmcListView::LoggingView);
    const DmcListPaths& to = DmcPathsFor(DmcListView::MessagesView);
    std::string xml = "<" + std::string((*to.eventIDs)[0]) + "><" + (*to.eventIDs)[1] + "><" + (*to.eventIDs)[2]
                      + "><" + (*to.eventIDs)[3] + ">\n";
    for (const auto& [source, target] : {std::pair{from.eventIDs, to.eventIDs}, std::pair{from.logCodes, to.logCodes},
                                         std::pair{from.otaTypes, to.otaTypes},
                                         std::pair{from.messageLevels, to.messageLevels}}) {
        std::string text;
        if (reader.GetListText(doc, *source, text))
            xml += std::string("<") + (*target)[4] + ">" + XmlText(text) + "</" + (*target)[4] + ">\n";
    }
    xml += "</" + std::string((*to.eventIDs)[3]) + "></" + (*to.eventIDs)[2] + "></" + (*to.eventIDs)[1] + "></"
           + (*to.eventIDs)[0] + ">\n";

    if (m_copy.empty()) {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/orvane-log-lists.XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            if (error)
                *error = std::string("mkstemp: ") + std::strerror(errno);
            return std::nullopt;
        }
        ::close(fd);
        m_copy = pattern;
    }
    std::ofstream out(m_copy, std::ios::binary | std::ios::trunc);
    out << xml;
    out.close();
    if (!out) {
        if (error)
            *error = "cannot write " + m_copy;
        return std::nullopt;
    }
    return m_copy;
}
