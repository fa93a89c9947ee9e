// The install folder offered to the user: the default and the one picked with the shell's folder picker.
#pragma once

#include <windows.h>

#include <string>

// LocalAppData\Programs\Fernquill, or the bare "Fernquill" when that known folder cannot be had.
std::wstring DefaultInstallDir();

// Shows the folder picker. The picked folder with "Fernquill" appended; empty when cancelled;
// currentDir when the picked item has no file-system path.
std::wstring BrowseForInstallDir(HWND ownerWindow, const std::wstring& currentDir);

// The text logic of both, apart from the shell calls.
std::wstring InstallDirUnder(const std::wstring& localAppData);

struct FolderPick {
  bool chosen = false;      // the picker returned an item
  std::wstring folderPath;  // its file-system path; empty when it has none
};
std::wstring InstallDirFromPick(const FolderPick& pick, const std::wstring& currentDir);
