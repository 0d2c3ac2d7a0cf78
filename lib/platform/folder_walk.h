#pragma once
// Folder listing and file reading for the package search. Folders are held open while they are
// listed and sub-folders are opened from their parent's listing; a link is reported as a link
// and never entered as a folder. Files are opened following links and read in pieces.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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

    // Opens the folder `path` (UTF-8). False when it is missing, is not a folder, is itself a
    // link, or cannot be listed. Separators at the end of `path` are ignored.
    bool Open(const std::string& path);
    // Opens the entry `name` of `parent`'s listing in the same way.
    bool OpenChild(const TFolder& parent, const std::string& name);
    // The next entry of the listing, "." and ".." left out; false at its end. An entry that
    // disappears while it is looked at is left out.
    bool Next(std::string& name, EEntryKind& kind);

private:
    friend class TInputFile;
    std::unique_ptr<TFolderState> F;
};

// How opening a file ended.
enum class EOpenResult {
    Opened,
    NotThere,   // missing, a dangling link or a link loop
    NotRegular, // a folder, device or pipe; such files are never opened for reading
    Failed,     // exists but cannot be opened; the error number says why
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
