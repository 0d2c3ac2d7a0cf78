#include "MaxInstance.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "platform/semaphore.h"

static_assert(std::is_same_v<platform::SemHandle, std::uint32_t>);
static_assert(sizeof(platform::DWORD) == sizeof(std::uint32_t));

namespace {

std::function<void()>& TerminateHook() {
    static std::function<void()> hook;
    return hook;
}

} // namespace

void SetApplicationTerminateHook(std::function<void()> Hook) {
    TerminateHook() = std::move(Hook);
}

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
    if (FOwner != nullptr)
        FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
    // Each owned component takes itself off the list while it is destroyed.
    while (!FComponents.empty())
        delete FComponents.back();
    if (FOwner != nullptr) {
        auto& list = FOwner->FComponents;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

TMaxInstance::TMaxInstance(TComponent* AOwner) : TComponent(AOwner) {}

TMaxInstance::~TMaxInstance() {
    if (SemHeld)
        platform::ReleaseSemaphore(SemHandle, 1, nullptr);
    if (SemHandle != 0)
        platform::CloseHandle(SemHandle);
}

void TMaxInstance::Terminate() {
    if (FAutoKill && TerminateHook())
        TerminateHook()();
}

void TMaxInstance::GetSem() {
#if !defined(_WIN32) // macros of <windows.h> there
    using platform::ERROR_INVALID_NAME;
    using platform::WAIT_FAILED;
    using platform::WAIT_OBJECT_0;
    using platform::WAIT_TIMEOUT;
#endif

    SemHeld = false;
    ErrorCode = 0;
    const std::string bareName = FSemName;
    FSemName = "Global\\" + bareName;
    SemHandle = platform::CreateSemaphoreW(nullptr, FMaxInstances, FMaxInstances, FSemName);
    if (SemHandle == 0) {
        ErrorCode = platform::GetLastError();
        if (ErrorCode == ERROR_INVALID_NAME) {
            platform::SetLastError(0);
            FSemName = bareName;
            SemHandle = platform::CreateSemaphoreW(nullptr, FMaxInstances, FMaxInstances, FSemName);
        }
    }
    if (SemHandle == 0) {
        ErrorCode = platform::GetLastError();
        if (FSemFailure)
            FSemFailure(this);
        // No return: Terminate only asks the application to end. The wait below then fails on
        // the null handle and raises the failure once more, so that a handler hears of both
        // the creation's and the wait's failure and ErrorCode ends as the wait's.
        Terminate();
    }
    const platform::DWORD result = platform::WaitForSingleObject(SemHandle, FTimeOut);
    if (result == WAIT_OBJECT_0) {
        SemHeld = true;
    } else if (result == WAIT_TIMEOUT) {
        if (FTooMany)
            FTooMany(this);
        Terminate();
    } else if (result == WAIT_FAILED) {
        ErrorCode = platform::GetLastError();
        if (FSemFailure)
            FSemFailure(this);
        Terminate();
    }
}

void TMaxInstance::FreeSem() {
    ErrorCode = 0;
    if (SemHeld) {
        if (!platform::ReleaseSemaphore(SemHandle, 1, nullptr)) {
            ErrorCode = platform::GetLastError();
            return;
        }
        SemHeld = false;
    }
    if (SemHandle != 0) {
        if (platform::CloseHandle(SemHandle))
            SemHandle = 0;
        else
            ErrorCode = platform::GetLastError();
    }
}
