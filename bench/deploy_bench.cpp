// Times DeployStagedTree over a staged tree into an empty and into an already populated install folder,
// beside a bare walk that only lists, creates folders and copies (FindFirstFileW, CreateDirectoryW,
// CopyFileW): the platform's own cost of the same work. A second bare walk also opens each file and
// reads its final path first: the platform's cost of telling a file link where a listing cannot.
// Usage: deploy_bench <staging folder> <work folder> [rounds]. Prints "<case> <seconds>" per round,
// the cases being empty, populated, bare_empty, bare_populated, checked_empty and checked_populated.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "deploy/deploy.h"
#include "test_support.h"

namespace {

[[noreturn]] void Fail(const std::wstring& what) {
  std::fprintf(stderr, "%s\n", test_support::WideToUtf8(what).c_str());
  std::exit(1);
}

template <typename Deploy>
double Time(Deploy deploy) {
  const auto start = std::chrono::steady_clock::now();
  deploy();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count();
}

void DeployOurs(const std::wstring& staging, const std::wstring& install) {
  std::wstring errorText;
  if (!DeployStagedTree(staging, install, errorText)) Fail(L"deployment failed: " + errorText);
}

void ReadFinalPath(const std::wstring& path) {
  const HANDLE file = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail(L"bare walk: cannot open " + path);
  wchar_t finalPath[MAX_PATH * 4];
  const DWORD length =
      ::GetFinalPathNameByHandleW(file, finalPath, MAX_PATH * 4, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  ::CloseHandle(file);
  if (length == 0 || length >= MAX_PATH * 4) Fail(L"bare walk: no final path for " + path);
}

void DeployBare(const std::wstring& staging, const std::wstring& install, bool checkEachFile) {
  if (!::CreateDirectoryW(install.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
    Fail(L"bare walk: cannot create " + install);
  WIN32_FIND_DATAW entry;
  const HANDLE listing = ::FindFirstFileW((staging + L"\\*").c_str(), &entry);
  if (listing == INVALID_HANDLE_VALUE) Fail(L"bare walk: cannot list " + staging);
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring source = staging + L"\\" + name;
    const std::wstring target = install + L"\\" + name;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      DeployBare(source, target, checkEachFile);
      continue;
    }
    if (checkEachFile) ReadFinalPath(source);
    if (!::CopyFileW(source.c_str(), target.c_str(), FALSE)) Fail(L"bare walk: cannot copy " + source);
  } while (::FindNextFileW(listing, &entry));
  ::FindClose(listing);
}

void Remove(const std::filesystem::path& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: deploy_bench <staging folder> <work folder> [rounds]\n");
    return 64;
  }
  const std::wstring staging = argv[1];
  const std::filesystem::path install = std::filesystem::path(argv[2]) / L"install";
  const std::filesystem::path bare = std::filesystem::path(argv[2]) / L"install-bare";
  const std::filesystem::path checked = std::filesystem::path(argv[2]) / L"install-checked";
  const int rounds = argc > 3 ? std::stoi(argv[3]) : 3;
  for (int round = 0; round < rounds; ++round) {
    // Alternated, so that a slower stretch of the machine falls on both alike.
    Remove(install);
    std::printf("empty %.3f\n", Time([&] { DeployOurs(staging, install.wstring()); }));
    Remove(bare);
    std::printf("bare_empty %.3f\n", Time([&] { DeployBare(staging, bare.wstring(), false); }));
    Remove(checked);
    std::printf("checked_empty %.3f\n", Time([&] { DeployBare(staging, checked.wstring(), true); }));
    std::printf("populated %.3f\n", Time([&] { DeployOurs(staging, install.wstring()); }));
    std::printf("bare_populated %.3f\n", Time([&] { DeployBare(staging, bare.wstring(), false); }));
    std::printf("checked_populated %.3f\n", Time([&] { DeployBare(staging, checked.wstring(), true); }));
    std::fflush(stdout);
  }
  Remove(install);
  Remove(bare);
  Remove(checked);
  return 0;
}
