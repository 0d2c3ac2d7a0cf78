// The package search: the product folder on a key's drive, the depth-first search of it for
// package.id, and the reading of that file's first line.
#include "mod_WebShop.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "base/TextUtil.h"
#include "mod_WebShopText.h"
#include "platform/folder_walk.h"

EPackageIdReadError::EPackageIdReadError(const std::string& path, int error)
    : std::runtime_error("Cannot read \"" + path + "\": " + platform::FileErrorText(error)),
      FError(error) {}

EPackageSearchError::EPackageSearchError(const std::string& path, int error)
    : std::runtime_error("Cannot list \"" + path + "\": " + platform::FileErrorText(error)),
      FError(error) {}

namespace {

// Entries read from a listing at a time, between two looks at the clock.
constexpr std::size_t ListingBatch = 256;
// Search work between two calls of the message processing; well below the 50 ms after which a
// window feels stuck, as one step of work (a batch, a file) may take a while on a slow key.
constexpr auto MessageInterval = std::chrono::milliseconds(20);

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
    case platform::EOpenResult::Denied: // given for folders only
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

namespace {

// Calls the message processing once a MessageInterval of work has passed, and asks then whether
// the search is to stop.
class TMessagePacer {
public:
    TMessagePacer(const TProcessMessages& processMessages, const TSearchStopped& stopped)
        : FProcess(processMessages), FStopped(stopped) {}

    // Processes messages when they are due (or now, when `now` is set); true when the search
    // is to stop.
    bool Stop(bool now = false) {
        if (!FProcess && !FStopped)
            return false;
        const auto t = std::chrono::steady_clock::now();
        if (!now && t - FLast < MessageInterval)
            return false;
        if (FProcess)
            FProcess();
        FLast = std::chrono::steady_clock::now();
        return FStopped && FStopped();
    }

private:
    const TProcessMessages& FProcess;
    const TSearchStopped& FStopped;
    std::chrono::steady_clock::time_point FLast{};
};

// One folder on the way down: its listing read so far and not yet looked at.
struct TFrame {
    platform::TFolder folder;
    std::string path;
    std::vector<platform::TEntry> entries;
    std::size_t next = 0;
    bool listed = false;
};

// Reads the next batch of `frame`'s listing; a listing that fails is an error.
void ReadMore(TFrame& frame) {
    int error = 0;
    if (!frame.folder.Read(frame.entries, ListingBatch, error)) {
        frame.listed = true;
        if (error != 0)
            throw EPackageSearchError(frame.path, error);
    }
}

std::string WithoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && platform::IsPathSeparator(path.back()))
        path.pop_back();
    return path;
}

} // namespace

bool FindPackageId(const std::string& folder, std::string& id,
                   const TProcessMessages& processMessages, const TSearchStopped& stopped) {
    TMessagePacer pacer(processMessages, stopped);
    if (pacer.Stop(true))
        return false;
    // Only the last frame holds its folder's handle; the others are suspended, their listings
    // read to the end, and taken up again from their sub-folder on the way back.
    std::vector<TFrame> stack;
    {
        TFrame top;
        top.path = WithoutTrailingSeparators(folder);
        int error = 0;
        switch (top.folder.Open(folder, error)) {
        case platform::EOpenResult::Opened:
            break;
        case platform::EOpenResult::Failed:
            throw EPackageSearchError(top.path, error);
        default:
            return false;
        }
        stack.push_back(std::move(top));
    }
    while (!stack.empty()) {
        if (pacer.Stop())
            return false;
        TFrame& frame = stack.back();
        if (frame.next == frame.entries.size()) {
            if (!frame.listed) {
                frame.entries.clear();
                frame.next = 0;
                ReadMore(frame);
                continue;
            }
            platform::TFolder done = std::move(frame.folder);
            stack.pop_back(); // invalidates `frame`
            if (!stack.empty()) {
                int error = 0;
                if (!stack.back().folder.Resume(done, error))
                    throw EPackageSearchError(stack.back().path, error);
            }
            continue;
        }
        const platform::TEntry entry = frame.entries[frame.next++];
        if (entry.Kind == platform::EEntryKind::Folder) {
            // The rest of this listing first, so that its handle can be let go below.
            while (!frame.listed) {
                ReadMore(frame);
                if (pacer.Stop())
                    return false;
            }
            TFrame sub;
            sub.path = JoinPath(frame.path, entry.Name);
            int error = 0;
            switch (sub.folder.OpenChild(frame.folder, entry.Name, error)) {
            case platform::EOpenResult::Opened:
                frame.folder.Suspend();
                stack.push_back(std::move(sub)); // invalidates `frame`
                break;
            case platform::EOpenResult::Failed:
                throw EPackageSearchError(sub.path, error);
            default:
                break; // gone, or not to be listed: passed over
            }
            continue;
        }
        if ((entry.Kind == platform::EEntryKind::File ||
             entry.Kind == platform::EEntryKind::Link) &&
            IsPackageIdName(entry.Name)) {
            std::string line;
            if (ReadCandidate(&frame.folder, entry.Name, entry.Kind == platform::EEntryKind::File,
                              JoinPath(frame.path, entry.Name), line)) {
                id = std::move(line);
                return true;
            }
        }
    }
    return false;
}

bool IsFolder(const std::string& path) {
    platform::TFolder folder;
    int error = 0;
    const platform::EOpenResult r = folder.Open(path, error);
    return r == platform::EOpenResult::Opened || r == platform::EOpenResult::Denied;
}

std::string FindFolderIgnoringCase(const std::string& root, const std::string& name) {
    const std::string exact = JoinPath(root, name);
    int error = 0;
    {
        platform::TFolder folder;
        switch (folder.Open(exact, error)) {
        case platform::EOpenResult::Opened:
        case platform::EOpenResult::Denied:
            return exact;
        case platform::EOpenResult::Failed:
            throw EPackageSearchError(exact, error);
        default:
            break;
        }
    }
    // Not under that spelling (a case-sensitive file system such as NTFS through ntfs-3g):
    // the root's first folder whose name differs in case only.
    platform::TFolder rootFolder;
    switch (rootFolder.Open(root, error)) {
    case platform::EOpenResult::Opened:
        break;
    case platform::EOpenResult::Failed:
        throw EPackageSearchError(WithoutTrailingSeparators(root), error);
    default:
        return exact;
    }
    std::vector<platform::TEntry> entries;
    for (;;) {
        entries.clear();
        const bool more = rootFolder.Read(entries, ListingBatch, error);
        for (const platform::TEntry& entry : entries)
            if (entry.Kind == platform::EEntryKind::Folder && textutil::IEquals(entry.Name, name))
                return JoinPath(root, entry.Name);
        if (!more) {
            if (error != 0)
                throw EPackageSearchError(WithoutTrailingSeparators(root), error);
            return exact;
        }
    }
}

std::string ProductFolderOf(const std::string& drive,
                            const std::function<std::string(char letter)>& rootOf) {
    if (!rootOf || drive.empty() || drive.size() > 2 || (drive.size() == 2 && drive[1] != ':'))
        return {};
    const char letter = textutil::UpperAscii(drive[0]);
    if (letter < 'A' || letter > 'Z')
        return {};
    const std::string root = rootOf(letter);
    if (root.empty())
        return {};
    return FindFolderIgnoringCase(root, ProductFolderName);
}
