// Entry point of FernquillSetup.exe: a Unicode GUI program; the command line is not read.
#include <windows.h>

#include "app/program.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  return RunSetupProgram(instance, showCommand);
}
