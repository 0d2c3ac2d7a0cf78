// The mount-info parser: any text parses without harm into entries whose mount points are
// absolute, and a line written as the kernel writes it gives back every field it was made of.

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "platform/linux/sysfs.h"

using platform::lnx::DecodeMountField;
using platform::lnx::ParseMountInfo;

namespace {

// The kernel's escaping of a mount-info field: blank, tab, line feed and backslash as \ooo.
std::string Mangle(const std::string& s) {
    std::string out;
    for (const char c : s) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
            const auto b = static_cast<unsigned char>(c);
            out += '\\';
            out += static_cast<char>('0' + (b >> 6));
            out += static_cast<char>('0' + (b >> 3 & 7));
            out += static_cast<char>('0' + (b & 7));
        } else {
            out += c;
        }
    }
    return out;
}

// A field the kernel would never leave empty.
std::string Field(FuzzedDataProvider& in, const char* fallback) {
    std::string s = in.ConsumeRandomLengthString(64);
    return s.empty() ? fallback : s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    // Any text: the entries are the well-formed lines, their mount points absolute.
    std::size_t lines = 1;
    for (const char c : text)
        lines += c == '\n';
    const auto entries = ParseMountInfo(text);
    FUZZ_CHECK(entries.size() <= lines);
    for (const auto& e : entries)
        FUZZ_CHECK(!e.MountPoint.empty() && e.MountPoint[0] == '/');
    FUZZ_CHECK(DecodeMountField(text).size() <= text.size());

    // A line as the kernel writes it, from fields made of any bytes.
    FuzzedDataProvider in(data, size);
    const unsigned major = in.ConsumeIntegral<unsigned>();
    const unsigned minor = in.ConsumeIntegral<unsigned>();
    const std::string root = Field(in, "/");
    const std::string mountPoint = "/" + in.ConsumeRandomLengthString(64);
    const std::string fsType = Field(in, "ext4");
    const std::string source = Field(in, "none");
    const bool optional = in.ConsumeBool();
    const std::string line = "36 25 " + std::to_string(major) + ":" + std::to_string(minor) + " " +
                             Mangle(root) + " " + Mangle(mountPoint) + " rw,relatime" +
                             (optional ? " shared:1 master:2" : "") + " - " + Mangle(fsType) + " " +
                             Mangle(source) + " rw,errors=remount-ro";
    FUZZ_CHECK(DecodeMountField(Mangle(root)) == root);
    const auto parsed = ParseMountInfo("garbage\n" + line + "\n\n");
    FUZZ_CHECK(parsed.size() == 1);
    FUZZ_CHECK(parsed[0].Major == major && parsed[0].Minor == minor);
    FUZZ_CHECK(parsed[0].Root == root);
    FUZZ_CHECK(parsed[0].MountPoint == mountPoint);
    FUZZ_CHECK(parsed[0].FsType == fsType);
    FUZZ_CHECK(parsed[0].Source == source);
    return 0;
}
