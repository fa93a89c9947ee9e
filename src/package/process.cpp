// Starting a child process and waiting for it.
#include "package/process.h"

#include "common/unique_handle.h"

std::wstring BuildCommandLine(const std::wstring& programPath, const std::vector<std::wstring>& arguments) {
  std::wstring commandLine = L"\"" + programPath + L"\"";
  for (const std::wstring& argument : arguments) {
    commandLine += L" \"";
    commandLine += argument;
    commandLine += L"\"";
  }
  return commandLine;
}

bool RunProcessAndWait(const std::wstring& programPath, const std::vector<std::wstring>& arguments,
                       DWORD& exitCode, bool hidden) {
  // CreateProcessW may write into the command line, so it gets its own terminated buffer.
  const std::wstring commandLine = BuildCommandLine(programPath, arguments);
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (hidden) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, hidden ? CREATE_NO_WINDOW : 0,
                        nullptr, nullptr, &startup, &info)) {
    return false;
  }
  unique_kernel_handle process(info.hProcess);
  unique_kernel_handle thread(info.hThread);
  thread.reset();  // nothing here needs the child's thread

  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 1;
  if (!::GetExitCodeProcess(process.get(), &code)) code = 1;
  exitCode = code;
  return true;
}
