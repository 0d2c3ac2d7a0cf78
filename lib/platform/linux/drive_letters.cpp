#include "platform/linux/drive_letters.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <set>
#include <unistd.h>

#include "base/TextUtil.h"
#include "platform/linux/roots.h"
#include "platform/linux/sysfs.h"
#include "platform/logical_drives.h"

namespace platform::lnx {

namespace {

struct TSeenDrive {
    unsigned Major, Minor;
    std::string Name, MountPoint;
};

std::string NormalRoot(std::string root) {
    root = std::filesystem::path(root).lexically_normal().string();
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root;
}

} // namespace

TDriveLetterMap::TDriveLetterMap(std::string mountInfoPath, std::string sysfsRoot)
    : FMountInfoPath(std::move(mountInfoPath)), FSysfsRoot(NormalRoot(std::move(sysfsRoot))) {}

// The kernel name of block device MAJ:MIN from its dev/block link. A link already seen to
// resolve is trusted while it reads the same: sysfs removes a device's links with it.
std::optional<std::string> TDriveLetterMap::DeviceName(unsigned major, unsigned minor) {
    const auto key = std::make_pair(major, minor);
    const std::string node = DevBlockNode(FSysfsRoot, major, minor);
    char buf[4096];
    const ssize_t n = ::readlink(node.c_str(), buf, sizeof buf);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) {
        FNodes.erase(key);
        const auto folder = ResolveLink(node); // a folder standing for the device itself
        return folder ? std::optional(BaseName(*folder)) : std::nullopt;
    }
    std::string target(buf, static_cast<std::size_t>(n));
    const auto it = FNodes.find(key);
    if (it != FNodes.end() && it->second.first == target)
        return it->second.second;
    if (!PathExists(node)) { // dangling, or a loop of links
        FNodes.erase(key);
        return std::nullopt;
    }
    std::string name = BaseName(target);
    FNodes[key] = {std::move(target), name};
    return name;
}

std::vector<TLetteredDrive> TDriveLetterMap::Refresh() {
    std::lock_guard lock(FLock);
    std::vector<TSeenDrive> seen;
    std::optional<std::pair<unsigned, unsigned>> rootDevice;
    std::set<std::pair<unsigned, unsigned>> known;
    // A process always has a root mount: a reading without one (the table could not be read,
    // was over the limit, or was caught empty or half-written) says nothing about the drives,
    // and taking it for "no drives" would make every drive look new at the next reading.
    bool rootSeen = false;
    if (const auto table = ReadMountTable(FMountInfoPath)) {
        for (const TMountEntry& m : *table) {
            rootSeen = rootSeen || m.MountPoint == "/";
            std::optional<TSeenDrive> drive;
            unsigned major = m.Major, minor = m.Minor;
            bool block = true;
            if (major == 0) {
                // Filesystems such as btrfs give an anonymous device; the source names it.
                block = false;
                if (m.Source.starts_with("/dev/"))
                    if (const auto numbers = BlockDeviceNumbers(FSysfsRoot, BaseName(m.Source))) {
                        major = numbers->first;
                        minor = numbers->second;
                        block = major != 0;
                    }
            }
            if (block)
                if (auto name = DeviceName(major, minor); name && !IsVirtualBlockName(*name))
                    drive = TSeenDrive{major, minor, std::move(*name), m.MountPoint};
            if (m.MountPoint == "/") // the last mount on / is the one in view
                rootDevice = drive ? std::optional(std::make_pair(drive->Major, drive->Minor))
                                   : std::nullopt;
            if (drive && known.insert({drive->Major, drive->Minor}).second)
                seen.push_back(std::move(*drive));
        }
    }
    if (!rootSeen)
        return FLastDrives;
    for (auto it = FNodes.begin(); it != FNodes.end();)
        it = known.count(it->first) ? std::next(it) : FNodes.erase(it);

    // Letters of drives that are gone are free again.
    for (auto it = FLetters.begin(); it != FLetters.end();) {
        const bool present = known.count(it->first) != 0;
        const bool displaced = it->second == 'C' && it->first != rootDevice;
        it = present && !displaced ? std::next(it) : FLetters.erase(it);
    }
    if (rootDevice)
        FLetters[*rootDevice] = 'C';
    std::array<bool, 26> used{};
    for (const auto& [dev, letter] : FLetters)
        used[letter - 'A'] = true;
    for (const TSeenDrive& d : seen) {
        if (FLetters.count({d.Major, d.Minor}))
            continue;
        for (char l = 'D'; l <= 'Z'; ++l)
            if (!used[l - 'A']) {
                used[l - 'A'] = true;
                FLetters[{d.Major, d.Minor}] = l;
                break;
            }
    }

    std::vector<TLetteredDrive> drives;
    for (const TSeenDrive& d : seen) {
        const auto it = FLetters.find({d.Major, d.Minor});
        if (it != FLetters.end())
            drives.push_back({it->second, d.Major, d.Minor, d.Name, d.MountPoint});
    }
    std::sort(drives.begin(), drives.end(),
              [](const TLetteredDrive& a, const TLetteredDrive& b) { return a.Letter < b.Letter; });
    FLastDrives = drives;
    return drives;
}

std::uint32_t TDriveLetterMap::LogicalDrives() {
    std::uint32_t mask = 0;
    for (const TLetteredDrive& d : Refresh())
        mask |= 1u << (d.Letter - 'A');
    return mask;
}

std::optional<TLetteredDrive> TDriveLetterMap::Find(char letter) {
    letter = textutil::UpperAscii(letter);
    for (TLetteredDrive& d : Refresh())
        if (d.Letter == letter)
            return std::move(d);
    return std::nullopt;
}

namespace {

// What the layer was handed, and the drive letters it gives out on it.
struct TProcessRoots {
    std::mutex Lock;
    TRoots Roots;
    std::shared_ptr<TDriveLetterMap> Drives;
};

TProcessRoots& Process() {
    static TProcessRoots process;
    return process;
}

} // namespace

TRoots Roots() {
    std::lock_guard lock(Process().Lock);
    return Process().Roots;
}

void UseRoots(TRoots roots) {
    std::lock_guard lock(Process().Lock);
    Process().Roots = std::move(roots);
    Process().Drives.reset();
}

std::shared_ptr<TDriveLetterMap> ProcessDriveLetters() {
    TProcessRoots& p = Process();
    std::lock_guard lock(p.Lock);
    if (!p.Drives)
        p.Drives = std::make_shared<TDriveLetterMap>(p.Roots.MountInfo, p.Roots.Sysfs);
    return p.Drives;
}

} // namespace platform::lnx

namespace platform {

std::uint32_t GetLogicalDrives() {
    // As on Windows, the system drive never goes while the program runs: not even before a
    // first good reading of the mount table, nor where / lies on no block device.
    return lnx::ProcessDriveLetters()->LogicalDrives() | 1u << ('C' - 'A');
}

std::string DriveRootPath(char letter) {
    const auto drive = lnx::ProcessDriveLetters()->Find(letter);
    return drive ? drive->MountPoint : std::string();
}

} // namespace platform
