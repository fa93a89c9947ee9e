// One installer process started for a GUI test, and what the tests do with its window.
#pragma once

#include <windows.h>

#include <string>

#include "common/unique_handle.h"
#include "setup_window_driver.h"

// Started with CreateProcessW; closed with WM_CLOSE (or ended) when the object goes.
class InstallerProcess {
 public:
  explicit InstallerProcess(const std::wstring& exe);
  ~InstallerProcess();
  InstallerProcess(const InstallerProcess&) = delete;
  InstallerProcess& operator=(const InstallerProcess&) = delete;

  // Null when the process or its window did not come up.
  HWND window() const { return window_; }
  DWORD id() const { return processId_; }

  setup_driver::ControlState Control(int id) const { return setup_driver::ReadControl(window_, id); }
  bool WaitForInstallText(const std::wstring& text, DWORD timeoutMs) const;

  // Presses the install button and waits for the end of that run; false when it did not end.
  bool Install(DWORD timeoutMs) const;

  // Closes the window as the user would and returns the exit code, or -1 when the process did not end.
  long CloseAndWait();

 private:
  unique_kernel_handle process_;
  DWORD processId_ = 0;
  HWND window_ = nullptr;
};

// The installers of the build: the one with the configured host, and the one for the test server.
std::wstring DefaultInstallerPath();
std::wstring LocalInstallerPath();
