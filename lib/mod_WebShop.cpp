// The package search: the product folder on a key's drive, the depth-first search of it for
// package.id, and the reading of that file's first line.
#include "mod_WebShop.h"

#include <algorithm>
#include <vector>

#include "base/TextUtil.h"
#include "mod_WebShopText.h"
#include "platform/folder_walk.h"

EPackageIdReadError::EPackageIdReadError(const std::string& path, int error)
    : std::runtime_error("Cannot read \"" + path + "\": " + platform::FileErrorText(error)),
      FError(error) {}

namespace {

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
            throw EPackageIdReadError(path, error);
        buf.resize(old + static_cast<std::size_t>(got));
        if (got == 0)
            break;
        if (FirstLineEnded(buf, scanned)) {
            lineEnded = true;
            break;
        }
        // Resume scanning a little before the new bytes: a UTF-16 code unit may have been cut.
        scanned = buf.size() > 1 ? buf.size() - 1 : 0;
    }
    const bool cut = !lineEnded && buf.size() >= PackageIdReadLimit;
    return DecodeFirstLine(buf, line, cut);
}

bool IsPackageIdName(const std::string& name) {
    return textutil::IEquals(name, "package.id");
}

// Reads a candidate package.id: the entry `name` of `folder`, or the path `name` when `folder`
// is null. False when it is no regular file (after following a link) or holds no line.
bool ReadCandidate(const platform::TFolder* folder, const std::string& name, bool listedAsFile,
                   const std::string& path, std::string& line) {
    platform::TInputFile file;
    int error = 0;
    switch (file.Open(folder, name, listedAsFile, error)) {
    case platform::EOpenResult::Opened:
        return ReadFirstLineOf(file, path, line);
    case platform::EOpenResult::Failed:
        throw EPackageIdReadError(path, error);
    case platform::EOpenResult::NotThere:
    case platform::EOpenResult::NotRegular:
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

bool ReadFirstLine(const std::string& path, std::string& line) {
    return ReadCandidate(nullptr, path, false, path, line);
}

bool FindPackageId(const std::string& folder, std::string& id,
                   const TProcessMessages& processMessages, const TSearchStopped& stopped) {
    struct TFrame {
        platform::TFolder folder;
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
    platform::EEntryKind kind{};
    while (!stack.empty()) {
        TFrame& frame = stack.back();
        if (found || !frame.folder.Next(name, kind)) {
            // This folder is done (listed to the end, or the search has ended).
            stack.pop_back();
            if (processMessages)
                processMessages();
            if (!found && stopped && stopped())
                return false;
            continue;
        }
        if (kind == platform::EEntryKind::Folder) {
            platform::TFolder sub;
            if (sub.OpenChild(frame.folder, name)) {
                std::string path = JoinPath(frame.path, name);
                stack.push_back({std::move(sub), std::move(path)}); // invalidates `frame`
            }
            continue;
        }
        if ((kind == platform::EEntryKind::File || kind == platform::EEntryKind::Link) &&
            IsPackageIdName(name)) {
            std::string line;
            if (ReadCandidate(&frame.folder, name, kind == platform::EEntryKind::File,
                              JoinPath(frame.path, name), line)) {
                id = std::move(line);
                found = true;
            }
        }
    }
    return found;
}

std::string ProductFolderOf(const std::string& drive,
                            const std::function<std::string(char letter)>& rootOf) {
    if (!rootOf || drive.empty() || drive.size() > 2 || (drive.size() == 2 && drive[1] != ':'))
        return {};
    const char letter = textutil::UpperAscii(drive[0]);
    if (letter < 'A' || letter > 'Z')
        return {};
    std::string root = rootOf(letter);
    if (root.empty())
        return {};
    if (!platform::IsPathSeparator(root.back()))
        root += platform::PathSeparator;
    return root + "Quorvento";
}
