// The MSXML DOM behind mod_XMLDoc, through COM: a DOMDocument60 (or, where MSXML 6 is missing,
// a DOMDocument30) loaded from the file's bytes, XPath selection, child nodes, node types and
// values. COM must be initialised on the calling thread (on the main thread the program's entry
// does it, platform/program_com.h); where it is not, creating the document fails and so does
// every load. The opaque handles are MSXML's own document and node interfaces under another
// name.
#include "platform/xml_dom.h"

#include "platform/windows/com_ref.h"
#include "platform/windows/wide_text.h"

#include <msxml2.h>
#include <ole2.h>
#include <oleauto.h>
#include <windows.h>

#include <cstring>

namespace {

using platform::win::TBstr;
using platform::win::TComRef;
using platform::win::TVariant;

// The class ids of msxml6.h, which MinGW-w64 does not ship.
constexpr CLSID ClsidDOMDocument60 = {
    0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
constexpr CLSID ClsidDOMDocument30 = {
    0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
constexpr IID IidXMLDOMNode = {
    0x2933bf80, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
constexpr IID IidXMLDOMDocument2 = {
    0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// A node reference that also holds what it came from, so that its document stays alive for
// as long as any of its nodes does.
struct THeldNode {
    std::shared_ptr<const void> from;
    IXMLDOMNode* node;
    THeldNode(std::shared_ptr<const void> f, IXMLDOMNode* n) : from(std::move(f)), node(n) {}
    ~THeldNode() {
        if (node)
            node->Release();
    }
    THeldNode(const THeldNode&) = delete;
    THeldNode& operator=(const THeldNode&) = delete;
};

// Takes over the reference `node`, found from `from`.
platform::XmlNodeRef HoldNode(const std::shared_ptr<const void>& from, IXMLDOMNode* node) {
    auto held = std::make_shared<THeldNode>(from, node);
    return platform::XmlNodeRef(held, reinterpret_cast<platform::XmlNode*>(node));
}

IXMLDOMNode* Unwrap(const platform::XmlNodeRef& node) {
    return reinterpret_cast<IXMLDOMNode*>(node.get());
}

void ReleaseDocument(platform::XmlDocument* document) {
    if (document)
        reinterpret_cast<IXMLDOMDocument2*>(document)->Release();
}

void CreateDocument(TComRef<IXMLDOMDocument2>& document) {
    for (const CLSID& clsid : {ClsidDOMDocument60, ClsidDOMDocument30}) {
        const HRESULT hr =
            ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IidXMLDOMDocument2,
                               reinterpret_cast<void**>(document.Out()));
        if (SUCCEEDED(hr) && document)
            break;
        document.Reset();
        if (hr == CO_E_NOTINITIALIZED)
            break; // no other class would fare better
    }
}

// Sets a parser property; older parsers do not know every one, which is no failure.
void SetProperty(IXMLDOMDocument2* document, const wchar_t* name, VARIANT value) {
    TBstr n(name);
    if (n)
        document->setProperty(n.Get(), value);
}

VARIANT BoolVariant(bool value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

// A VARIANT holding a byte array with `content`; false when it cannot be made.
bool ByteArrayVariant(const std::string& content, TVariant& out) {
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(content.size()));
    if (!array)
        return false;
    void* data = nullptr;
    if (FAILED(::SafeArrayAccessData(array, &data))) {
        ::SafeArrayDestroy(array);
        return false;
    }
    if (!content.empty())
        std::memcpy(data, content.data(), content.size());
    ::SafeArrayUnaccessData(array);
    out.v.vt = VT_ARRAY | VT_UI1;
    out.v.parray = array;
    return true;
}

} // namespace

namespace platform {

XmlDocumentRef ParseXMLDocument(const std::string& content, const std::string&) {
    if (content.empty())
        return {};
    TComRef<IXMLDOMDocument2> document;
    CreateDocument(document);
    if (!document)
        return {};
    if (FAILED(document->put_async(VARIANT_FALSE)) ||
        FAILED(document->put_validateOnParse(VARIANT_FALSE)) ||
        FAILED(document->put_resolveExternals(VARIANT_FALSE)))
        return {};
    SetProperty(document.Get(), L"ProhibitDTD", BoolVariant(true));
    SetProperty(document.Get(), L"AllowDocumentFunction", BoolVariant(false));
    {
        TBstr xpath(L"XPath");
        if (!xpath)
            return {};
        VARIANT language;
        ::VariantInit(&language);
        language.vt = VT_BSTR;
        language.bstrVal = xpath.Get(); // borrowed: not cleared here
        SetProperty(document.Get(), L"SelectionLanguage", language);
    }

    TVariant source;
    if (!ByteArrayVariant(content, source))
        return {};
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(document->load(source.v, &loaded)) || loaded != VARIANT_TRUE)
        return {};

    // A parser that takes the DTD ban for a hint still must not hand out such a document.
    TComRef<IXMLDOMDocumentType> doctype;
    if (SUCCEEDED(document->get_doctype(doctype.Out())) && doctype)
        return {};
    TComRef<IXMLDOMElement> root;
    if (FAILED(document->get_documentElement(root.Out())) || !root)
        return {};

    return XmlDocumentRef(reinterpret_cast<XmlDocument*>(document.Detach()), ReleaseDocument);
}

XmlNodeRef XmlDocumentNode(const XmlDocumentRef& document) {
    if (!document)
        return {};
    IXMLDOMNode* node = nullptr;
    auto* dom = reinterpret_cast<IXMLDOMDocument2*>(document.get());
    if (FAILED(dom->QueryInterface(IidXMLDOMNode, reinterpret_cast<void**>(&node))) || !node)
        return {};
    return HoldNode(document, node);
}

bool XmlSelectNodes(const XmlNodeRef& node, const std::string& xpath,
                    std::vector<XmlNodeRef>& nodes) {
    nodes.clear();
    if (!node)
        return false;
    TBstr expression(win::Widen(xpath));
    if (!expression)
        return false;
    TComRef<IXMLDOMNodeList> selection;
    if (FAILED(Unwrap(node)->selectNodes(expression.Get(), selection.Out())) || !selection)
        return false;
    long length = 0;
    if (FAILED(selection->get_length(&length)) || length < 0)
        return false;
    nodes.reserve(static_cast<std::size_t>(length));
    for (long i = 0; i < length; ++i) {
        IXMLDOMNode* item = nullptr;
        if (FAILED(selection->get_item(i, &item)) || !item) {
            nodes.clear();
            return false;
        }
        nodes.push_back(HoldNode(node, item));
    }
    return true;
}

std::string XmlNodeText(const XmlNodeRef& node) {
    if (!node)
        return {};
    TComRef<IXMLDOMNodeList> children;
    if (FAILED(Unwrap(node)->get_childNodes(children.Out())) || !children)
        return {};
    long length = 0;
    if (FAILED(children->get_length(&length)))
        return {};
    std::wstring text;
    for (long i = 0; i < length; ++i) {
        TComRef<IXMLDOMNode> child;
        if (FAILED(children->get_item(i, child.Out())) || !child)
            continue;
        DOMNodeType type = NODE_INVALID;
        if (FAILED(child->get_nodeType(&type)))
            continue;
        if (type != NODE_TEXT && type != NODE_CDATA_SECTION)
            continue;
        TVariant value;
        if (SUCCEEDED(child->get_nodeValue(&value.v)) && value.v.vt == VT_BSTR && value.v.bstrVal)
            text.append(value.v.bstrVal, ::SysStringLen(value.v.bstrVal));
    }
    return win::Narrow(text);
}

} // namespace platform
