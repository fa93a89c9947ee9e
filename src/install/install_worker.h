// The background install run: from the running-application test to starting the installed launcher.
#pragma once

#include <string>

struct InstallRequest {
  std::wstring installDir;  // trimmed by the window, never empty; used unchanged
  bool createDesktopShortcut = false;
};

// Thread entry started by the window; the run reports only through posted messages, and every run ends
// with exactly one WM_SETUP_FINISHED, for want of memory too.
void InstallThreadProc(const InstallRequest& request) noexcept;

// One whole run against the given update server host ("name" or "name:port"), on the calling thread.
// InstallThreadProc is this with the host compiled into the installer.
void RunInstall(const InstallRequest& request, const std::wstring& updateHost) noexcept;
