// Deployment of the staged tree into the install folder.
#include "deploy/deploy.h"

#include <windows.h>

#include <filesystem>
#include <new>
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

// Any existing file or folder, for questions about it only: no access asked, nothing locked out.
unique_file_handle OpenForQuery(const wchar_t* path) {
  return unique_file_handle(::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
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
  ThrowIfOutOfMemory(error);
  if (error) return false;
  if (!absolute.has_filename() && absolute.has_relative_path()) absolute = absolute.parent_path();
  fs::path existing = absolute;
  std::vector<fs::path> missing;
  for (;;) {
    if (const unique_file_handle file = OpenForQuery(existing.c_str())) {
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

constexpr DWORD kAttributesThatBlockReplacing =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

std::wstring JoinRelative(const std::wstring& folder, const wchar_t* name) {
  return folder.empty() ? std::wstring(name) : folder + L'\\' + name;
}

// Where the file system supports reparse points, every link or junction carries
// FILE_ATTRIBUTE_REPARSE_POINT in a listing, so a plain entry reached from the final form of the
// staging folder is its own final form. Elsewhere a listing cannot tell a link, and each file is resolved.
bool ListingShowsLinks(HANDLE folder) {
  DWORD flags = 0;
  return ::GetVolumeInformationByHandleW(folder, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
         (flags & FILE_SUPPORTS_REPARSE_POINTS) != 0;
}

// The first entry of a folder, "." and ".." included; false only when the folder cannot be listed.
bool OpenListing(const std::wstring& folder, unique_find_handle& listing, WIN32_FIND_DATAW& entry) {
  listing.reset(::FindFirstFileExW(JoinPath(folder, L"*").c_str(), FindExInfoBasic, &entry,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  return static_cast<bool>(listing);
}

// What a walk has made of the target folder of one staged folder.
struct TargetFolder {
  bool ready = false;
  bool createdNow = false;  // nothing in it predates this deployment
};

// CreateDirectoryW up from the deepest existing folder; true when the folder was created.
bool CreateFolderWithParents(const std::wstring& folder) {
  if (::CreateDirectoryW(folder.c_str(), nullptr)) return true;
  if (::GetLastError() != ERROR_PATH_NOT_FOUND) return false;
  const std::size_t separator = folder.find_last_of(L"\\/");
  if (separator == std::wstring::npos || separator == 0 || folder[separator - 1] == L':' ||
      IsPathSeparator(folder[separator - 1])) {
    return false;
  }
  CreateFolderWithParents(folder.substr(0, separator));
  return ::CreateDirectoryW(folder.c_str(), nullptr) != 0;
}

void PrepareTargetFolder(const std::wstring& folder, TargetFolder& state) {
  if (state.ready) return;
  state.ready = true;
  if (::CreateDirectoryW(folder.c_str(), nullptr)) {
    state.createdNow = true;
    return;
  }
  // Anything else (a file of that name, no access) makes the copy fail and report it.
  if (::GetLastError() != ERROR_PATH_NOT_FOUND) return;
  state.createdNow = CreateFolderWithParents(folder);
}

// CopyFileW over a read-only, hidden or system file fails on Windows; only the file being replaced is
// changed.
void ClearAttributesThatBlockReplacing(const std::wstring& target) {
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      (attributes & kAttributesThatBlockReplacing) == 0) {
    return;
  }
  const DWORD kept = attributes & ~kAttributesThatBlockReplacing;
  ::SetFileAttributesW(target.c_str(), kept == 0 ? FILE_ATTRIBUTE_NORMAL : kept);
}

enum class Resolved { kFile, kNotAFile, kFailed, kUnreadable };

// The final path of an existing file or folder, links followed, without the \\?\ prefix.
bool FinalPathOf(const std::wstring& path, std::wstring& finalPath) {
  const unique_file_handle file = OpenForQuery(path.c_str());
  return file && FinalPathOfOpenFile(file.get(), finalPath);
}

// A link (or any entry a listing cannot vouch for) taken as the file it leads to, by its final path;
// one that leads out of the staging folder is refused.
Resolved ResolveLinkedFile(const std::wstring& path, bool isLink, const std::wstring& stagingFinal,
                           std::wstring& relativePath) {
  if (isLink) {  // what it leads to may be missing or a folder
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD code = ::GetLastError();
      return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? Resolved::kNotAFile
                                                                          : Resolved::kUnreadable;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Resolved::kNotAFile;
  }
  std::wstring finalPath;
  if (!FinalPathOf(path, finalPath)) return Resolved::kFailed;
  // Both final paths come from the same call, so a file below the staging folder starts with its path.
  const std::size_t base = stagingFinal.size() + (IsPathSeparator(stagingFinal.back()) ? 0 : 1);
  if (finalPath.size() <= base || finalPath.compare(0, stagingFinal.size(), stagingFinal) != 0 ||
      !IsPathSeparator(finalPath[base - 1])) {
    return Resolved::kFailed;
  }
  relativePath = finalPath.substr(base);
  return IsContainedRelativePath(relativePath) ? Resolved::kFile : Resolved::kFailed;
}

// One staged folder being listed: its listing, its path relative to the staging folder, its target.
struct WalkFrame {
  unique_find_handle listing;
  std::wstring relativeFolder;
  TargetFolder target;
  bool first = true;
};

// Walks the staging folder's final form depth first, each folder's content right after the folder, in
// the order the file system lists it; links and junctions to folders are visited but never entered.
bool CopyStagedFiles(const std::wstring& stagingDir, const std::wstring& installDir, bool installCreatedNow,
                     std::wstring& errorText) {
  std::wstring stagingFinal;
  bool listingShowsLinks = false;
  const unique_file_handle staging = OpenForQuery(stagingDir.c_str());
  if (staging && FinalPathOfOpenFile(staging.get(), stagingFinal)) {
    listingShowsLinks = ListingShowsLinks(staging.get());
  } else {
    fs::path weaklyCanonical;  // a staging folder that is not there is reported by its listing below
    if (!WeaklyCanonicalPath(stagingDir, weaklyCanonical)) {
      errorText = kCannotFormTargetPath;
      return false;
    }
    stagingFinal = weaklyCanonical.wstring();
  }

  std::vector<WalkFrame> frames;
  WIN32_FIND_DATAW entry;
  frames.emplace_back();
  if (!OpenListing(stagingFinal, frames.back().listing, entry)) {
    errorText = kCannotReadStagedFiles;
    return false;
  }
  frames.back().target = {true, installCreatedNow};

  while (!frames.empty()) {
    WalkFrame& frame = frames.back();
    if (!frame.first && !::FindNextFileW(frame.listing.get(), &entry)) {
      if (::GetLastError() != ERROR_NO_MORE_FILES) {
        errorText = kCannotReadStagedFiles;
        return false;
      }
      frames.pop_back();
      continue;
    }
    frame.first = false;
    if (IsDotEntry(entry.cFileName)) continue;

    const bool isLink = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    std::wstring relativePath = JoinRelative(frame.relativeFolder, entry.cFileName);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (isLink) continue;
      WalkFrame inner;
      inner.relativeFolder = std::move(relativePath);
      if (!OpenListing(JoinPath(stagingFinal, inner.relativeFolder), inner.listing, entry)) {
        errorText = kCannotReadStagedFiles;
        return false;
      }
      frames.push_back(std::move(inner));
      continue;
    }

    const std::wstring source = JoinPath(stagingFinal, relativePath);
    bool inListedFolder = true;  // and so in the folder whose target the frame prepares
    if (isLink || !listingShowsLinks) {
      const std::wstring listedPath = relativePath;
      switch (ResolveLinkedFile(source, isLink, stagingFinal, relativePath)) {
        case Resolved::kFile:
          break;
        case Resolved::kNotAFile:
          continue;
        case Resolved::kFailed:
          errorText = kCannotFormTargetPath;
          return false;
        case Resolved::kUnreadable:
          errorText = kCannotReadStagedFiles;
          return false;
      }
      inListedFolder = relativePath == listedPath;
    }
    if (IsUserDataPath(relativePath)) continue;

    const std::wstring target = JoinPath(installDir, relativePath);
    TargetFolder linkedTarget;
    TargetFolder& targetFolder = inListedFolder ? frame.target : linkedTarget;
    PrepareTargetFolder(target.substr(0, target.find_last_of(L"\\/")), targetFolder);
    if (!targetFolder.createdNow) ClearAttributesThatBlockReplacing(target);
    // std::filesystem::copy_file of mingw-w64 cannot overwrite; the platform copy can.
    if (!::CopyFileW(source.c_str(), target.c_str(), FALSE)) {
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
    const bool created = fs::create_directories(installDir, error);
    ThrowIfOutOfMemory(error);
    if (error) {
      failure = kCannotCreateInstallDir;
    } else if (CopyStagedFiles(stagingDir, installDir, created, failure)) {
      return true;
    }
  } catch (const std::bad_alloc&) {
    throw;  // the worker ends the run for want of memory, not for an unreadable folder
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
