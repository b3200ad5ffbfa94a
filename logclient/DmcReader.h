#pragma once
// Reads the four lists of a ".dmc" logging configuration (an XML file).
#include <memory>
#include <string>

namespace pugi { class xml_document; }

using DmcDocument = std::shared_ptr<const pugi::xml_document>;

class CDmcReader {
public:
    // 1 when the file was loaded and has a root element; doc is replaced only then.
    int LoadDocument(const std::string& path, DmcDocument& doc);
};
