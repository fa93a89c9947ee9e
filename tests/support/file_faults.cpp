// Test equipment for file-system faults.
#include "file_faults.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>

#include "common/text.h"
#include "test_support.h"

namespace test_support {
namespace {

namespace fs = std::filesystem;

// Quoted for the Windows command line, which Wine splits into the Linux program's arguments: quotes
// inside are escaped; no argument here ends in a backslash.
std::wstring QuotedArgument(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  for (wchar_t c : argument) {
    if (c == L'"') quoted.push_back(L'\\');
    quoted.push_back(c);
  }
  quoted.push_back(L'"');
  return quoted;
}

}  // namespace

HeldByAnotherProcess::HeldByAnotherProcess(const fs::path& path) {
  static std::atomic<unsigned> counter{0};
  const std::wstring stem =
      L"Local\\fq-hold-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
  ready_.reset(::CreateEventW(nullptr, TRUE, FALSE, (stem + L"-ready").c_str()));
  release_.reset(::CreateEventW(nullptr, TRUE, FALSE, (stem + L"-release").c_str()));
  if (!ready_ || !release_) throw std::runtime_error("cannot create the hold events");
  process_ = StartProcess(L"\"" + EquipmentPath(L"hold_file.exe") + L"\" \"" + path.wstring() + L"\" " +
                          stem + L"-ready " + stem + L"-release");
  HANDLE waits[] = {ready_.get(), process_.get()};
  if (::WaitForMultipleObjects(2, waits, FALSE, 30000) != WAIT_OBJECT_0) {
    throw std::runtime_error("hold_file.exe did not get hold of " + WideToUtf8(path.wstring()));
  }
}

HeldByAnotherProcess::~HeldByAnotherProcess() {
  ::SetEvent(release_.get());
  ::WaitForSingleObject(process_.get(), 30000);
}

std::string UnixPathOf(const fs::path& path) {
  using UnixFileName = char*(CDECL*)(const wchar_t*);
  const auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixFileName == nullptr) throw std::runtime_error("not running under Wine");
  char* name = unixFileName(path.c_str());
  if (name == nullptr) throw std::runtime_error("no Unix name for " + WideToUtf8(path.wstring()));
  std::string result(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

void StartLinuxProgram(const wchar_t* program, const std::vector<std::wstring>& arguments) {
  std::wstring commandLine = QuotedArgument(program);
  for (const std::wstring& argument : arguments) commandLine += L" " + QuotedArgument(argument);
  StartOptions options;
  options.program = program;
  StartProcess(std::move(commandLine), options);
}

int RunLinuxShell(const std::wstring& command, DWORD timeoutMs) {
  TempFolder folder(L"linux-shell");
  const fs::path status = folder / L"status";
  // The status file is written whole and then renamed, so it is never read half written.
  StartLinuxProgram(L"Z:\\bin\\sh", {L"-c", L"(" + command + L"); echo $? > \"$0.tmp\"; mv \"$0.tmp\" \"$0\"",
                                     Utf8ToWide(UnixPathOf(status))});
  for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
    if (fs::exists(status)) return std::stoi(ReadFile(status));
    ::Sleep(20);
  }
  return -1;
}

ImmutableOnLinux::ImmutableOnLinux(const fs::path& path) : unixPath_(UnixPathOf(path)) {
  applied_ = RunLinuxShell(L"chattr +i -- '" + Utf8ToWide(unixPath_) + L"' 2>/dev/null") == 0;
}

ImmutableOnLinux::~ImmutableOnLinux() {
  if (applied_) RunLinuxShell(L"chattr -i -- '" + Utf8ToWide(unixPath_) + L"'");
}

namespace {

bool Exists(const fs::path& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool WaitForExistence(const fs::path& path, bool exists) {
  for (int i = 0; i < 200; ++i) {
    if (Exists(path) == exists) return true;
    ::Sleep(50);
  }
  return false;
}

}  // namespace

SymbolicLinks::~SymbolicLinks() {
  for (const Link& link : links_) {
    if (!link.madeOnLinux) {
      if (!::RemoveDirectoryW(link.path.c_str())) ::DeleteFileW(link.path.c_str());
      continue;
    }
    StartLinuxProgram(L"Z:\\bin\\rm", {L"-f", Utf8ToWide(UnixPathOf(link.path))});
    WaitForExistence(link.path, false);
  }
}

void SymbolicLinks::Make(const fs::path& link, const fs::path& target, bool toFolder) {
  const DWORD flags =
      (toFolder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  if (::CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) && Exists(link)) {
    links_.push_back({link, false});
    return;
  }
  StartLinuxProgram(L"Z:\\bin\\ln", {L"-s", Utf8ToWide(UnixPathOf(target)), Utf8ToWide(UnixPathOf(link))});
  if (!WaitForExistence(link, true))
    throw std::runtime_error("cannot make the link " + WideToUtf8(link.wstring()));
  links_.push_back({link, true});
}

}  // namespace test_support
