// The first line of package.id: any bytes give valid UTF-8 of at most 255 bytes without a
// control character, and an identifier written in any of the encodings a file may use, with
// its line end and more lines after it, comes back unchanged.

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "mod_WebShop.h"

namespace {

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

std::string Utf16(const std::u32string& text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    const auto unit = [&](char32_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    };
    for (const char32_t c : text) {
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const bool cut : {false, true}) {
        std::string line = "untouched";
        if (!DecodeFirstLine(bytes, line, cut)) {
            FUZZ_CHECK(line == "untouched");
            continue;
        }
        FUZZ_CHECK(fuzz::IsUtf8(line));
        FUZZ_CHECK(line.size() <= PackageIdMaxBytes);
        for (const char32_t c : fuzz::CodePoints(line))
            FUZZ_CHECK(!IsControl(c));
    }

    // An identifier of up to 255 bytes of characters other than controls (and, first, other
    // than the byte-order mark), then a line end and whatever follows.
    FuzzedDataProvider in(data, size);
    std::u32string text;
    std::string id;
    while (in.remaining_bytes() > 4) {
        const char32_t c = fuzz::ScalarFrom(in.ConsumeIntegral<std::uint32_t>() >>
                                            in.ConsumeIntegralInRange(0, 24));
        std::string next = id;
        fuzz::AppendUtf8(next, c);
        if (IsControl(c) || (text.empty() && c == 0xFEFF) || next.size() > PackageIdMaxBytes)
            break;
        text += c;
        id = std::move(next);
    }
    static const std::string Ends[] = {"\r\n", "\n", "\r", std::string(1, '\0'), "\t"};
    const std::string& end = Ends[in.ConsumeIntegralInRange<std::size_t>(0, 4)];
    const std::string more = in.ConsumeRandomLengthString();
    std::string line;
    FUZZ_CHECK(DecodeFirstLine(id + end + more, line) && line == id);
    FUZZ_CHECK(DecodeFirstLine("\xEF\xBB\xBF" + id + "\r\n" + more, line) && line == id);
    if (!text.empty()) {
        FUZZ_CHECK(DecodeFirstLine(Utf16(text + U"\r\n", false) + more, line) && line == id);
        FUZZ_CHECK(DecodeFirstLine(Utf16(text + U"\n", true) + more, line) && line == id);
    }
    return 0;
}
