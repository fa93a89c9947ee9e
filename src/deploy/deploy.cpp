// Deployment of the staged tree into the install folder.
#include "deploy/deploy.h"

#include <windows.h>

#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/text.h"
#include "common/unique_handle.h"
#include "install/app_contract.h"

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kCannotCreateInstallDir[] = L"Не удалось создать папку установки.";
constexpr wchar_t kCannotFormTargetPath[] = L"Ошибка построения пути установки.";
constexpr wchar_t kCannotInstallFile[] = L"Не удалось установить: ";
constexpr wchar_t kCannotReadStagedFiles[] = L"Не удалось прочитать распакованные файлы.";

// Windows ignores trailing dots and spaces of a name when it opens a path: "config." opens "config".
std::wstring_view WithoutTrailingDotsAndSpaces(std::wstring_view name) {
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.remove_suffix(1);
  return name;
}

std::wstring WithoutLongPathPrefix(std::wstring path) {
  constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";
  constexpr std::wstring_view kPrefix = L"\\\\?\\";
  if (path.compare(0, kUncPrefix.size(), kUncPrefix) == 0) return L"\\\\" + path.substr(kUncPrefix.size());
  if (path.compare(0, kPrefix.size(), kPrefix) == 0) return path.substr(kPrefix.size());
  return path;
}

bool FinalPathOfOpenFile(HANDLE file, std::wstring& finalPath) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return false;
    if (length < buffer.size()) {
      buffer.resize(length);
      finalPath = WithoutLongPathPrefix(std::move(buffer));
      return true;
    }
    buffer.resize(length);  // the size asked for includes the terminator
  }
}

// The weakly canonical form: the existing part resolved to its final form (links followed, short
// names expanded, the case as stored), the missing rest appended lexically. The library's
// weakly_canonical does this with MSVC, but with mingw-w64 it neither follows links nor expands short
// names, and a link could then lead a file out of the staging folder unseen.
bool WeaklyCanonicalPath(const fs::path& path, fs::path& canonical) {
  std::error_code error;
  fs::path absolute = fs::absolute(path, error).lexically_normal();
  if (error) return false;
  if (!absolute.has_filename() && absolute.has_relative_path()) absolute = absolute.parent_path();
  fs::path existing = absolute;
  std::vector<fs::path> missing;
  for (;;) {
    unique_file_handle file(::CreateFileW(existing.c_str(), 0,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file) {
      std::wstring finalPath;
      if (!FinalPathOfOpenFile(file.get(), finalPath)) return false;
      fs::path result(finalPath);
      for (auto part = missing.rbegin(); part != missing.rend(); ++part) result /= *part;
      canonical = result.lexically_normal();
      return true;
    }
    const DWORD code = ::GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return false;
    if (!existing.has_relative_path()) {
      canonical = absolute;  // nothing of it exists
      return true;
    }
    missing.push_back(existing.filename());
    existing = existing.parent_path();
  }
}

// A folder link or junction: visited as an entry, never entered, as on Windows with default options.
bool IsLinkedFolder(const fs::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The walk and the status tests throw; the caller turns that into a failed deployment.
bool CopyStagedFiles(const std::wstring& stagingDir, const std::wstring& installDir,
                     std::wstring& errorText) {
  fs::path stagingCanonical;
  if (!WeaklyCanonicalPath(stagingDir, stagingCanonical)) {
    errorText = kCannotFormTargetPath;
    return false;
  }
  for (fs::recursive_directory_iterator it(stagingDir), end; it != end; ++it) {
    const fs::directory_entry& entry = *it;
    if (!entry.is_regular_file()) {
      if (IsLinkedFolder(entry.path())) it.disable_recursion_pending();
      continue;
    }
    fs::path entryCanonical;
    if (!WeaklyCanonicalPath(entry.path(), entryCanonical)) {
      errorText = kCannotFormTargetPath;
      return false;
    }
    const std::wstring relativePath = entryCanonical.lexically_relative(stagingCanonical).wstring();
    // A link to a file outside the staging folder comes out climbing or rooted: never follow it out.
    if (!IsContainedRelativePath(relativePath)) {
      errorText = kCannotFormTargetPath;
      return false;
    }
    if (IsUserDataPath(relativePath)) continue;

    const std::wstring target = JoinPath(installDir, relativePath);
    std::error_code ignored;  // a folder that is really missing makes the copy fail and report it
    fs::create_directories(fs::path(target).parent_path(), ignored);
    // std::filesystem::copy_file of mingw-w64 cannot overwrite; the platform copy can.
    if (!::CopyFileW(entry.path().c_str(), target.c_str(), FALSE)) {
      errorText = kCannotInstallFile + relativePath;
      return false;
    }
  }
  return true;
}

}  // namespace

bool DeployStagedTree(const std::wstring& stagingDir, const std::wstring& installDir,
                      std::wstring& errorText) {
  std::wstring failure;
  try {
    std::error_code error;
    fs::create_directories(installDir, error);
    if (error) {
      failure = kCannotCreateInstallDir;
    } else if (CopyStagedFiles(stagingDir, installDir, failure)) {
      return true;
    }
  } catch (...) {
    // Nothing may leave the worker thread as an exception; what throws here is the walk and its tests.
    failure = kCannotReadStagedFiles;
  }
  errorText = std::move(failure);
  return false;
}

bool IsUserDataPath(const std::wstring& relativePath) {
  if (relativePath.empty()) return true;
  const std::wstring_view path(relativePath);
  const std::wstring_view first = WithoutTrailingDotsAndSpaces(path.substr(0, path.find_first_of(L"\\/")));
  for (std::wstring_view folder : app_contract::kUserDataFolders) {
    if (EqualsIgnoringCase(first, folder)) return true;
  }
  return EqualsIgnoringCase(WithoutTrailingDotsAndSpaces(path), app_contract::kUserDataFile);
}

bool IsContainedRelativePath(const std::wstring& relativePath) {
  if (relativePath.empty()) return false;
  const fs::path path(relativePath);
  if (path.has_root_name() || path.has_root_directory()) return false;
  for (const fs::path& part : path) {
    if (part.empty() || part == L"." || part == L"..") return false;
  }
  return true;
}
