#include "mod_XMLDoc.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/Utf8.h"

namespace {

std::filesystem::path PathFromUtf8(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// Reads at most MaxXmlFileSize bytes of a regular file; false when it is not one, is
// larger or cannot be read.
bool ReadBoundedFile(const std::filesystem::path& path, std::string& content) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::is_regular_file(status))
        return false;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > MaxXmlFileSize)
        return false;

    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    content.resize(MaxXmlFileSize + 1);
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (in.bad())
        return false;
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got > MaxXmlFileSize) // grew since it was measured
        return false;
    content.resize(got);
    return true;
}

} // namespace

void LoadXMLDocument(const std::string& FileName, TXMLDocument& Document) {
    Document.reset();
    if (FileName.empty())
        return;
    std::string content;
    if (!ReadBoundedFile(PathFromUtf8(FileName), content))
        return;
    Document = platform::ParseXMLDocument(content, FileName);
}

TXMLNode DocumentNode(const TXMLDocument& Document) {
    return Document ? platform::XmlDocumentNode(Document) : TXMLNode();
}

void SelectNodes(const TXMLNode& Node, const std::string& XPath, TXMLNodeList& List) {
    List.reset();
    if (!Node)
        return;
    auto nodes = std::make_shared<std::vector<TXMLNode>>();
    if (platform::XmlSelectNodes(Node, XPath, *nodes))
        List = std::move(nodes);
}

void SelectFirstNode(const TXMLNode& Node, const std::string& XPath, TXMLNode& Result) {
    Result.reset();
    TXMLNodeList list;
    SelectNodes(Node, XPath, list);
    if (list && !list->empty())
        Result = list->front();
}

void GetNodeText(const TXMLNode& Node, std::string& Text) {
    Text = Node ? platform::XmlNodeText(Node) : std::string();
}

void SplitLocaleCode(const std::string& Code, std::string& Lang, std::string& Country) {
    // Byte offsets of the first six characters.
    std::size_t start[6] = {};
    std::size_t count = 0;
    std::size_t pos = 0;
    while (pos < Code.size() && count < 6) {
        start[count++] = pos;
        // The parser only hands over well-formed UTF-8; a stray byte would count as one.
        pos += std::max<std::size_t>(1, utf8::SequenceLength(Code, pos));
    }
    auto cut = [&](std::size_t first, std::size_t last) { // characters first..last, from 0
        const std::size_t end = last + 1 < count ? start[last + 1] : pos;
        return Code.substr(start[first], end - start[first]);
    };
    Lang = count >= 2 ? cut(0, 1) : std::string();
    Country = count >= 5 ? cut(3, 4) : std::string();
}

bool ReadLocaleFile(const std::string& FileName, std::string& Lang, std::string& Country) {
    if (FileName.empty())
        return false;
    std::error_code ec;
    if (!std::filesystem::exists(PathFromUtf8(FileName), ec) || ec)
        return false;

    TXMLDocument document;
    LoadXMLDocument(FileName, document);
    if (!document)
        return false;
    TXMLNode locale;
    SelectFirstNode(DocumentNode(document), "/localization/locale", locale);
    if (!locale)
        return false;
    std::string code;
    GetNodeText(locale, code);
    SplitLocaleCode(code, Lang, Country);
    return true;
}
