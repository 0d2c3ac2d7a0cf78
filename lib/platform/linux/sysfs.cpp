#include "platform/linux/sysfs.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "base/TextUtil.h"

namespace platform::lnx {

namespace fs = std::filesystem;

std::string DecodeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

namespace {

bool ParseLine(std::string_view line, TMountEntry& entry) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        if (pos >= line.size())
            break;
        const auto end = line.find(' ', pos);
        const auto stop = end == std::string_view::npos ? line.size() : end;
        fields.push_back(line.substr(pos, stop - pos));
        pos = stop;
    }
    // id parent maj:min root mount-point options [optional...] - fstype source super-options
    if (fields.size() < 9)
        return false;
    std::size_t sep = 0;
    for (std::size_t i = 6; i < fields.size(); ++i)
        if (fields[i] == "-") {
            sep = i;
            break;
        }
    if (sep == 0 || sep + 2 >= fields.size())
        return false;
    const auto dev = fields[2];
    const auto colon = dev.find(':');
    if (colon == std::string_view::npos ||
        !textutil::ParseInteger(dev.substr(0, colon), entry.Major) ||
        !textutil::ParseInteger(dev.substr(colon + 1), entry.Minor))
        return false;
    entry.Root = DecodeMountField(fields[3]);
    entry.MountPoint = DecodeMountField(fields[4]);
    entry.FsType = DecodeMountField(fields[sep + 1]);
    entry.Source = DecodeMountField(fields[sep + 2]);
    return !entry.MountPoint.empty() && entry.MountPoint[0] == '/';
}

} // namespace

std::vector<TMountEntry> ParseMountInfo(std::string_view text) {
    std::vector<TMountEntry> entries;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto end = text.find('\n', pos);
        const auto stop = end == std::string_view::npos ? text.size() : end;
        TMountEntry entry;
        if (ParseLine(text.substr(pos, stop - pos), entry))
            entries.push_back(std::move(entry));
        pos = stop + 1;
    }
    return entries;
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    std::array<char, 4096> buf;
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (text.size() + static_cast<std::size_t>(n) > limit) {
            ok = false;
            break;
        }
        text.append(buf.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok)
        return std::nullopt;
    return text;
}

std::optional<std::vector<TMountEntry>> ReadMountTable(const std::string& path) {
    constexpr std::size_t MountInfoLimit = 16u << 20;
    const auto text = ReadSmallFile(path, MountInfoLimit);
    if (!text)
        return std::nullopt;
    return ParseMountInfo(*text);
}

std::optional<std::string> TryReadAttribute(const std::string& path) {
    auto text = ReadSmallFile(path, 4096);
    if (text && !text->empty() && text->back() == '\n')
        text->pop_back();
    return text;
}

std::string ReadAttribute(const std::string& path) {
    auto text = TryReadAttribute(path);
    if (!text)
        throw ESysfsError("sysfs attribute missing or unreadable: " + path);
    return *text;
}

bool PathExists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

std::string BaseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> ResolveLink(const std::string& path) {
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
    if (n < 0) {
        struct stat st {};
        if (errno == EINVAL && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return path;
        return std::nullopt;
    }
    if (static_cast<std::size_t>(n) >= sizeof buf)
        return std::nullopt;
    const std::string target(buf, static_cast<std::size_t>(n));
    if (!target.empty() && target[0] == '/')
        return fs::path(target).lexically_normal().string();
    const auto slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string resolved = fs::path(parent + "/" + target).lexically_normal().string();
    while (resolved.size() > 1 && resolved.back() == '/')
        resolved.pop_back();
    return resolved;
}

bool IsVirtualBlockName(std::string_view name) {
    return name.starts_with("loop") || name.starts_with("ram") || name.starts_with("zram");
}

std::string DevBlockNode(const std::string& sysfsRoot, unsigned major, unsigned minor) {
    return sysfsRoot + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
}

std::optional<std::pair<unsigned, unsigned>> BlockDeviceNumbers(const std::string& sysfsRoot,
                                                                const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return std::nullopt;
    const auto dev = TryReadAttribute(sysfsRoot + "/class/block/" + name + "/dev");
    if (!dev)
        return std::nullopt;
    const auto colon = dev->find(':');
    unsigned major = 0, minor = 0;
    if (colon == std::string::npos ||
        !textutil::ParseInteger(std::string_view(*dev).substr(0, colon), major) ||
        !textutil::ParseInteger(std::string_view(*dev).substr(colon + 1), minor))
        return std::nullopt;
    return std::make_pair(major, minor);
}

std::uint32_t Crc32(std::string_view data) {
    return static_cast<std::uint32_t>(
        ::crc32_z(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
}

} // namespace platform::lnx
