// The program entry on Windows: one copy per machine (a second start raises the first copy's
// window), the wizard window, the message loop.

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <utility>

#include "FormPendock.h"
#include "WinActivation.h"
#include "WinWizardWindow.h"
#include "main_windows.h"
#include "mod_FirstInstance.h"
#include "platform/program_com.h"
#include "platform/windows/com_init.h"

namespace {

// Names the machine-wide single-instance lock.
const char* const InstanceIdentifier = "{888D4D22-EDB2-4D13-A098-88CF11E0EECB}";

} // namespace

TMaxInstance* InstanceGuard = nullptr;

int RunPendock(int showCommand) {
    // COM for this thread before anything else, also in a copy that ends at once; it ends
    // after everything below.
    const platform::TProgramCom com;
    std::unique_ptr<TWinWizardWindow> PendockForm;

    // Before the guard, as on every system: the platform hands its layer where to look.
    TPendockPlatform platform = DefaultPendockPlatform();

    if (FirstInstance(InstanceIdentifier, InstanceGuard)) {
        platform::win::InitializeComForApplication();
        INITCOMMONCONTROLSEX controls{sizeof(controls),
                                      ICC_TAB_CLASSES | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);

        PendockForm = std::make_unique<TWinWizardWindow>(std::move(platform));
        // A window that could not be created leaves nothing to show and nothing that could
        // ever end the message loop, which would keep the instance slot for good: the program
        // ends at once instead.
        if (PendockForm->Handle()) {
            PendockForm->Show(showCommand == SW_HIDE ? SW_SHOWNORMAL : showCommand);
            PendockForm->RunMessageLoop();
        }

        ReleaseFirstInstance(InstanceGuard);
    } else {
        // A second start: the running copy's window comes to the front, this copy ends.
        BringRunningCopyToFront();
    }
    FreeFirstInstance(InstanceGuard);

    // The window and its COM users go before the application's COM layer.
    PendockForm.reset();
    platform::win::FinalizeComForApplication();
    return 0;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {
    return RunPendock(showCommand);
}
