// Expanding the package archive through Windows PowerShell.
#include "package/expand.h"

#include <windows.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "common/text.h"
#include "common/unique_handle.h"
#include "package/process.h"

namespace {

// A link or junction goes as a link: RemoveDirectoryW or DeleteFileW of the reparse point itself,
// which never touches what it points to.
void RemoveEntry(const std::wstring& path, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ::RemoveDirectoryW(path.c_str());
    return;
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  ::DeleteFileW(path.c_str());
}

bool IsPowerShellSingleQuote(wchar_t c) {
  return c == L'\u0027' || c == L'\u2018' || c == L'\u2019' || c == L'\u201A' || c == L'\u201B';
}

}  // namespace

std::wstring PowerShellQuote(const std::wstring& text) {
  std::wstring quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back(L'\'');
  for (wchar_t c : text) {
    quoted.push_back(c);
    if (IsPowerShellSingleQuote(c)) quoted.push_back(c);
  }
  quoted.push_back(L'\'');
  return quoted;
}

std::wstring BuildExpandCommand(const std::wstring& packagePath, const std::wstring& stagingDir) {
  return L"Expand-Archive -LiteralPath " + PowerShellQuote(packagePath) + L" -DestinationPath " +
         PowerShellQuote(stagingDir) + L" -Force";
}

std::vector<std::wstring> BuildExpandArguments(const std::wstring& packagePath,
                                               const std::wstring& stagingDir) {
  return {L"-NoLogo",
          L"-NoProfile",
          L"-NonInteractive",
          L"-ExecutionPolicy",
          L"Bypass",
          L"-Command",
          BuildExpandCommand(packagePath, stagingDir)};
}

void RemoveStagingFolder(const std::wstring& stagingDir) {
  const DWORD rootAttributes = ::GetFileAttributesW(stagingDir.c_str());
  if (rootAttributes == INVALID_FILE_ATTRIBUTES) return;
  if ((rootAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (rootAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return RemoveEntry(stagingDir, rootAttributes);
  }
  // Files go as they are met; folders afterwards, the deepest first (they were found after their parents).
  std::vector<std::wstring> folders{stagingDir};
  for (std::size_t next = 0; next < folders.size(); ++next) {
    const std::wstring folder = folders[next];
    WIN32_FIND_DATAW entry;
    unique_find_handle listing(::FindFirstFileExW(JoinPath(folder, L"*").c_str(), FindExInfoBasic, &entry,
                                                  FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!listing) continue;
    do {
      if (IsDotEntry(entry.cFileName)) continue;
      std::wstring path = JoinPath(folder, entry.cFileName);
      const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      const bool isLink = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if (isFolder && !isLink) {
        folders.push_back(std::move(path));
      } else {
        RemoveEntry(path, entry.dwFileAttributes);
      }
    } while (::FindNextFileW(listing.get(), &entry));
  }
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
    ::RemoveDirectoryW(folder->c_str());
}

bool ExpandPackage(const std::wstring& packagePath, const std::wstring& stagingDir, std::wstring& errorText) {
  // What cannot be removed stays; -Force lets the expansion overwrite it.
  RemoveStagingFolder(stagingDir);

  const std::filesystem::path staging(stagingDir);
  std::error_code created;
  std::filesystem::create_directories(staging, created);
  ThrowIfOutOfMemory(created);
  if (created) {
    errorText = L"Не удалось создать временную папку.";
    return false;
  }

  DWORD exitCode = 0;
  if (!RunProcessAndWait(kPowerShellPath, BuildExpandArguments(packagePath, stagingDir), exitCode, true)) {
    errorText = L"Не удалось запустить PowerShell.";
    return false;
  }
  if (exitCode != 0) {
    errorText = L"Expand-Archive завершился с кодом " + std::to_wstring(exitCode);
    return false;
  }
  return true;
}
