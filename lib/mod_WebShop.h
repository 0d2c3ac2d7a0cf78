#pragma once
// The hand-over to the web shop: the installed package identifier read from the key's product
// folder, and the address of the shop's upgrade page for the key.

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>

// Most bytes read from a package.id file; a longer first line is cut there.
inline constexpr std::size_t PackageIdReadLimit = 64 * 1024;
// Most bytes (of UTF-8) of a package identifier; a longer one is cut on a character boundary.
// Well below the length of an argument the system refuses, also once percent-encoded.
inline constexpr std::size_t PackageIdMaxBytes = 255;

// A package.id file that exists but cannot be read (opening or reading it failed with an
// error other than "not there"). Error() is the system's error number (errno, or the Windows
// error code); what() names the file and the system's reason.
class EPackageIdReadError : public std::runtime_error {
public:
    EPackageIdReadError(const std::string& path, int error);
    int Error() const { return FError; }

private:
    int FError;
};

// A folder of the package search, or the key's root, that cannot be listed (opening it or
// reading its listing failed with an error other than "not there" or "access denied"): a key
// that is damaged or was taken out. Error() is the system's error number; what() names the
// folder and the system's reason.
class EPackageSearchError : public std::runtime_error {
public:
    EPackageSearchError(const std::string& path, int error);
    int Error() const { return FError; }

private:
    int FError;
};

// The name of the product folder at a key's root.
inline constexpr const char* ProductFolderName = "Quorvento";

// Decodes the first line of a file's leading bytes into UTF-8. A UTF-8 byte-order mark
// (EF BB BF) gives UTF-8, FF FE UTF-16 little-endian, FE FF UTF-16 big-endian; without a mark
// the bytes are taken as UTF-8 where they are valid UTF-8 and as Windows-1252 otherwise. The
// line ends at the first control character: a carriage return or line feed, but also NUL, TAB
// or any other C0 control or DEL, and after decoding a C1 control (U+0080 to U+009F); without
// one it runs to the end of `bytes`. `cut` says that `bytes` stops short of the file's end: a
// character cut in two there is then dropped (and does not make the text invalid UTF-8).
// Malformed sequences become U+FFFD. The result is cut to PackageIdMaxBytes on a character
// boundary. False, with `line` untouched, when `bytes` holds no line (nothing, or only a
// byte-order mark).
bool DecodeFirstLine(const std::string& bytes, std::string& line, bool cut = false);

// Reads the first line of the file at `path` (symbolic links followed) as DecodeFirstLine
// does, reading no further than the first control character and no more than
// PackageIdReadLimit bytes.
// False, with `line` untouched, when the file has no line or `path` is not a regular file
// (missing, a dangling link, a folder, a device, a pipe). Throws EPackageIdReadError when the
// file exists but cannot be read.
bool ReadFirstLine(const std::string& path, std::string& line);

// Called by FindPackageId as it begins and then after each 20 ms or so of search work, also
// inside a long listing; the window processes its pending messages.
using TProcessMessages = std::function<void()>;
// Asked after each call of TProcessMessages: true when the program has meanwhile been asked to
// end, and the search is to stop.
using TSearchStopped = std::function<bool()>;

// Depth-first search of `folder` for a file named "package.id" (ASCII letters matched without
// regard to case), entries taken in the order the file system lists them, hidden ones included.
// The first such file that holds a line ends the search: its first line goes to `id` unchanged
// and the result is true. Empty files are passed over. Linked folders are not entered (a linked
// file is read as usual), and `folder` itself must be a real folder, not a link. A folder the
// system refuses to list (access denied) is passed over. The handles held stay few whatever the
// depth. `processMessages`, when set, is called as the search begins and at least every 20 ms
// of work after, and then `stopped`, when set: if it says so, the search ends at once. False
// with `id` untouched when nothing was found or the search was stopped. A folder that cannot
// be listed otherwise (an I/O error, a device gone) throws EPackageSearchError; a package.id
// that cannot be read throws EPackageIdReadError.
bool FindPackageId(const std::string& folder, std::string& id,
                   const TProcessMessages& processMessages = {},
                   const TSearchStopped& stopped = {});

// The web-shop host this build was configured with.
std::string ShopHost();

// `text` with every byte outside RFC 3986's unreserved characters (A-Z a-z 0-9 - . _ ~) written
// as %XX with upper-case hex digits.
std::string PercentEncode(const std::string& text);

// "http://" host "/custom-backend?q=ecommerce---usbupgrade---vendor___" vendor
// "---serial___" serial "---type___" type "---installed___" installed, each of the four values
// percent-encoded; a '-' at either end of a value or next to another '-' is written %2D, so
// that the separators "---" are the only ones in the address.
std::string BuildShopAddress(const std::string& UsbVID, const std::string& UsbSN,
                             const std::string& UsbPID, const std::string& installed,
                             const std::string& host = ShopHost());

// True when `path` is a real folder (not a link), listable or not.
bool IsFolder(const std::string& path);

// The folder `name` in the folder `root`: `root` joined with `name` when a folder of that
// exact name is there, or else with the name of the first folder of `root`'s listing that
// differs from `name` only in the case of ASCII letters; `root` joined with `name` when there
// is neither. Throws EPackageSearchError when `root` cannot be listed.
std::string FindFolderIgnoringCase(const std::string& root, const std::string& name);

// The product folder "Quorvento" at the root of `drive` ("E:", or the bare letter "E"), found
// as FindFolderIgnoringCase finds it in the root folder that `rootOf` gives for the upper-case
// letter: "/media/key/Quorvento", "/media/key/QUORVENTO", "E:\Quorvento". Empty when `rootOf`
// is unset or gives nothing (the drive is not in use), or `drive` names no letter. Throws
// EPackageSearchError when the root cannot be listed.
std::string ProductFolderOf(const std::string& drive,
                            const std::function<std::string(char letter)>& rootOf);
