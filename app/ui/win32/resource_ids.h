#pragma once
// Numbers of the program's resources, shared by pendock.rc and the code that loads them.

// The program's icon (the lowest icon id: the one the shell shows for Pendock.exe).
#define PENDOCK_ICON 1
// The PNG pictures, each drawn for 96, 120, 144 and 192 DPI (scales 0 to 3):
// PENDOCK_PNG_BASE + PENDOCK_PNG_SCALE_STEP x scale + the picture's index
// (wizard_resource::PictureIndex). The build reads these numbers from here.
#define PENDOCK_PNG_BASE 100
#define PENDOCK_PNG_SCALE_STEP 16
#define PENDOCK_PNG_SCALES 4
// The compressed skin.
#define PENDOCK_SKIN 200
