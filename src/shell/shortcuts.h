// Start-menu and desktop shortcuts to the installed launcher.
#pragma once

#include <string>

// Needs COM initialised on the calling thread (apartment-threaded); makes nothing otherwise.
// The Start-menu shortcut every time, the desktop one only when asked; existing ones are replaced.
void CreateShortcuts(const std::wstring& installDir, bool createDesktopShortcut);

// Saves a shell link to targetPath started in workingDir, with the icon of the main executable there.
// True when the file was saved.
bool WriteShellLink(const std::wstring& linkPath, const std::wstring& targetPath,
                    const std::wstring& workingDir);
