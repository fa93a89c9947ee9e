// Entry point of FernquillSetup.exe: a Unicode GUI program; the command line is not read.
#include <windows.h>

#include "app/program.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // Before anything can load a DLL: the folder the installer was started from (often Downloads) must
  // never supply one. The late-bound system DLLs are then found in System32 only.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return RunSetupProgram(instance, showCommand);
}
