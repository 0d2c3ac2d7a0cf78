#include "mod_WebShop.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "Utf8.h"
#include "platform/folder_walk.h"

TPackageIdReadError::TPackageIdReadError(const std::string& path, int error)
    : std::runtime_error("Cannot read \"" + path + "\": " + platform::FileErrorText(error)),
      FError(error) {}

namespace {

constexpr char32_t Replacement = 0xFFFD;

// Length of the well-formed UTF-8 sequence at s[i], 0 when malformed. `incomplete` is set when
// the bytes up to `n` are a valid beginning of a sequence that runs past `n`.
std::size_t Utf8SequenceLength(const unsigned char* s, std::size_t i, std::size_t n,
                               bool& incomplete) {
    incomplete = false;
    const unsigned char b = s[i];
    if (b < 0x80)
        return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0)
            lo = 0xA0; // no overlong forms
        else if (b == 0xED)
            hi = 0x9F; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0)
            lo = 0x90;
        else if (b == 0xF4)
            hi = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        if (i + k >= n) {
            incomplete = true;
            return 0;
        }
        const unsigned char c = s[i + k];
        const unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
        if (c < l || c > h)
            return 0;
    }
    return len;
}

// Checks `bytes` as UTF-8. With `lenient`, malformed bytes become U+FFFD; without, the first
// one makes the result false. A sequence cut off at the end is dropped when `cut` is set.
bool Utf8Text(const std::string& bytes, bool cut, bool lenient, std::string& out) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::string result;
    result.reserve(n);
    std::size_t i = 0;
    while (i < n) {
        bool incomplete = false;
        const std::size_t len = Utf8SequenceLength(s, i, n, incomplete);
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

enum class TEncoding { Utf8Bom, Utf16Le, Utf16Be, Plain };

TEncoding EncodingOf(const std::string& b, std::size_t& bomLength) {
    if (b.size() >= 3 && b.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        bomLength = 3;
        return TEncoding::Utf8Bom;
    }
    if (b.size() >= 2 && b[0] == '\xFF' && b[1] == '\xFE') {
        bomLength = 2;
        return TEncoding::Utf16Le;
    }
    if (b.size() >= 2 && b[0] == '\xFE' && b[1] == '\xFF') {
        bomLength = 2;
        return TEncoding::Utf16Be;
    }
    bomLength = 0;
    return TEncoding::Plain;
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
std::size_t LineEnd(const std::string& b, TEncoding enc, std::size_t from) {
    if (enc == TEncoding::Utf16Le || enc == TEncoding::Utf16Be) {
        const bool be = enc == TEncoding::Utf16Be;
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

// Reads the first line of the open regular file `file`.
bool ReadFirstLineOf(platform::TInputFile& file, const std::string& path, std::string& line) {
    std::string buf;
    bool lineEnded = false;
    std::size_t scanned = 0;
    while (buf.size() < PackageIdReadLimit) {
        const std::size_t old = buf.size();
        const std::size_t want =
            std::min<std::size_t>(old == 0 ? 4096 : 16384, PackageIdReadLimit - old);
        buf.resize(old + want);
        int error = 0;
        const long long got = file.Read(buf.data() + old, want, error);
        if (got < 0)
            throw TPackageIdReadError(path, error);
        buf.resize(old + static_cast<std::size_t>(got));
        if (got == 0)
            break;
        std::size_t bom = 0;
        const TEncoding enc = EncodingOf(buf, bom);
        // Resume scanning a little before the new bytes, on a code-unit boundary.
        std::size_t from = std::max(bom, scanned);
        if (enc == TEncoding::Utf16Le || enc == TEncoding::Utf16Be)
            from = bom + ((from - bom) & ~std::size_t{1});
        if (LineEnd(buf, enc, from) != std::string::npos) {
            lineEnded = true;
            break;
        }
        scanned = buf.size() > 1 ? buf.size() - 1 : 0;
    }
    const bool cut = !lineEnded && buf.size() >= PackageIdReadLimit;
    return DecodeFirstLine(buf, line, cut);
}

bool IsPackageIdName(const std::string& name) {
    static constexpr char Wanted[] = "package.id";
    if (name.size() != sizeof Wanted - 1)
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != Wanted[i])
            return false;
    }
    return true;
}

// Reads a candidate package.id: the entry `name` of `folder`, or the path `name` when `folder`
// is null. False when it is no regular file (after following a link) or holds no line.
bool ReadCandidate(const platform::TFolder* folder, const std::string& name, bool listedAsFile,
                   const std::string& path, std::string& line) {
    platform::TInputFile file;
    int error = 0;
    switch (file.Open(folder, name, listedAsFile, error)) {
    case platform::TOpenResult::Opened:
        return ReadFirstLineOf(file, path, line);
    case platform::TOpenResult::Failed:
        throw TPackageIdReadError(path, error);
    case platform::TOpenResult::NotThere:
    case platform::TOpenResult::NotRegular:
        break;
    }
    return false;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    std::string path = folder;
    if (path.empty() || !platform::IsPathSeparator(path.back()))
        path += platform::PathSeparator;
    return path + name;
}

} // namespace

bool DecodeFirstLine(const std::string& bytes, std::string& line, bool cut) {
    std::size_t bom = 0;
    const TEncoding enc = EncodingOf(bytes, bom);
    if (bytes.size() <= bom)
        return false;
    const std::size_t end = LineEnd(bytes, enc, bom);
    const bool lineCut = cut && end == std::string::npos;
    const std::string raw =
        bytes.substr(bom, end == std::string::npos ? std::string::npos : end - bom);
    std::string text;
    switch (enc) {
    case TEncoding::Utf16Le:
    case TEncoding::Utf16Be:
        text = Utf16Text(raw, enc == TEncoding::Utf16Be, lineCut);
        break;
    case TEncoding::Utf8Bom:
        Utf8Text(raw, lineCut, true, text);
        break;
    case TEncoding::Plain:
        if (!Utf8Text(raw, lineCut, false, text))
            text = Windows1252Text(raw);
        break;
    }
    CutIdentifier(text);
    line = std::move(text);
    return true;
}

bool ReadFirstLine(const std::string& path, std::string& line) {
    return ReadCandidate(nullptr, path, false, path, line);
}

bool FindPackageId(const std::string& folder, std::string& id,
                   const TProcessMessages& processMessages, const TSearchStopped& stopped) {
    struct TFrame {
        platform::TFolder dir;
        std::string path;
    };
    std::vector<TFrame> stack;
    {
        platform::TFolder top;
        if (!top.Open(folder))
            return false;
        std::string path = folder;
        while (path.size() > 1 && platform::IsPathSeparator(path.back()))
            path.pop_back();
        stack.push_back({std::move(top), std::move(path)});
    }
    bool found = false;
    std::string name;
    platform::TEntryKind kind{};
    while (!stack.empty()) {
        TFrame& frame = stack.back();
        if (found || !frame.dir.Next(name, kind)) {
            // This folder is done (listed to the end, or the search has ended).
            stack.pop_back();
            if (processMessages)
                processMessages();
            if (!found && stopped && stopped())
                return false;
            continue;
        }
        if (kind == platform::TEntryKind::Folder) {
            platform::TFolder sub;
            if (sub.OpenChild(frame.dir, name)) {
                std::string path = JoinPath(frame.path, name);
                stack.push_back({std::move(sub), std::move(path)}); // invalidates `frame`
            }
            continue;
        }
        if ((kind == platform::TEntryKind::File || kind == platform::TEntryKind::Link) &&
            IsPackageIdName(name)) {
            std::string line;
            if (ReadCandidate(&frame.dir, name, kind == platform::TEntryKind::File,
                              JoinPath(frame.path, name), line)) {
                id = std::move(line);
                found = true;
            }
        }
    }
    return found;
}

std::string ShopHost() {
    return PENDOCK_SHOP_HOST;
}

namespace {

void AppendEncoded(std::string& out, char ch, bool escape) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    const auto b = static_cast<unsigned char>(ch);
    if (!escape && ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                    b == '-' || b == '.' || b == '_' || b == '~')) {
        out += ch;
    } else {
        out += '%';
        out += Hex[b >> 4];
        out += Hex[b & 0x0F];
    }
}

