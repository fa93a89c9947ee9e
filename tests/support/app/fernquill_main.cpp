// Stand-in for the installed main executable: carries the application's icon and does nothing else.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
