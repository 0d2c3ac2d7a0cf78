#include "platform/linux/drive_letters.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <set>

#include "platform/linux/sysfs.h"
#include "platform/logical_drives.h"

namespace platform::lnx {

namespace {

// Far beyond any real mount table; a larger file is taken as unreadable.
constexpr std::size_t MountInfoLimit = 16u << 20;

struct SeenDrive {
    unsigned Major, Minor;
    std::string Name, MountPoint;
};

// The drive behind a mount entry: its block device numbers and kernel name.
std::optional<SeenDrive> DriveOf(const std::string& sysfs, const MountEntry& m) {
    unsigned major = m.Major, minor = m.Minor;
    if (major == 0) {
        // Filesystems such as btrfs give an anonymous device; the source names the disk.
        if (!m.Source.starts_with("/dev/"))
            return std::nullopt;
        const auto slash = m.Source.rfind('/');
        const auto numbers = BlockDeviceNumbers(sysfs, m.Source.substr(slash + 1));
        if (!numbers)
            return std::nullopt;
        major = numbers->first;
        minor = numbers->second;
    }
    auto name = BlockDeviceName(sysfs, major, minor);
    if (!name || IsVirtualBlockName(*name))
        return std::nullopt;
    return SeenDrive{major, minor, std::move(*name), m.MountPoint};
}

} // namespace

DriveLetterMap::DriveLetterMap(std::string mountInfoPath, std::string sysfsRoot)
    : FMountInfoPath(std::move(mountInfoPath)), FSysfsRoot(std::move(sysfsRoot)) {}

std::vector<LetteredDrive> DriveLetterMap::Refresh() {
    std::vector<SeenDrive> seen;
    std::optional<std::pair<unsigned, unsigned>> rootDevice;
    if (const auto text = ReadSmallFile(FMountInfoPath, MountInfoLimit)) {
        std::set<std::pair<unsigned, unsigned>> known;
        for (const MountEntry& m : ParseMountInfo(*text)) {
            auto drive = DriveOf(FSysfsRoot, m);
            if (m.MountPoint == "/") // the last mount on / is the one in view
                rootDevice = drive ? std::optional(std::make_pair(drive->Major, drive->Minor))
                                   : std::nullopt;
            if (drive && known.insert({drive->Major, drive->Minor}).second)
                seen.push_back(std::move(*drive));
        }
    }

    std::lock_guard lock(FLock);
    // Letters of drives that are gone are free again.
    for (auto it = FLetters.begin(); it != FLetters.end();) {
        const bool present = std::any_of(seen.begin(), seen.end(), [&](const SeenDrive& d) {
            return d.Major == it->first.first && d.Minor == it->first.second;
        });
        const bool displaced = it->second == 'C' && it->first != rootDevice;
        it = present && !displaced ? std::next(it) : FLetters.erase(it);
    }
    if (rootDevice) {
        FLetters[*rootDevice] = 'C';
    }
    std::array<bool, 26> used{};
    for (const auto& [dev, letter] : FLetters)
        used[letter - 'A'] = true;
    for (const SeenDrive& d : seen) {
        if (FLetters.count({d.Major, d.Minor}))
            continue;
        for (char l = 'D'; l <= 'Z'; ++l)
            if (!used[l - 'A']) {
                used[l - 'A'] = true;
                FLetters[{d.Major, d.Minor}] = l;
                break;
            }
    }

    std::vector<LetteredDrive> drives;
    for (const SeenDrive& d : seen) {
        const auto it = FLetters.find({d.Major, d.Minor});
        if (it != FLetters.end())
            drives.push_back({it->second, d.Major, d.Minor, d.Name, d.MountPoint});
    }
    std::sort(drives.begin(), drives.end(),
              [](const LetteredDrive& a, const LetteredDrive& b) { return a.Letter < b.Letter; });
    return drives;
}

std::uint32_t DriveLetterMap::LogicalDrives() {
    std::uint32_t mask = 0;
    for (const LetteredDrive& d : Refresh())
        mask |= 1u << (d.Letter - 'A');
    return mask;
}

std::optional<LetteredDrive> DriveLetterMap::Find(char letter) {
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    for (LetteredDrive& d : Refresh())
        if (d.Letter == letter)
            return std::move(d);
    return std::nullopt;
}

namespace {
std::mutex& ProcessMapLock() {
    static std::mutex m;
    return m;
}
std::shared_ptr<DriveLetterMap>& ProcessMap() {
    static std::shared_ptr<DriveLetterMap> map;
    return map;
}
std::string EnvOr(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}
} // namespace

std::shared_ptr<DriveLetterMap> ProcessDriveLetters() {
    std::lock_guard lock(ProcessMapLock());
    auto& map = ProcessMap();
    if (!map)
        map = std::make_shared<DriveLetterMap>(EnvOr("PENDOCK_MOUNTINFO", "/proc/self/mountinfo"),
                                               EnvOr("PENDOCK_SYSFS", "/sys"));
    return map;
}

void ResetProcessDriveLetters() {
    std::lock_guard lock(ProcessMapLock());
    ProcessMap().reset();
}

} // namespace platform::lnx

namespace platform {

std::uint32_t GetLogicalDrives() { return lnx::ProcessDriveLetters()->LogicalDrives(); }

std::string DriveRootPath(char letter) {
    const auto drive = lnx::ProcessDriveLetters()->Find(letter);
    return drive ? drive->MountPoint : std::string();
}

} // namespace platform
