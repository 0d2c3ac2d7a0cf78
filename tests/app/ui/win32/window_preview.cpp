// Puts the Win32 wizard window into one of its states and leaves it there, for screenshots:
//   win_window_preview briefing|detectkey|found|waitbrowser|error|confirm [FOLDER]
// The texts come from the locale.db and locale.xml in FOLDER (a Windows path ending in a
// separator), or beside Pendock.exe; the skin and pictures from Pendock.exe's resource. A new
// drive that nothing identifies appears for "error", an identified key for "found". Runs until
// its window is closed or the process is ended.

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <string>

#include "WinWizardWindow.h"
#include "platform/windows/wide_text.h"
#include "support/PreviewMachine.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    const std::string arguments = commandLine ? commandLine : "";
    const std::string state = arguments.substr(0, arguments.find(' '));
    const std::string given =
        arguments.find(' ') == std::string::npos ? "" : arguments.substr(arguments.find(' ') + 1);
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);

    std::string exe = PENDOCK_EXE;
    if (!exe.empty() && exe[0] == '/')
        exe = "Z:" + exe;
    HMODULE resources = LoadLibraryExW(platform::win::Widen(exe).c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    const std::string folder = given.empty() ? exe.substr(0, exe.find_last_of("/\\") + 1) : given;

    TPreviewMachine machine;
    machine.Identified = state == "found";
    TWinWizardWindow window(machine.Platform(folder), resources);
    window.Show();
    if (state == "detectkey" || state == "error" || state == "found") {
        SendMessageW(window.Control(EControl::ButtonNext), BM_CLICK, 0, 0);
        if (state != "detectkey") {
            machine.Plugged = true;
            PostMessageW(window.Handle(), WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0);
        }
    } else if (state == "waitbrowser") {
        window.ShowPage(EPage::WaitBrowser);
    } else if (state == "confirm") {
        PostMessageW(window.Handle(), WM_CLOSE, 0, 0);
    }
    window.RunMessageLoop();
    return 0;
}
