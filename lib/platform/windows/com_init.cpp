#include "platform/windows/com_init.h"

namespace platform::win {
namespace {

// The module layer: made during static initialisation, destroyed at module end. Nothing else
// in this file may be a static object with a destructor, so that the order is plain.
class TModuleCom {
public:
    TModuleCom() : FResult(::CoInitialize(nullptr)) {}
    ~TModuleCom() {
        // Reverse order: the application's initialisation first, if it is still in effect.
        FinalizeComForApplication();
        ::CoUninitialize();
    }
    TModuleCom(const TModuleCom&) = delete;
    TModuleCom& operator=(const TModuleCom&) = delete;

    HRESULT Result() const { return FResult; }

private:
    HRESULT FResult;
};

// Main-thread state of the application layer (constant-initialised, before any constructor).
bool gApplicationInitialized = false;
bool gApplicationTried = false;

// Constructed before main; referenced by the functions below so that linking any of them
// brings the initialiser with it.
TModuleCom gModuleCom;

} // namespace

HRESULT ModuleComResult() {
    return gModuleCom.Result();
}

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
