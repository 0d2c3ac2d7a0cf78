#pragma once
// COM for the program's main thread, in two layers that are undone in reverse order.
//
// The program layer: platform::TProgramCom (platform/program_com.h), made by the first
// statement of the program's entry, calls CoInitialize(nullptr): a single-threaded apartment,
// in place before anything else of the program runs, also in a copy that ends at once as a
// second instance. When the entry ends it calls CoUninitialize once, whatever its CoInitialize
// gave.
//
// The application layer: InitializeComForApplication, called once by the program on the main
// thread before it creates its window, initialises COM once more (it succeeds with S_FALSE,
// COM being initialised already). FinalizeComForApplication undoes it only if it succeeded;
// the program layer's end does it if the program did not.
//
// COM pointers must be released before FinalizeComForApplication and before the program
// layer ends.

#include <windows.h>

#include <objbase.h>

namespace platform::win {

// Initialises COM for the application on the calling thread, which must be the main thread:
// CoInitialize(nullptr). True when that call succeeded (S_OK or S_FALSE); then
// FinalizeComForApplication, or the program layer's end, uninitialises it. A second call while the
// first one is in effect does nothing and gives the first one's outcome.
bool InitializeComForApplication();

// Undoes a successful InitializeComForApplication (CoUninitialize); does nothing when it
// failed, was not called, or has been undone already.
void FinalizeComForApplication();

// Whether the application layer's initialisation is in effect.
bool ComApplicationInitialized();

// COM for a thread other than the main one, for as long as the object lives:
// CoInitializeEx(nullptr, model) now, CoUninitialize when destroyed if that succeeded.
class TComThreadScope {
public:
    explicit TComThreadScope(DWORD model = COINIT_APARTMENTTHREADED);
    ~TComThreadScope();
    TComThreadScope(const TComThreadScope&) = delete;
    TComThreadScope& operator=(const TComThreadScope&) = delete;

    HRESULT Result() const { return FResult; }
    bool Succeeded() const { return SUCCEEDED(FResult); }

private:
    HRESULT FResult;
};

} // namespace platform::win
