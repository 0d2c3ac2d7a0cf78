#include "fake_semaphore.h"

namespace fake {
namespace {

std::vector<Call> gCalls;
Script gScript;
platform::DWORD gLastError = 0;

void Record(Call c) {
    c.lastErrorBefore = gLastError;
    gCalls.push_back(std::move(c));
}

} // namespace

void Reset() {
    gCalls.clear();
    gScript = Script{};
    gScript.create = [](const std::string&) { return platform::SemHandle(42); };
    gScript.createError = [](const std::string&) { return platform::DWORD(0); };
    gLastError = 0;
}

Script& CurrentScript() {
    return gScript;
}
const std::vector<Call>& Calls() {
    return gCalls;
}

int Count(const std::string& fn) {
    int n = 0;
    for (const Call& c : gCalls)
        n += c.fn == fn;
    return n;
}

} // namespace fake

namespace platform {

SemHandle CreateSemaphoreW(const void*, LONG initialCount, LONG maximumCount,
                           const std::string& name) {
    fake::Call call;
    call.fn = "create";
    call.name = name;
    call.initialCount = DWORD(initialCount);
    call.maximumCount = DWORD(maximumCount);
    fake::Record(call);
    const SemHandle h = fake::gScript.create(name);
    fake::gLastError = h == 0 ? fake::gScript.createError(name) : 0;
    return h;
}

DWORD WaitForSingleObject(SemHandle handle, DWORD milliseconds) {
    fake::Call call;
    call.fn = "wait";
    call.milliseconds = milliseconds;
    call.handle = handle;
    fake::Record(call);
    if (handle == 0) {
        fake::gLastError = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    if (fake::gScript.waitResult == WAIT_FAILED)
        fake::gLastError = fake::gScript.waitError;
    return fake::gScript.waitResult;
}

bool ReleaseSemaphore(SemHandle handle, LONG releaseCount, LONG*) {
    fake::Call call;
    call.fn = "release";
    call.releaseCount = DWORD(releaseCount);
    call.handle = handle;
    fake::Record(call);
    if (!fake::gScript.releaseOk)
        fake::gLastError = fake::gScript.releaseError;
    return fake::gScript.releaseOk;
}

bool CloseHandle(SemHandle handle) {
    fake::Call call;
    call.fn = "close";
    call.handle = handle;
    fake::Record(call);
    if (!fake::gScript.closeOk)
        fake::gLastError = fake::gScript.closeError;
    return fake::gScript.closeOk;
}

DWORD GetLastError() {
    return fake::gLastError;
}

void SetLastError(DWORD code) {
    fake::Call call;
    call.fn = "setlasterror";
    call.code = code;
    fake::Record(call);
    fake::gLastError = code;
}

} // namespace platform
