// The libxml2 DOM and XPath behind mod_XMLDoc. The opaque handles are libxml2's own documents
// and nodes under another name.
#include "platform/xml_dom.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

namespace {

void EnsureLibXml() {
    static const bool initialized = [] {
        xmlInitParser();
        return true;
    }();
    (void)initialized;
}

void IgnoreError(void*, xmlErrorPtr) {}

// Entity declarations are where entity expansion attacks and external entities begin; the
// documents read here have no use for them, so the parse stops at the first one.
struct TParseGuard {
    bool refused = false;
};

void RefuseEntityDecl(void* ctx, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    static_cast<TParseGuard*>(ctxt->_private)->refused = true;
    xmlStopParser(ctxt);
}

xmlNodePtr Unwrap(const platform::XmlNodeRef& node) {
    return reinterpret_cast<xmlNodePtr>(node.get());
}

// A handle on `node` that keeps `owner` (its document, or a node of it) alive.
template <class T> platform::XmlNodeRef Hold(const std::shared_ptr<T>& owner, xmlNodePtr node) {
    return platform::XmlNodeRef(owner, reinterpret_cast<platform::XmlNode*>(node));
}

void FreeDocument(platform::XmlDocument* document) {
    xmlFreeDoc(reinterpret_cast<xmlDocPtr>(document));
}

} // namespace

namespace platform {

XmlDocumentRef ParseXMLDocument(const std::string& content, const std::string& FileName) {
    EnsureLibXml();
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt)
        return {};
    TParseGuard guard;
    ctxt->_private = &guard;
    ctxt->sax->entityDecl = RefuseEntityDecl;
    ctxt->sax->serror = IgnoreError;

    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlDocPtr doc = xmlCtxtReadMemory(ctxt, content.data(), static_cast<int>(content.size()),
                                      FileName.c_str(), nullptr, options);
    const bool ok = doc && !guard.refused && ctxt->wellFormed;
    xmlFreeParserCtxt(ctxt);
    if (!ok) {
        if (doc)
            xmlFreeDoc(doc);
        return {};
    }
    return XmlDocumentRef(reinterpret_cast<XmlDocument*>(doc), FreeDocument);
}

XmlNodeRef XmlDocumentNode(const XmlDocumentRef& document) {
    if (!document)
        return {};
    // The document is a node of type document; libxml2 lays both out alike for that use.
    return Hold(document, reinterpret_cast<xmlNodePtr>(document.get()));
}

bool XmlSelectNodes(const XmlNodeRef& node, const std::string& xpath,
                    std::vector<XmlNodeRef>& nodes) {
    nodes.clear();
    const xmlNodePtr from = Unwrap(node);
    if (!from || !from->doc)
        return false;
    EnsureLibXml();

    xmlXPathContextPtr context = xmlXPathNewContext(from->doc);
    if (!context)
        return false;
    context->error = IgnoreError;
    xmlXPathObjectPtr result =
        xmlXPathNodeEval(from, reinterpret_cast<const xmlChar*>(xpath.c_str()), context);
    const bool selected = result && result->type == XPATH_NODESET;
    if (selected) {
        if (xmlNodeSetPtr set = result->nodesetval) {
            nodes.reserve(static_cast<std::size_t>(set->nodeNr));
            for (int i = 0; i < set->nodeNr; ++i) {
                xmlNodePtr n = set->nodeTab[i];
                // Namespace nodes are copies that die with the result; they are left out.
                if (n && n->type != XML_NAMESPACE_DECL)
                    nodes.push_back(Hold(node, n));
            }
        }
    }
    if (result)
        xmlXPathFreeObject(result);
    xmlXPathFreeContext(context);
    return selected;
}

std::string XmlNodeText(const XmlNodeRef& node) {
    std::string text;
    const xmlNodePtr n = Unwrap(node);
    if (!n)
        return text;
    for (xmlNodePtr child = n->children; child; child = child->next) {
        if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
            child->content)
            text += reinterpret_cast<const char*>(child->content);
    }
    return text;
}

} // namespace platform
