#include "WinActivation.h"

#include <windows.h>

#include "WinWizardWindow.h"

bool BringRunningCopyToFront() {
    const HWND window = FindWindowW(WizardWindowClass, nullptr);
    // A window not shown yet is the running copy still starting: it comes up by itself.
    if (!window || !IsWindowVisible(window))
        return false;
    // Asynchronous: ShowWindow would wait for the window's thread, which may be busy.
    if (IsIconic(window))
        ShowWindowAsync(window, SW_RESTORE);
    // The modal dialog the window may show is what the user has to answer; it is its last
    // active pop-up (the window itself when there is none).
    return SetForegroundWindow(GetLastActivePopup(window)) != FALSE;
}
