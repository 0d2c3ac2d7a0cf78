#include "platform/program_com.h"

#include "platform/windows/com_init.h"

namespace platform {

static_assert(sizeof(HRESULT) == sizeof(std::int32_t));

TProgramCom::TProgramCom() : FResult(::CoInitialize(nullptr)) {}

TProgramCom::~TProgramCom() {
    // Reverse order: the application's initialisation first, if it is still in effect.
    win::FinalizeComForApplication();
    // Only a successful CoInitialize (S_OK or S_FALSE) is balanced; a failed one took nothing.
    if (SUCCEEDED(FResult))
        ::CoUninitialize();
}

} // namespace platform
