#pragma once
// A second start that helps: the copy that may not run brings the running copy's window to the
// front before it ends.

// Finds the running copy's wizard window (a visible top-level window of class
// WizardWindowClass on this desktop) and brings it to the front: restored if it is minimised,
// then made the foreground window, or the dialog it shows over itself if there is one. True
// when such a window was found and the system accepted the foreground change.
//
// The rights are those of a program the user has just started: Windows lets a process started
// by the foreground process (the shell, which got the user's click) set the foreground window,
// so the copy that ends does it itself and the running copy needs no message. Nothing waits
// on the running copy: a busy one is restored once it reads its messages.
bool BringRunningCopyToFront();
