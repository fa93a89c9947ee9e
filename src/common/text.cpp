// Text and error helpers.
#include "common/text.h"

#include <windows.h>

#include <climits>
#include <cwctype>
#include <filesystem>
#include <new>

#include "common/unique_handle.h"

std::wstring Utf8ToWide(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int byteCount = static_cast<int>(bytes.size());
  const int needed =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), byteCount, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  const int written = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), byteCount,
                                            wide.data(), needed);
  if (written <= 0) return {};
  wide.resize(static_cast<std::size_t>(written));
  return wide;
}

namespace {

std::wstring FormatMessageText(DWORD flags, LPCVOID source, DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length =
      ::FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                       source, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  unique_local_memory owner(buffer);
  if (length == 0 || buffer == nullptr) return {};
  return std::wstring(buffer, length);
}

}  // namespace

std::wstring WindowsErrorTextFor(unsigned long code) {
  std::wstring text = FormatMessageText(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
  // WinHTTP keeps its texts in its own message table, not the system's.
  if (text.empty() && code >= 12001 && code <= 12999) {
    if (HMODULE winhttp = ::GetModuleHandleW(L"winhttp.dll")) {
      text = FormatMessageText(FORMAT_MESSAGE_FROM_HMODULE, winhttp, code);
    }
  }
  if (text.empty()) text = L"Windows error " + std::to_wstring(code);
  return text;
}

std::wstring WindowsErrorText() {
  const DWORD code = ::GetLastError();
  return WindowsErrorTextFor(code);
}

bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

namespace {

// Only a letter makes a drive; libstdc++ takes any character before a colon (1:, ::) for one.
bool StartsWithDriveDesignator(const std::wstring& path) {
  return path.size() >= 2 && path[1] == L':' &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

}  // namespace

std::wstring JoinPath(const std::wstring& left, const std::wstring& right) {
  if (right.empty() || IsPathSeparator(right.front()) || StartsWithDriveDesignator(right)) {
    return (std::filesystem::path(left) / std::filesystem::path(right)).wstring();
  }
  // Relative pieces are joined by hand, so the rule holds whatever the C++ library takes for a root name.
  const bool needsNoSeparator =
      left.empty() || IsPathSeparator(left.back()) || (left.size() == 2 && StartsWithDriveDesignator(left));
  return needsNoSeparator ? left + right : left + L'\\' + right;
}

std::wstring TempFilePath(std::wstring_view name) {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, buffer);
  if (length == 0 || length > MAX_PATH - 1) return {};
  return JoinPath(std::wstring(buffer), std::wstring(name));
}

std::wstring TrimWhitespace(std::wstring text) {
  std::size_t begin = 0;
  while (begin < text.size() && std::iswspace(text[begin])) ++begin;
  std::size_t end = text.size();
  while (end > begin && std::iswspace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool IsDotEntry(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

void ThrowIfOutOfMemory(const std::error_code& error) {
  if (error == std::errc::not_enough_memory) throw std::bad_alloc();
}

std::wstring ToLowerText(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool EqualsIgnoringCase(std::wstring_view left, std::wstring_view right) {
  if (left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (std::towlower(left[i]) != std::towlower(right[i])) return false;
  }
  return true;
}