// A value of the shop address, percent-encoded; a '-' at either end of it or next to another
// '-' is encoded as well, so that "---" in the address only ever separates its segments.
std::string AddressValue(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = text[i] == '-' &&
                          (i == 0 || i + 1 == text.size() || text[i - 1] == '-' || text[i + 1] == '-');
        AppendEncoded(out, text[i], dash);
    }
    return out;
}

} // namespace

std::string PercentEncode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text)
        AppendEncoded(out, ch, false);
    return out;
}

std::string BuildShopAddress(const std::string& UsbVID, const std::string& UsbSN,
                             const std::string& UsbPID, const std::string& installed,
                             const std::string& host) {
    return "http://" + host + "/custom-backend?q=ecommerce---usbupgrade---vendor___" +
           AddressValue(UsbVID) + "---serial___" + AddressValue(UsbSN) + "---type___" +
           AddressValue(UsbPID) + "---installed___" + AddressValue(installed);
}

std::string ProductFolderOf(const std::string& drive,
                            const std::function<std::string(char letter)>& rootOf) {
    if (!rootOf || drive.empty() || drive.size() > 2 || (drive.size() == 2 && drive[1] != ':'))
        return {};
    char letter = drive[0];
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z')
        return {};
    std::string root = rootOf(letter);
    if (root.empty())
        return {};
    if (!platform::IsPathSeparator(root.back()))
        root += platform::PathSeparator;
    return root + "Quorvento";
}
