#pragma once
// General XML reading over the platform's DOM and XPath (libxml2 on Linux, MSXML through COM
// on Windows), and the locale preference file (locale.xml) read with it.
//
// Documents, nodes and node lists are reference-counted handles; an empty handle is the
// failure value. A node or list handle keeps its document alive. Every failure is silent.
// On Windows the calling thread must have initialised COM; without it every load fails.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/xml_dom.h"

using TXMLDocument = platform::XmlDocumentRef;
using TXMLNode = platform::XmlNodeRef;
using TXMLNodeList = std::shared_ptr<const std::vector<TXMLNode>>;

// Files larger than this are not read: they count as unreadable.
constexpr std::size_t MaxXmlFileSize = 1024 * 1024;

// Loads and parses FileName (UTF-8). The encoding comes from the XML declaration (or a
// byte-order mark). No network access, no DTD loading, and documents that declare entities are
// refused; on Windows, where the parser is told to refuse document type declarations, every
// document with one is. Document is empty when the file is missing, is not a regular file, is
// over MaxXmlFileSize or does not parse.
void LoadXMLDocument(const std::string& FileName, TXMLDocument& Document);

// The document node of Document (the node XPath "/" names); empty for an empty document.
TXMLNode DocumentNode(const TXMLDocument& Document);

// The XPath selection of XPath from Node; empty when Node is empty, the expression is invalid
// or does not select a node set.
void SelectNodes(const TXMLNode& Node, const std::string& XPath, TXMLNodeList& List);

// The first node of SelectNodes; empty when there is none.
void SelectFirstNode(const TXMLNode& Node, const std::string& XPath, TXMLNode& Result);

// The values of Node's direct text and CDATA-section children, joined in document order.
// Empty when Node is empty.
void GetNodeText(const TXMLNode& Node, std::string& Text);

// Cuts a locale code such as ab-CD by position: language = characters 1 and 2 (when the code
// has at least 2), country = characters 4 and 5 (when it has at least 5). Characters are
// Unicode code points of the UTF-8 text. Both outputs are always assigned.
void SplitLocaleCode(const std::string& Code, std::string& Lang, std::string& Country);

// Reads the locale code of the first /localization/locale element of FileName into Lang and
// Country. False, leaving both untouched, when the file is missing or unreadable, does not
// parse or holds no such element.
bool ReadLocaleFile(const std::string& FileName, std::string& Lang, std::string& Country);
