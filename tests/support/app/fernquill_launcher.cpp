// Stand-in for the installed launcher: writes down how it was started, so a test can see it.
// The record goes to the file named by FERNQUILL_LAUNCHER_LOG, or to launcher-log.txt beside the program.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "equipment_log.h"

namespace {

std::wstring LogPath() {
  std::wstring path;
  if (equipment::ReadEnvironment(L"FERNQUILL_LAUNCHER_LOG", path)) return path;
  path.assign(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), 32768);
  path.resize(length);
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"launcher-log.txt";
}

std::wstring CurrentFolder() {
  std::wstring folder(32768, L'\0');
  const DWORD length = ::GetCurrentDirectoryW(32768, folder.data());
  folder.resize(length < 32768 ? length : 0);
  return folder;
}

// Written beside the record and moved over it, so a reader never sees half a record.
bool WriteWhole(const std::wstring& path, const std::string& bytes) {
  const std::wstring partial = path + L".partial";
  HANDLE file = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
  if (!ok || written != bytes.size()) return false;
  return ::MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
         0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const wchar_t* commandLine = ::GetCommandLineW();
  std::string record = "command-line: " + equipment::WideToUtf8(commandLine) + "\n";
  record += "working-folder: " + equipment::WideToUtf8(CurrentFolder()) + "\n";
  int count = 0;
  if (LPWSTR* arguments = ::CommandLineToArgvW(commandLine, &count)) {
    for (int i = 0; i < count; ++i) record += "argument: " + equipment::WideToUtf8(arguments[i]) + "\n";
    ::LocalFree(arguments);
  }
  return WriteWhole(LogPath(), record) ? 0 : 2;
}
