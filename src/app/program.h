// The installer's program: UI-thread set-up, the setup window and the message loop.
#pragma once

#include <windows.h>

// Runs the installer until its window is destroyed; returns the process exit code
// (0 after a normal close, 1 when the window class or the window cannot be made).
int RunSetupProgram(HINSTANCE instance, int showCommand);
