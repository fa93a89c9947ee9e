// The setup window: its class, controls, fonts, colours and reaction to the worker's messages.
#pragma once

#include <windows.h>

#include <string_view>

#include "app/control_ids.h"

inline constexpr std::wstring_view kSetupWindowTitle = L"Fernquill Setup";
inline constexpr DWORD kSetupWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

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
