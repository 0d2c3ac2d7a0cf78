#include "platform/windows/com_init.h"

namespace platform::win {
namespace {

// Main-thread state of the application layer.
bool gApplicationInitialized = false;
bool gApplicationTried = false;

} // namespace

bool InitializeComForApplication() {
    if (gApplicationTried)
        return gApplicationInitialized;
    gApplicationTried = true;
    gApplicationInitialized = SUCCEEDED(::CoInitialize(nullptr));
    return gApplicationInitialized;
}

void FinalizeComForApplication() {
    if (gApplicationInitialized)
        ::CoUninitialize();
    gApplicationInitialized = false;
    gApplicationTried = false;
}

bool ComApplicationInitialized() {
    return gApplicationInitialized;
}

TComThreadScope::TComThreadScope(DWORD model) : FResult(::CoInitializeEx(nullptr, model)) {}

TComThreadScope::~TComThreadScope() {
    if (SUCCEEDED(FResult))
        ::CoUninitialize();
}

} // namespace platform::win
