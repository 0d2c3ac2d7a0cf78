#pragma once
// The parser behind mod_XMLDoc: turns the bytes of an XML file into a document of the
// platform's DOM. The DOM functions of mod_XMLDoc.h (DocumentNode, SelectNodes, GetNodeText,
// GetNodeName) live beside it in the platform's xml_dom.cpp.

#include "mod_XMLDoc.h"

#include <string>

namespace platform {

// Parses `content`, the whole file `fileName` (UTF-8, for messages and base addresses only).
// Document is empty when the bytes do not parse or declare what LoadXMLDocument refuses.
void ParseXMLDocument(const std::string& content, const std::string& fileName,
                      TXMLDocument& Document);

} // namespace platform
