// The names by which the setup window and its controls are found: by the window itself, the window
// driver of the tests and the demo.
#pragma once

#include <string_view>

inline constexpr std::wstring_view kSetupWindowClass = L"FernquillSetupWindow";

inline constexpr int IDC_INSTALL_DIR = 1001;
inline constexpr int IDC_BROWSE = 1002;
inline constexpr int IDC_DESKTOP_SHORTCUT = 1003;
inline constexpr int IDC_INSTALL = 1004;
inline constexpr int IDC_PROGRESS = 1005;
inline constexpr int IDC_STATUS = 1006;
