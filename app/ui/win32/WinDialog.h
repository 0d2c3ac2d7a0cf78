#pragma once
// The wizard's message dialog on Win32: a skinned modal window of class "TPendockDialog" with
// an icon, the text as plain text and the buttons of its kind (control ids IDOK, or IDYES and
// IDNO). It runs its own message loop with the owner disabled, so the owner's timers and
// window messages go on being delivered.

#include <windows.h>

#include <functional>
#include <string>

#include "WinImageView.h"
#include "WinSkin.h"
#include "WizardView.h"

extern const wchar_t* const DialogClass;

struct TDialogRequest {
    EDialogKind Kind = EDialogKind::Error;
    std::string Text; // UTF-8
    TDialogCaptions Captions;
};

// How the dialog looks: the window's skin and fonts, and the icons of the two kinds.
struct TDialogLook {
    const TWinSkin* Skin = nullptr;
    HFONT TextFont = nullptr;   // the message: the font of the window's texts
    HFONT ButtonFont = nullptr; // the buttons: the font of the window's buttons
    // The icons by kind (Error, Confirmation); an empty one gives way to the system's icon.
    const TWinPicture* Icons[2] = {nullptr, nullptr};
};

// Shows the dialog over `owner` and returns the button pressed. Escape, the close box or a quit
// message give OK for Error and No for Confirmation (a quit message is posted again).
// `opening` (may be empty) is called with the dialog once it is shown, before its loop runs.
EDialogButton RunDialog(HWND owner, const TDialogRequest& request, const TDialogLook& look,
                        const std::function<void(HWND)>& opening);
