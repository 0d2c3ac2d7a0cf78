#pragma once
// The program's run on Windows, apart from WinMain so that a test program can run it too.

// One copy per machine, the wizard window, the message loop; returns the exit code, 0 on every
// path. `showCommand` is how WinMain was asked to show the window.
int RunPendock(int showCommand);
