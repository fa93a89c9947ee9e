// The setup window: its class, controls, fonts, colours and reaction to the worker's messages.
#pragma once

#include <windows.h>

#include <string_view>

inline constexpr std::wstring_view kSetupWindowClass = L"FernquillSetupWindow";
inline constexpr std::wstring_view kSetupWindowTitle = L"Fernquill Setup";
inline constexpr DWORD kSetupWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

inline constexpr int IDC_INSTALL_DIR = 1001;
inline constexpr int IDC_BROWSE = 1002;
inline constexpr int IDC_DESKTOP_SHORTCUT = 1003;
inline constexpr int IDC_INSTALL = 1004;
inline constexpr int IDC_PROGRESS = 1005;
inline constexpr int IDC_STATUS = 1006;

inline constexpr COLORREF kBackgroundColour = RGB(18, 21, 30);
inline constexpr COLORREF kStaticTextColour = RGB(235, 238, 247);

struct InstallRequest;

// Starts one install run on its own detached thread; throws (std::system_error) when no thread can
// be made. The install button calls it through g_startInstallRun, which tests may point elsewhere.
void StartInstallThread(InstallRequest request);
using InstallRunStarter = void (*)(InstallRequest request);
extern InstallRunStarter g_startInstallRun;

// Owned by the program entry; the window class paints with it and static controls are filled with it.
extern HBRUSH g_backgroundBrush;

// "Segoe UI" at a character height of pixelHeight pixels; the caller owns the font.
HFONT MakeUiFont(int pixelHeight, int weight);

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers "FernquillSetupWindow" with SetupWindowProc, icon 101 and g_backgroundBrush.
ATOM RegisterSetupWindowClass(HINSTANCE instance);
