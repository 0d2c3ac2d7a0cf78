// The text of package.id: the encoding told by its byte-order mark (or guessed without one),
// where its first line ends, and that line as UTF-8.
#include "mod_WebShopText.h"

#include <algorithm>

#include "base/Utf8.h"
#include "mod_WebShop.h"

namespace {

constexpr char32_t Replacement = 0xFFFD;

// Checks `bytes` as UTF-8. With `lenient`, malformed bytes become U+FFFD; without, the first
// one makes the result false. A sequence cut off at the end is dropped when `cut` is set.
bool Utf8Text(const std::string& bytes, bool cut, bool lenient, std::string& out) {
    const std::size_t n = bytes.size();
    std::string result;
    result.reserve(n);
    std::size_t i = 0;
    while (i < n) {
        bool incomplete = false;
        const std::size_t len = utf8::SequenceLength(bytes, i, incomplete);
        if (len > 0) {
            result.append(bytes, i, len);
            i += len;
            continue;
        }
        if (incomplete && cut)
            break;
        if (!lenient)
            return false;
        utf8::Append(result, Replacement);
        ++i;
    }
    out = std::move(result);
    return true;
}

constexpr char16_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Windows1252Text(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x80 && b < 0xA0)
            utf8::Append(out, Windows1252High[b - 0x80]);
        else
            utf8::Append(out, b);
    }
    return out;
}

enum class EEncoding { Utf8Bom, Utf16Le, Utf16Be, Plain };

EEncoding EncodingOf(const std::string& b, std::size_t& bomLength) {
    if (b.size() >= 3 && b.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        bomLength = 3;
        return EEncoding::Utf8Bom;
    }
    if (b.size() >= 2 && b[0] == '\xFF' && b[1] == '\xFE') {
        bomLength = 2;
        return EEncoding::Utf16Le;
    }
    if (b.size() >= 2 && b[0] == '\xFE' && b[1] == '\xFF') {
        bomLength = 2;
        return EEncoding::Utf16Be;
    }
    bomLength = 0;
    return EEncoding::Plain;
}

char16_t Unit16(const std::string& b, std::size_t at, bool bigEndian) {
    const auto b0 = static_cast<unsigned char>(b[at]);
    const auto b1 = static_cast<unsigned char>(b[at + 1]);
    return static_cast<char16_t>(bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0));
}

// C0 controls and DEL. A package identifier is a short text of its own: the first of them
// (CR and LF, but also NUL, TAB and the rest) ends its line.
constexpr bool IsLineEnd(char32_t c) {
    return c < 0x20 || c == 0x7F;
}

// Byte offset of the first line end at or after `from`, or npos. UTF-16 text is scanned by
// code unit.
std::size_t LineEnd(const std::string& b, EEncoding enc, std::size_t from) {
    if (enc == EEncoding::Utf16Le || enc == EEncoding::Utf16Be) {
        const bool be = enc == EEncoding::Utf16Be;
        for (std::size_t i = from; i + 1 < b.size(); i += 2) {
            if (IsLineEnd(Unit16(b, i, be)))
                return i;
        }
        return std::string::npos;
    }
    for (std::size_t i = from; i < b.size(); ++i)
        if (IsLineEnd(static_cast<unsigned char>(b[i])))
            return i;
    return std::string::npos;
}

// `text` (valid UTF-8) up to its first C1 control (U+0080 to U+009F, as a Windows-1252 byte
// without a character of its own gives), then cut to at most PackageIdMaxBytes on a character
// boundary.
void CutIdentifier(std::string& text) {
    const std::size_t c1 = text.find('\xC2');
    for (std::size_t i = c1; i != std::string::npos; i = text.find('\xC2', i + 1))
        if (i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            text.resize(i);
            break;
        }
    if (text.size() <= PackageIdMaxBytes)
        return;
    std::size_t end = PackageIdMaxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end; // text[end] continues the character that starts before it
    text.resize(end);
}

std::string Utf16Text(const std::string& b, bool bigEndian, bool cut) {
    std::string out;
    const std::size_t n = b.size();
    std::size_t i = 0;
    for (; i + 1 < n; i += 2) {
        const char16_t u = Unit16(b, i, bigEndian);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 3 < n) {
                const char16_t v = Unit16(b, i + 2, bigEndian);
                if (v >= 0xDC00 && v <= 0xDFFF) {
                    utf8::Append(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (v - 0xDC00));
                    i += 2;
                    continue;
                }
            } else if (cut) {
                return out; // the pair was cut in two
            }
            utf8::Append(out, Replacement);
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            utf8::Append(out, Replacement);
        } else {
            utf8::Append(out, u);
        }
    }
    if (i < n && !cut)
        utf8::Append(out, Replacement); // an odd byte at the end of the file
    return out;
}

} // namespace

bool FirstLineEnded(const std::string& bytes, std::size_t from) {
    std::size_t bom = 0;
    const EEncoding enc = EncodingOf(bytes, bom);
    from = std::max(bom, from);
    if (enc == EEncoding::Utf16Le || enc == EEncoding::Utf16Be)
        from = bom + ((from - bom) & ~std::size_t{1});
    return LineEnd(bytes, enc, from) != std::string::npos;
}

bool DecodeFirstLine(const std::string& bytes, std::string& line, bool cut) {
    std::size_t bom = 0;
    const EEncoding enc = EncodingOf(bytes, bom);
    if (bytes.size() <= bom)
        return false;
    const std::size_t end = LineEnd(bytes, enc, bom);
    const bool lineCut = cut && end == std::string::npos;
    const std::string raw =
        bytes.substr(bom, end == std::string::npos ? std::string::npos : end - bom);
    std::string text;
    switch (enc) {
    case EEncoding::Utf16Le:
    case EEncoding::Utf16Be:
        text = Utf16Text(raw, enc == EEncoding::Utf16Be, lineCut);
        break;
    case EEncoding::Utf8Bom:
        Utf8Text(raw, lineCut, true, text);
        break;
    case EEncoding::Plain:
        if (!Utf8Text(raw, lineCut, false, text))
            text = Windows1252Text(raw);
        break;
    }
    CutIdentifier(text);
    line = std::move(text);
    return true;
}