// A child process for process tests: exits with the code of its first argument (decimal or 0x hex).
//
// When FERNQUILL_CHILD_LOG is set it first writes there, as UTF-8 lines of key=value: the command line,
// the start-up show-window flags, how many processes share its console, the current folder and each
// argument it received.
#include <windows.h>

#include <cwchar>
#include <string>

#include "equipment_log.h"

namespace {

void Record(int argc, wchar_t* argv[]) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  ::GetStartupInfoW(&startup);
  wchar_t folder[MAX_PATH * 4] = {};
  ::GetCurrentDirectoryW(MAX_PATH * 4, folder);

  std::wstring text = L"command_line=" + std::wstring(::GetCommandLineW()) + L"\n";
  text +=
      L"uses_show_window=" + std::to_wstring((startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? 1 : 0) + L"\n";
  text += L"show_window=" + std::to_wstring(startup.wShowWindow) + L"\n";
  DWORD consoleProcesses[16] = {};
  text += L"console_processes=" + std::to_wstring(::GetConsoleProcessList(consoleProcesses, 16)) + L"\n";
  text += L"current_directory=" + std::wstring(folder) + L"\n";
  text += L"argument_count=" + std::to_wstring(argc - 1) + L"\n";
  for (int i = 1; i < argc; ++i) text += L"argument=" + std::wstring(argv[i]) + L"\n";

  equipment::WriteLogNamedBy(L"FERNQUILL_CHILD_LOG", text);
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  Record(argc, argv);
  const UINT code = argc > 1 ? static_cast<UINT>(std::wcstoul(argv[1], nullptr, 0)) : 0;
  ::ExitProcess(code);
}
