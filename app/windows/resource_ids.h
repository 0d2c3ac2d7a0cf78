#pragma once
// Numbers of the program's resources, shared by pendock.rc and the code that loads them.

// The program's icon (the lowest icon id: the one the shell shows for Pendock.exe).
#define PENDOCK_ICON 1
// The PNG pictures of the image store: PNG_BASE + the store index.
#define PENDOCK_PNG_BASE 100
// The compressed skin.
#define PENDOCK_SKIN 200
