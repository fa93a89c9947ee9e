// Test equipment: one whole install run in a process of its own, so that a test can kill an installer
// midway. Usage: install_runner <update host> <install folder> [<report file>]
// Exit code 0 when the run succeeded, 1 when it failed, 64 for a wrong command line; the final text goes
// to the report file as UTF-8.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "equipment_log.h"
#include "install/install_worker.h"
#include "install/messages.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 && argc != 4) return 64;
  g_setupWindow = equipment::CreateMessageWindow(L"FernquillInstallRunner");
  if (g_setupWindow == nullptr) return 65;

  const InstallRequest request{argv[2], false};
  const std::wstring host = argv[1];
  std::thread worker([request, host] { RunInstall(request, host); });

  std::wstring finalText;
  bool success = false;
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_SETUP_STATUS) {
      if (const std::unique_ptr<std::wstring> text = TakeStatusText(msg.lParam)) finalText = *text;
    } else if (msg.message == WM_SETUP_FINISHED) {
      success = msg.wParam == 1;
      break;
    }
  }
  worker.join();

  if (argc == 4) {
    std::ofstream report(std::filesystem::path(argv[3]), std::ios::binary | std::ios::trunc);
    report << equipment::WideToUtf8(finalText);
  }
  return success ? 0 : 1;
}
