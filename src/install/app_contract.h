// What the installer relies on from the installed application: file names, mutex, options, user data.
#pragma once

#include <string_view>

namespace app_contract {

inline constexpr std::wstring_view kMainExecutable = L"Fernquill.exe";
inline constexpr std::wstring_view kLauncherExecutable = L"FernquillLauncher.exe";
inline constexpr std::wstring_view kSingleInstanceMutex = L"Local\\Fernquill.SingleInstance.v1";
inline constexpr std::wstring_view kProductFolderName = L"Fernquill";
inline constexpr std::wstring_view kShortcutFileName = L"Fernquill.lnk";

// Options the launcher takes from the shell.
inline constexpr std::wstring_view kPackageOption = L"--package";
inline constexpr std::wstring_view kUriOption = L"--uri";

// Top-level entries of the install folder that belong to the application; never written.
inline constexpr std::wstring_view kUserDataFolders[] = {L"games", L"metadata", L"covers", L"config",
                                                         L"saves"};
inline constexpr std::wstring_view kUserDataFile = L"imgui.ini";

}  // namespace app_contract
