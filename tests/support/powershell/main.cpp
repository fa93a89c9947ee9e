// Stands in for Windows PowerShell in the test prefix: runs the installer's Expand-Archive command.
//
// FERNQUILL_POWERSHELL_LOG names a file that receives the command line as UTF-8 (replaced each start).
// FERNQUILL_POWERSHELL_EXIT_CODE makes it exit at once with that code (decimal or 0x hex), after the log.
#include <windows.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "command_parser.h"
#include "zip_archive.h"

namespace {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int count = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
  if (needed > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), count, bytes.data(), needed, nullptr, nullptr);
  return bytes;
}

bool ReadEnvironment(const wchar_t* name, std::wstring& value) {
  const DWORD needed = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return false;
  value.assign(needed, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name, value.data(), needed);
  if (length == 0 || length >= needed) return false;
  value.resize(length);
  return true;
}

void RecordCommandLine() {
  std::wstring logPath;
  if (!ReadEnvironment(L"FERNQUILL_POWERSHELL_LOG", logPath)) return;
  std::ofstream log(std::filesystem::path(logPath), std::ios::binary | std::ios::trunc);
  const std::string line = ToUtf8(::GetCommandLineW());
  log.write(line.data(), static_cast<std::streamsize>(line.size()));
}

int Fail(const std::wstring& message) {
  const std::string text = ToUtf8(message + L"\r\n");
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  if (error != nullptr && error != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  RecordCommandLine();

  std::wstring forcedCode;
  if (ReadEnvironment(L"FERNQUILL_POWERSHELL_EXIT_CODE", forcedCode)) {
    ::ExitProcess(static_cast<UINT>(std::wcstoul(forcedCode.c_str(), nullptr, 0)));
  }

  const std::vector<std::wstring> arguments(argv + 1, argv + argc);
  powershell_standin::ExpandArchiveCommand command;
  std::wstring error;
  if (!powershell_standin::ParseInvocation(arguments, command, error)) return Fail(error);
  if (!powershell_standin::ExpandZipArchive(command.literalPath, command.destinationPath, command.force,
                                            error)) {
    return Fail(L"Expand-Archive : " + error);
  }
  return 0;
}
