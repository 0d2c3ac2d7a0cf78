#pragma once
// The wizard's message dialog on Win32: a skinned modal window of class "TPendockDialog" with
// an icon, the text as plain text and the buttons of its kind (control ids IDOK, or IDYES and
// IDNO). It runs its own message loop with the owner disabled, so the owner's timers and
// window messages go on being delivered.

#include <windows.h>

#include <functional>
#include <string>

#include "WinSkin.h"
#include "WizardView.h"

extern const wchar_t* const DialogClass;

struct TDialogRequest {
    EDialogKind Kind = EDialogKind::Error;
    std::string Text; // UTF-8
    TDialogCaptions Captions;
};

// Shows the dialog over `owner` and returns the button pressed. Escape, the close box or a quit
// message give OK for Error and No for Confirmation (a quit message is posted again).
// `opening` (may be empty) is called with the dialog once it is shown, before its loop runs.
EDialogButton RunDialog(HWND owner, const TDialogRequest& request, const TWinSkin& skin,
                        HFONT font, const std::function<void(HWND)>& opening);
