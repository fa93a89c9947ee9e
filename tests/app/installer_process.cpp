// Starting, driving and closing an installer process for the GUI tests.
#include "installer_process.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "app/control_ids.h"
#include "test_support.h"

namespace {

constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kCloseTimeoutMs = 10000;
constexpr DWORD kRunStartTimeoutMs = 10000;

}  // namespace

InstallerProcess::InstallerProcess(const std::wstring& exe) {
  test_support::StartOptions options;
  options.program = exe.c_str();
  try {
    process_ = test_support::StartProcess(L"\"" + exe + L"\"", options, &processId_);
  } catch (const std::exception& failure) {
    ADD_FAILURE() << failure.what();
    return;
  }
  window_ = setup_driver::WaitForSetupWindow(processId_, kStartTimeoutMs);
}

InstallerProcess::~InstallerProcess() {
  if (!process_) return;
  if (::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    setup_driver::PostClose(window_);
    if (::WaitForSingleObject(process_.get(), kCloseTimeoutMs) == WAIT_TIMEOUT) {
      ::TerminateProcess(process_.get(), 99);
    }
  }
}

bool InstallerProcess::WaitForInstallText(const std::wstring& text, DWORD timeoutMs) const {
  return setup_driver::WaitUntil([&] { return Control(IDC_INSTALL).text == text; }, timeoutMs);
}

bool InstallerProcess::Install(DWORD timeoutMs) const {
  if (!setup_driver::Click(window_, IDC_INSTALL)) return false;
  // The button reads "Устанавливаем..." for the whole run, whatever it read before.
  if (!WaitForInstallText(L"Устанавливаем...", kRunStartTimeoutMs)) return false;
  return setup_driver::WaitUntil([&] { return Control(IDC_INSTALL).text != L"Устанавливаем..."; }, timeoutMs);
}

long InstallerProcess::CloseAndWait() {
  setup_driver::PostClose(window_);
  if (::WaitForSingleObject(process_.get(), kCloseTimeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  ::GetExitCodeProcess(process_.get(), &code);
  return static_cast<long>(code);
}

std::wstring DefaultInstallerPath() { return test_support::BuildDir() + L"\\FernquillSetup.exe"; }
std::wstring LocalInstallerPath() {
  // Another installer for the same fixed host (the signed Release build) can take the local one's place:
  // FERNQUILL_LOCAL_INSTALLER names it relative to the build tree.
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"FERNQUILL_LOCAL_INSTALLER", path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return test_support::BuildDir() + L"\\" + path;
  return test_support::EquipmentPath(L"FernquillSetupLocal.exe");
}
