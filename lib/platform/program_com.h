#pragma once
// COM for a program's main thread, from the first statement of its entry to the entry's end.
// Every program of the system makes one TProgramCom as the first local object of its entry
// (the wizard's run, the probe's main), so that COM is started by a call the program makes
// itself and never by an initialiser the linker might leave out.
//
// On Windows the constructor calls CoInitialize(nullptr) on the calling thread, which must be
// the main thread: a single-threaded apartment, in place before the single-instance test and so
// also in a copy that then ends at once. The WMI queries and the XML reader need it; without it
// both fail with CO_E_NOTINITIALIZED. The destructor first undoes the application's own
// initialisation if that is still in effect (platform/windows/com_init.h), then calls
// CoUninitialize once if CoInitialize succeeded (S_OK or S_FALSE). COM pointers must be released
// before it runs.
//
// On Linux, where WMI and the XML reader are reached without COM, it does nothing.

#include <cstdint>

namespace platform {

class TProgramCom {
public:
    TProgramCom();
    ~TProgramCom();
    TProgramCom(const TProgramCom&) = delete;
    TProgramCom& operator=(const TProgramCom&) = delete;

    // What CoInitialize gave (an HRESULT: S_OK, S_FALSE or an error); 0 on Linux.
    std::int32_t Result() const { return FResult; }

private:
    std::int32_t FResult = 0;
};

} // namespace platform
