#pragma once
// Folder listing and file reading for the package search. Sub-folders are opened from their
// parent; a parent whose listing has been read to its end can let go of its handle while a
// sub-folder is searched and take it up again afterwards, so that a deep tree holds no more
// than a few handles. A link is reported as a link and never entered as a folder. Files are
// opened following links and read in pieces. Errors are told apart from the end of a listing.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The separator this system puts between the parts of a path.
#if defined(_WIN32)
inline constexpr char PathSeparator = '\\';
#else
inline constexpr char PathSeparator = '/';
#endif

// True for every character this system accepts as a separator ('/' everywhere, '\' on Windows).
constexpr bool IsPathSeparator(char c) {
#if defined(_WIN32)
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// What a listed entry is, as the listing sees it (links are not followed).
enum class EEntryKind {
    Folder, // a real folder
    File,   // a regular file
    Link,   // a symbolic link, junction or other reparse point, whatever it leads to
    Other,  // a device, pipe or socket
};

// One entry of a folder's listing.
struct TEntry {
    std::string Name; // UTF-8
    EEntryKind Kind;
};

// How opening a folder or a file ended.
enum class EOpenResult {
    Opened,
    NotThere,   // missing, a dangling link or a link loop; for a folder also a file or a link
    NotRegular, // a folder, device or pipe; such files are never opened for reading
    Denied,     // a folder the system refuses to list (its permissions, a lock)
    Failed,     // exists but cannot be opened; the error number says why
};

struct TFolderState;

// An open folder and the position of its listing.
class TFolder {
public:
    TFolder();
    ~TFolder();
    TFolder(TFolder&&) noexcept;
    TFolder& operator=(TFolder&&) noexcept;
    TFolder(const TFolder&) = delete;
    TFolder& operator=(const TFolder&) = delete;

    // Opens the folder `path` (UTF-8); separators at its end are ignored. NotThere when it is
    // missing, is not a folder or is itself a link; on Failed, `error` holds the system's
    // error number.
    EOpenResult Open(const std::string& path, int& error);
    // Opens the entry `name` of `parent` in the same way; `parent` must hold its handle.
    EOpenResult OpenChild(const TFolder& parent, const std::string& name, int& error);
    // Appends up to `most` further entries of the listing to `entries`, "." and ".." left out,
    // in the order the file system lists them; an entry that disappears while it is looked at
    // is left out. False once the listing is over: `error` is then 0 at its end and the
    // system's error number when listing failed (the entries appended before stay valid).
    bool Read(std::vector<TEntry>& entries, std::size_t most, int& error);
    // Lets go of the system's handle of a folder whose listing has been read to its end.
    void Suspend();
    // Takes up the handle of this suspended folder again from `child`, a folder opened from it
    // and still open. False, with `error` set, when that fails or the folder found there is no
    // longer this one.
    bool Resume(const TFolder& child, int& error);

private:
    friend class TInputFile;
    std::unique_ptr<TFolderState> F;
};

// A file open for reading.
class TInputFile {
public:
    TInputFile() = default;
    ~TInputFile();
    TInputFile(const TInputFile&) = delete;
    TInputFile& operator=(const TInputFile&) = delete;

    // Opens the entry `name` of `folder`, or the path `name` when `folder` is null, following
    // links. `listedAsFile` says that a listing showed a regular file there, which spares a
    // look before opening. On Failed, `error` holds the system's error number.
    EOpenResult Open(const TFolder* folder, const std::string& name, bool listedAsFile, int& error);
    // Reads up to `size` bytes into `buffer`: the count read, 0 at the end of the file, -1
    // with `error` set when reading fails.
    long long Read(char* buffer, std::size_t size, int& error);

private:
    std::intptr_t FHandle = -1;
};

// The system's text for an error number given by TInputFile.
std::string FileErrorText(int error);

} // namespace platform
