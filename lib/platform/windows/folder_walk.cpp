// Folder listing and file reading on Win32: FindFirstFileExW / FindNextFileW for the listing,
// CreateFileW and ReadFile for the file. Paths are made absolute and given the "\\?\" prefix,
// so that a deep tree is not cut off at MAX_PATH. Sub-folders are opened by their full path,
// so a suspended folder keeps only its path and no handle.
#include "platform/folder_walk.h"

#include "platform/windows/wide_text.h"

#include <windows.h>

namespace platform {

struct TFolderState {
    std::wstring path; // absolute, prefixed, without a separator at the end
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW data{};
    bool pending = false; // `data` holds an entry not yet handed out
    bool listed = false;  // the listing has been read to its end
    void CloseFind() {
        if (find != INVALID_HANDLE_VALUE)
            ::FindClose(find);
        find = INVALID_HANDLE_VALUE;
    }
    ~TFolderState() { CloseFind(); }
};

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// `path` as an absolute path with the long-path prefix; empty when it cannot be made one.
// Device paths ("\\.\...") and already prefixed paths are kept as they are.
std::wstring LongPath(const std::wstring& path) {
    if (path.empty())
        return {};
    if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0)
        return path;
    const DWORD need = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (need == 0)
        return {};
    std::wstring full(need, L'\0');
    const DWORD got = ::GetFullPathNameW(path.c_str(), need, full.data(), nullptr);
    if (got == 0 || got >= need)
        return {};
    full.resize(got);
    if (full.rfind(L"\\\\.\\", 0) == 0)
        return full; // a device name such as NUL
    if (full.size() >= 2 && IsSeparator(full[0]) && IsSeparator(full[1]))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// Drops separators at the end, but keeps the one of a drive's root ("\\?\E:\").
void TrimSeparators(std::wstring& path) {
    while (path.size() > 1 && IsSeparator(path.back())) {
        const std::size_t n = path.size();
        if (n >= 3 && path[n - 2] == L':')
            break;
        path.pop_back();
    }
}

bool IsDotName(const wchar_t* n) {
    return n[0] == L'.' && (n[1] == L'\0' || (n[1] == L'.' && n[2] == L'\0'));
}

// Opens the folder `path` (already made long) and starts its listing.
EOpenResult OpenFolderPath(std::wstring path, std::unique_ptr<TFolderState>& out, int& error) {
    out.reset();
    TrimSeparators(path);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = ::GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME ||
            e == ERROR_BAD_PATHNAME || e == ERROR_INVALID_DRIVE)
            return EOpenResult::NotThere;
        if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION)
            return EOpenResult::Denied;
        error = static_cast<int>(e);
        return EOpenResult::Failed;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return EOpenResult::NotThere;
    auto state = std::make_unique<TFolderState>();
    state->path = path;
    const std::wstring pattern = path + (IsSeparator(path.back()) ? L"*" : L"\\*");
    state->find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &state->data,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (state->find == INVALID_HANDLE_VALUE) {
        const DWORD e = ::GetLastError();
        // A drive root without entries has not even "." to list.
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_NO_MORE_FILES) {
            state->listed = true;
        } else if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION) {
            return EOpenResult::Denied;
        } else if (e == ERROR_PATH_NOT_FOUND) {
            return EOpenResult::NotThere; // gone since it was looked at
        } else {
            error = static_cast<int>(e);
            return EOpenResult::Failed;
        }
    } else {
        state->pending = true;
    }
    out = std::move(state);
    return EOpenResult::Opened;
}

std::wstring ChildPath(const TFolderState& folder, const std::string& name) {
    std::wstring path = folder.path;
    if (!IsSeparator(path.back()))
        path += L'\\';
    return path + win::Widen(name);
}

} // namespace

TFolder::TFolder() = default;
TFolder::~TFolder() = default;
TFolder::TFolder(TFolder&&) noexcept = default;
TFolder& TFolder::operator=(TFolder&&) noexcept = default;

