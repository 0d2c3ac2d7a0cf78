#pragma once
// The platform's XML DOM and XPath (libxml2 on Linux, MSXML through COM on Windows), behind
// opaque handles, so that the code reading XML files sees neither library.
//
// A node handle keeps its document alive. Every failure is silent: an empty handle, a false.
// On Windows the calling thread must have initialised COM; without it every parse fails.

#include <memory>
#include <string>
#include <vector>

namespace platform {

// A parsed document and a node of one; only the platform's xml_dom.cpp sees inside.
struct XmlDocument;
struct XmlNode;
using XmlDocumentRef = std::shared_ptr<XmlDocument>;
using XmlNodeRef = std::shared_ptr<XmlNode>;

// Parses `content`, the whole file `fileName` (UTF-8, for messages and base addresses only).
// No network access, no DTD loading; documents that declare entities are refused, and on
// Windows every document with a document type declaration. Empty when the bytes do not parse
// or are refused.
XmlDocumentRef ParseXMLDocument(const std::string& content, const std::string& fileName);

// The document node (the node XPath "/" names); empty for an empty document.
XmlNodeRef XmlDocumentNode(const XmlDocumentRef& document);

// The nodes `xpath` selects from `node`, in document order; false when the expression is
// invalid or does not select a node set.
bool XmlSelectNodes(const XmlNodeRef& node, const std::string& xpath,
                    std::vector<XmlNodeRef>& nodes);

// The values of the node's direct text and CDATA-section children, joined in document order.
std::string XmlNodeText(const XmlNodeRef& node);

} // namespace platform
