#pragma once
// A second start that helps, over the session bus: the running copy owns the bus name
// "example.quorvento.Pendock" and serves the freedesktop interface org.freedesktop.Application
// at "/example/quorvento/Pendock" (the desktop entries' D-Bus activation, as launchers use it,
// named after the program's desktop entry); a copy that may not run calls its Activate before
// it ends, and the running copy brings its window to the front as far as the desktop lets it.
//
// Where there is no session bus, or another process owns the name, nothing happens: the
// second copy ends as it always did.

class QWidget;

// In the running copy, once the application object and `window` exist: takes the name and
// serves the interface for as long as `window` lives. Activate (and Open, which has nothing to
// open here) then restores the window if it is minimised, raises it and asks for it to be made
// active, or its modal dialog when it shows one; the activation token of the start that asked
// ("activation-token", xdg-activation on Wayland) goes with the request. ActivateAction does
// nothing, the program having no actions. False when the name could not be taken.
bool ServeActivation(QWidget* window);

// In a copy that may not run, which has no application object of its own: calls Activate on
// the running copy with the token of this start (XDG_ACTIVATION_TOKEN, DESKTOP_STARTUP_ID) if it
// has one, and waits for the answer at most two seconds. True when the running copy answered.
// Prints nothing.
bool RequestActivation();
