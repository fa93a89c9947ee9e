// Test equipment for file-system faults: a file held open by another process, the Linux side of a path.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "test_support.h"

namespace test_support {

// Another process holding a path open with share mode 0, as a running application holds its files.
class HeldByAnotherProcess {
 public:
  explicit HeldByAnotherProcess(const std::filesystem::path& path);
  ~HeldByAnotherProcess();
  HeldByAnotherProcess(const HeldByAnotherProcess&) = delete;
  HeldByAnotherProcess& operator=(const HeldByAnotherProcess&) = delete;

 private:
  unique_kernel_handle ready_;
  unique_kernel_handle release_;
  unique_kernel_handle process_;
};

// The Linux path Wine maps a Windows path to. Throws when not running under Wine.
std::string UnixPathOf(const std::filesystem::path& path);

// Starts a Linux program with quoted arguments. Wine cannot wait for one: the caller polls for its effect.
void StartLinuxProgram(const wchar_t* program, const std::vector<std::wstring>& arguments);

// Runs a command of the Linux shell and waits for it through a status file it writes at its end; returns
// the command's exit status, or -1 when it did not end within the time.
int RunLinuxShell(const std::wstring& command, DWORD timeoutMs = 20000);

// A path nobody may change, root included, for the scope: the Linux immutable attribute. Wine enforces no
// file DACL and, for root, no read-only attribute or mode bit, so this is the denial that is real here.
// Needs CAP_LINUX_IMMUTABLE and a file system with the attribute; see Available().
class ImmutableOnLinux {
 public:
  explicit ImmutableOnLinux(const std::filesystem::path& path);
  ~ImmutableOnLinux();
  ImmutableOnLinux(const ImmutableOnLinux&) = delete;
  ImmutableOnLinux& operator=(const ImmutableOnLinux&) = delete;

  // False when chattr refused (no capability, or a file system without the attribute).
  bool Available() const { return applied_; }

 private:
  std::string unixPath_;
  bool applied_ = false;
};

// Real symbolic links inside a test's tree, removed again (as links) when it ends. Wine 8's
// CreateSymbolicLinkW reports success and makes nothing, so there the links are made on the Linux side;
// and they must go there too: Wine's RemoveDirectoryW of such a link tries the folder it points to,
// and its DeleteFileW deletes the file it points to and leaves the link.
class SymbolicLinks {
 public:
  SymbolicLinks() = default;
  ~SymbolicLinks();
  SymbolicLinks(const SymbolicLinks&) = delete;
  SymbolicLinks& operator=(const SymbolicLinks&) = delete;

  // Throws when the link cannot be made.
  void Make(const std::filesystem::path& link, const std::filesystem::path& target, bool toFolder);

 private:
  struct Link {
    std::filesystem::path path;
    bool madeOnLinux;
  };
  std::vector<Link> links_;
};

}  // namespace test_support
