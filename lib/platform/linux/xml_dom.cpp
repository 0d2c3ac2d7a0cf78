// The libxml2 DOM and XPath behind mod_XMLDoc.
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

} // namespace

namespace platform {

void ParseXMLDocument(const std::string& content, const std::string& FileName,
                      TXMLDocument& Document) {
    Document.reset();
    EnsureLibXml();
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt)
        return;
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
        return;
    }
    Document = TXMLDocument(doc, xmlFreeDoc);
}

} // namespace platform

TXMLNode DocumentNode(const TXMLDocument& Document) {
    if (!Document)
        return {};
    // The document is a node of type document; libxml2 lays both out alike for that use.
    return TXMLNode(Document, reinterpret_cast<xmlNodePtr>(Document.get()));
}

void SelectNodes(const TXMLNode& Node, const std::string& XPath, TXMLNodeList& List) {
    List.reset();
    if (!Node || !Node->doc)
        return;
    EnsureLibXml();

    xmlXPathContextPtr context = xmlXPathNewContext(Node->doc);
    if (!context)
        return;
    context->error = IgnoreError;
    xmlXPathObjectPtr result =
        xmlXPathNodeEval(Node.get(), reinterpret_cast<const xmlChar*>(XPath.c_str()), context);
    if (result && result->type == XPATH_NODESET) {
        auto nodes = std::make_shared<std::vector<TXMLNode>>();
        if (xmlNodeSetPtr set = result->nodesetval) {
            nodes->reserve(static_cast<std::size_t>(set->nodeNr));
            for (int i = 0; i < set->nodeNr; ++i) {
                xmlNodePtr n = set->nodeTab[i];
                // Namespace nodes are copies that die with the result; they are left out.
                if (n && n->type != XML_NAMESPACE_DECL)
                    nodes->push_back(TXMLNode(Node, n));
            }
        }
        List = std::move(nodes);
    }
    if (result)
        xmlXPathFreeObject(result);
    xmlXPathFreeContext(context);
}

void GetNodeText(const TXMLNode& Node, std::string& Text) {
    Text.clear();
    if (!Node)
        return;
    for (xmlNodePtr child = Node->children; child; child = child->next) {
        const int type = static_cast<int>(child->type);
        if ((type == XML_DOM_TEXT_NODE || type == XML_DOM_CDATA_SECTION_NODE) && child->content)
            Text += reinterpret_cast<const char*>(child->content);
    }
}

void GetNodeName(const TXMLNode& Node, std::string& Name) {
    Name.clear();
    if (!Node || !Node->name)
        return;
    // Elements and attributes keep their prefix in their namespace; libxml2 lays both out alike
    // up to that field.
    if ((Node->type == XML_ELEMENT_NODE || Node->type == XML_ATTRIBUTE_NODE) && Node->ns &&
        Node->ns->prefix) {
        Name = reinterpret_cast<const char*>(Node->ns->prefix);
        Name += ':';
    }
    Name += reinterpret_cast<const char*>(Node->name);
}
