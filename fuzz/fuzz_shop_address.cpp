// The web-shop address: whatever the key's texts and package identifier hold, the address is
// made of URL characters only, holds the fixed parts exactly once each and in their order, and
// each value, decoded, is the text it was made of.

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "fuzz_check.h"
#include "mod_WebShop.h"

namespace {

const std::string Prefix = "http://shop.example/custom-backend?q=";

bool Unreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// The value of a percent-encoded text; "?" marks a malformed escape.
std::string Decoded(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        const int hi = i + 2 < s.size() ? HexValue(s[i + 1]) : -1;
        const int lo = i + 2 < s.size() ? HexValue(s[i + 2]) : -1;
        if (hi < 0 || lo < 0)
            return "?";
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string vendor = in.ConsumeRandomLengthString(64);
    const std::string serial = in.ConsumeRandomLengthString(64);
    const std::string type = in.ConsumeRandomLengthString(64);
    const std::string installed = in.ConsumeRandomLengthString();
    const std::string address = BuildShopAddress(vendor, serial, type, installed, "shop.example");

    FUZZ_CHECK(address.compare(0, Prefix.size(), Prefix) == 0);
    const std::string query = address.substr(Prefix.size());
    for (const char c : query)
        FUZZ_CHECK(Unreserved(c) || c == '%');

    // The query's segments, as a reader splits them at "---".
    std::vector<std::string> segments;
    for (std::size_t from = 0;;) {
        const std::size_t at = query.find("---", from);
        segments.push_back(query.substr(from, at == std::string::npos ? at : at - from));
        if (at == std::string::npos)
            break;
        from = at + 3;
    }
    FUZZ_CHECK(segments.size() == 6);
    FUZZ_CHECK(segments[0] == "ecommerce" && segments[1] == "usbupgrade");
    const std::pair<const char*, const std::string*> fields[] = {{"vendor___", &vendor},
                                                                 {"serial___", &serial},
                                                                 {"type___", &type},
                                                                 {"installed___", &installed}};
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string name = fields[i].first;
        FUZZ_CHECK(segments[i + 2].compare(0, name.size(), name) == 0);
        FUZZ_CHECK(Decoded(segments[i + 2].substr(name.size())) == *fields[i].second);
    }
    return 0;
}