EOpenResult TFolder::Open(const std::string& path, int& error) {
    F.reset();
    std::wstring wide = win::Widen(path);
    TrimSeparators(wide);
    const std::wstring full = LongPath(wide);
    if (full.empty())
        return EOpenResult::NotThere;
    return OpenFolderPath(full, F, error);
}

EOpenResult TFolder::OpenChild(const TFolder& parent, const std::string& name, int& error) {
    if (!parent.F) {
        F.reset();
        error = ERROR_INVALID_HANDLE;
        return EOpenResult::Failed;
    }
    return OpenFolderPath(ChildPath(*parent.F, name), F, error);
}

bool TFolder::Read(std::vector<TEntry>& entries, std::size_t most, int& error) {
    error = 0;
    if (!F || F->listed)
        return false;
    for (std::size_t n = 0; n < most;) {
        if (!F->pending && !::FindNextFileW(F->find, &F->data)) {
            const DWORD e = ::GetLastError();
            if (e != ERROR_NO_MORE_FILES)
                error = static_cast<int>(e);
            F->listed = true;
            F->CloseFind();
            return false;
        }
        F->pending = false;
        const WIN32_FIND_DATAW& d = F->data;
        if (IsDotName(d.cFileName))
            continue;
        const DWORD a = d.dwFileAttributes;
        const EEntryKind kind = (a & FILE_ATTRIBUTE_REPARSE_POINT) ? EEntryKind::Link
                                : (a & FILE_ATTRIBUTE_DIRECTORY)   ? EEntryKind::Folder
                                                                   : EEntryKind::File;
        entries.push_back({win::Narrow(d.cFileName, ::wcslen(d.cFileName)), kind});
        ++n;
    }
    return true;
}

void TFolder::Suspend() {
    if (F)
        F->CloseFind();
}

bool TFolder::Resume(const TFolder& child, int& error) {
    if (!F || !child.F) {
        error = ERROR_INVALID_HANDLE;
        return false;
    }
    return true; // sub-folders are opened by path: nothing to take up again
}

TInputFile::~TInputFile() {
    if (FHandle != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(FHandle));
}

EOpenResult TInputFile::Open(const TFolder* folder, const std::string& name, bool, int& error) {
    if (FHandle != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(FHandle));
        FHandle = -1;
    }
    const std::wstring path =
        folder && folder->F ? ChildPath(*folder->F, name) : LongPath(win::Widen(name));
    if (path.empty())
        return EOpenResult::NotThere;
    // Backup semantics lets a folder be opened too, so that it is told apart from a file that
    // cannot be read; nothing is ever read from one.
    const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = ::GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ||
            e == ERROR_CANT_RESOLVE_FILENAME || e == ERROR_INVALID_NAME)
            return EOpenResult::NotThere;
        error = static_cast<int>(e);
        return EOpenResult::Failed;
    }
    FHandle = reinterpret_cast<std::intptr_t>(h);
    if (::GetFileType(h) != FILE_TYPE_DISK)
        return EOpenResult::NotRegular; // a device or pipe
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h, &info)) {
        error = static_cast<int>(::GetLastError());
        return EOpenResult::Failed;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return EOpenResult::NotRegular;
    return EOpenResult::Opened;
}

long long TInputFile::Read(char* buffer, std::size_t size, int& error) {
    if (FHandle == -1) {
        error = ERROR_INVALID_HANDLE;
        return -1;
    }
    DWORD got = 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::ReadFile(reinterpret_cast<HANDLE>(FHandle), buffer, want, &got, nullptr)) {
        const DWORD e = ::GetLastError();
        if (e == ERROR_HANDLE_EOF)
            return 0;
        error = static_cast<int>(e);
        return -1;
    }
    return got;
}

std::string FileErrorText(int error) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (n > 0 && text)
        out = win::Narrow(text, n);
    if (text)
        ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    if (out.empty())
        out = "error " + std::to_string(error);
    return out;
}

} // namespace platform
