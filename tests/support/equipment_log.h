// Shared by every program of the test equipment: UTF-8 text, standard output, the log file an
// environment variable names and a window that stands in for the setup window.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace equipment {

inline std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int count = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string bytes(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), count, bytes.data(), needed, nullptr, nullptr);
  return bytes;
}

// Wine hands a console program's output to the Unix side as bytes: UTF-8 through WriteFile, not the
// console API. stream is STD_OUTPUT_HANDLE or STD_ERROR_HANDLE.
inline void WriteStandard(DWORD stream, const std::wstring& text) {
  const std::string bytes = WideToUtf8(text);
  const HANDLE handle = ::GetStdHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

inline bool ReadEnvironment(const wchar_t* name, std::wstring& value) {
  const DWORD needed = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return false;
  value.assign(needed, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name, value.data(), needed);
  if (length == 0 || length >= needed) return false;
  value.resize(length);
  return true;
}

// Replaces the file named by the variable with the text as UTF-8; nothing when the variable is unset.
inline void WriteLogNamedBy(const wchar_t* variable, const std::wstring& text) {
  std::wstring path;
  if (!ReadEnvironment(variable, path)) return;
  std::ofstream log(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  const std::string bytes = WideToUtf8(text);
  log.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A message-only window of the calling thread for g_setupWindow to point at: the worker posts to it and
// the caller reads the messages from its queue. The class is registered on first use; null on failure.
inline HWND CreateMessageWindow(const wchar_t* className) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = ::DefWindowProcW;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.lpszClassName = className;
  if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  return ::CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                           nullptr);
}

}  // namespace equipment
