// Named counting semaphores: the system's own, behind small handle numbers.
//
// The portable code keeps handles as 32-bit numbers; here each number stands for one system
// HANDLE in a table, so that 0, a number never handed out and a number already closed are
// told apart (ERROR_INVALID_HANDLE) instead of reaching the system as a stale handle value.
// The units behave as the system's do: a unit taken is given back by ReleaseSemaphore, and
// the semaphore (with its count) goes away when the last handle to it in any process is
// closed, also when a process ends without closing it.
//
// The last error is the system's own. Anything this file does after the system call that may
// touch it (the table's lock, allocation) is followed by putting the call's error back.

#include "platform/semaphore.h"

#include <mutex>
#include <unordered_map>

#include "base/TextUtil.h"
#include "platform/windows/wide_text.h"

namespace platform {
namespace {

struct THandleTable {
    std::mutex mutex;
    std::unordered_map<SemHandle, HANDLE> open;
    SemHandle next = 1;
};

// Never destroyed: handles may still be closed by objects that outlive static destruction.
THandleTable& Table() {
    static THandleTable* t = new THandleTable;
    return *t;
}

// The system handle behind `handle`, or null.
HANDLE LookUp(SemHandle handle) {
    if (handle == 0)
        return nullptr;
    THandleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const auto it = t.open.find(handle);
    return it == t.open.end() ? nullptr : it->second;
}

// A number for `h`; 0 when the table cannot take it.
SemHandle Enter(HANDLE h) {
    try {
        THandleTable& t = Table();
        std::lock_guard<std::mutex> lock(t.mutex);
        while (t.next == 0 || t.open.count(t.next) != 0)
            ++t.next;
        const SemHandle number = t.next++;
        t.open.emplace(number, h);
        return number;
    } catch (...) {
        return 0;
    }
}

// Takes `handle` out of the table; its system handle, or null when it was not there.
HANDLE TakeOut(SemHandle handle) {
    if (handle == 0)
        return nullptr;
    THandleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const auto it = t.open.find(handle);
    if (it == t.open.end())
        return nullptr;
    const HANDLE h = it->second;
    t.open.erase(it);
    return h;
}

} // namespace

SemHandle CreateSemaphoreW(const void* attributes, LONG initialCount, LONG maximumCount,
                           const std::string& name) {
    if (attributes != nullptr || maximumCount < 1 || maximumCount > MaxSemaphoreCount ||
        initialCount < 0 || initialCount > maximumCount) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // An empty name would make an unnamed semaphore, which no other process can find.
    std::size_t prefix = 0;
    if (textutil::IStartsWith(name, "global\\"))
        prefix = 7;
    else if (textutil::IStartsWith(name, "local\\"))
        prefix = 6;
    if (name.size() == prefix) {
        ::SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::wstring wide;
    try {
        wide = win::Widen(name);
    } catch (...) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    const HANDLE h = ::CreateSemaphoreW(nullptr, initialCount, maximumCount, wide.c_str());
    const DWORD error = ::GetLastError();
    if (h == nullptr) {
        ::SetLastError(error);
        return 0;
    }
    const SemHandle number = Enter(h);
    if (number == 0) {
        ::CloseHandle(h);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    ::SetLastError(error == ERROR_ALREADY_EXISTS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return number;
}

DWORD WaitForSingleObject(SemHandle handle, DWORD milliseconds) {
    const HANDLE h = LookUp(handle);
    if (h == nullptr) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    const DWORD result = ::WaitForSingleObject(h, milliseconds);
    // A semaphore is never abandoned; anything but these two is a failure.
    if (result != WAIT_OBJECT_0 && result != WAIT_TIMEOUT && result != WAIT_FAILED) {
        ::SetLastError(ERROR_GEN_FAILURE);
        return WAIT_FAILED;
    }
    return result;
}

bool ReleaseSemaphore(SemHandle handle, LONG releaseCount, LONG* previousCount) {
    const HANDLE h = LookUp(handle);
    if (h == nullptr) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (releaseCount < 1) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return ::ReleaseSemaphore(h, releaseCount, previousCount) != FALSE;
}

bool CloseHandle(SemHandle handle) {
    const HANDLE h = TakeOut(handle);
    if (h == nullptr) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return ::CloseHandle(h) != FALSE;
}

DWORD GetLastError() {
    return ::GetLastError();
}

void SetLastError(DWORD code) {
    ::SetLastError(code);
}

} // namespace platform
