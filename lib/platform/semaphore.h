#pragma once
// Named counting semaphores with the meanings of the Win32 calls of the same names, and the
// calling thread's last error code.
//
// Names: "Global\<name>" is shared by every user of the machine; a bare "<name>" (or
// "Local\<name>") is private to the user. Object names are case-sensitive; any character may
// appear in <name>. A semaphore lives as long as some process has a handle to it open.
//
// On Windows these are the system's kernel semaphores, with the system's rules: a unit taken
// is not tied to the handle that took it; it comes back by ReleaseSemaphore, or when the last
// handle anywhere is closed and the semaphore itself goes (a later create starts afresh). So a
// single holder that ends, also by a crash, frees the slot.
//
// On Linux the units a process has taken come back when it closes its handle or ends, also by
// a crash. On Linux one lock file per name stands for the semaphore ("pendock-sem-<name>",
// characters outside [A-Za-z0-9{}._-] written as %XX). The machine-wide names live in /tmp, the
// user's names in $XDG_RUNTIME_DIR, else in /tmp/pendock-<uid> (made mode 0700): the lock folders
// of the roots handed to the layer (platform/roots.h), which the environment variables
// PENDOCK_LOCK_DIR_GLOBAL and PENDOCK_LOCK_DIR_USER, when set and not empty, replace (tests use
// them to stay apart from a running program and from each other). The user's directory must be
// owned by the user and writable by no one else. A machine-wide directory that cannot be used
// (missing, not a directory, or a new lock file cannot be created in it), or a machine-wide name
// held there by something this user cannot use as a lock file (a symbolic link, folder, pipe, or a
// file that may not be opened), fails the open with ERROR_INVALID_NAME, as Windows does without a
// machine-wide namespace. Limits of this implementation: the maximum count is at most
// MaxSemaphoreCount, and a name maps to a file name of at most 255 bytes.

#include <cstdint>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace platform {

#if defined(_WIN32)
using DWORD = ::DWORD;
using LONG = ::LONG;
#else
using DWORD = std::uint32_t;
using LONG = std::int32_t;
#endif
// A semaphore handle; 0 is no handle.
using SemHandle = std::uint32_t;

#if !defined(_WIN32)
// The Win32 values (macros of <windows.h> there, so portable code names them unqualified) of the
// wait results and of the error codes these calls give.
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr DWORD INFINITE = 0xFFFFFFFFu;

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_TOO_MANY_POSTS = 298;
inline constexpr DWORD ERROR_TIMEOUT = 1460;
#endif

// The largest maximum count CreateSemaphoreW accepts here.
inline constexpr LONG MaxSemaphoreCount = 4096;

// Creates the semaphore `name` (UTF-8) with `initialCount` free units out of `maximumCount`,
// or opens it when it exists already; then its own maximum and count hold and the two counts
// given are ignored. `attributes` must be null (no security attributes). Returns the handle,
// with last error ERROR_ALREADY_EXISTS when it was opened and 0 when it was created; returns 0
// on failure with the reason as last error (ERROR_INVALID_PARAMETER for bad counts or
// attributes, ERROR_INVALID_NAME for an empty name or an unusable machine-wide directory or
// name, ERROR_INVALID_HANDLE when something other than a lock file has the name,
// ERROR_ACCESS_DENIED when the lock file or the user's directory may not be used).
SemHandle CreateSemaphoreW(const void* attributes, LONG initialCount, LONG maximumCount,
                           const std::string& name);

// Takes one unit, waiting at most `milliseconds` (INFINITE: no limit; 0: only if one is free
// now). WAIT_OBJECT_0 when taken, WAIT_TIMEOUT when none became free, WAIT_FAILED with the
// last error set otherwise (ERROR_INVALID_HANDLE for 0 or a closed handle).
DWORD WaitForSingleObject(SemHandle handle, DWORD milliseconds);

// Gives back `releaseCount` units that were taken through this handle; stores the number of
// free units before the call in *previousCount when it is not null. Fails (false, nothing
// given back) with ERROR_TOO_MANY_POSTS when the handle holds fewer units than that.
bool ReleaseSemaphore(SemHandle handle, LONG releaseCount, LONG* previousCount);

// Closes the handle; the units still taken through it come back. False with
// ERROR_INVALID_HANDLE for 0 or a handle that is not open.
bool CloseHandle(SemHandle handle);

// The calling thread's last error code.
DWORD GetLastError();
void SetLastError(DWORD code);

} // namespace platform
