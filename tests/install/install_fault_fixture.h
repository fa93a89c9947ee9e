// Whole runs under faults: what the user has before a run, and the checks that a run lost nothing.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "install_run_fixture.h"

namespace install_fault {

// Every entry below a folder: a file by its relative path with its bytes, a folder by its relative path
// with a trailing backslash. A path that is a file gives one entry with an empty name; a missing one none.
using Tree = std::map<std::wstring, std::string>;
Tree TreeOf(const std::filesystem::path& root);

// Every key and value below a key of HKEY_CURRENT_USER (all of it for ""): a key as its path with a
// trailing backslash, a value as its key's path, '|' and its name, holding its type and bytes.
using RegistryTree = std::map<std::wstring, std::string>;
RegistryTree RegistryTreeOf(const std::wstring& subkey);

// What a run could touch, seen at one moment.
struct World {
  Tree install;
  std::set<std::wstring> besideInstall;  // names in the install folder's parent
  Tree programs;                         // the Start menu's Programs folder
  Tree desktop;
  RegistryTree classes;                // HKCU\Software\Classes
  RegistryTree otherRegistry;          // the rest of HKCU but Wine's own Software\Wine
  std::set<std::wstring> runTemp;      // names in the run's own TMP
  std::set<std::wstring> sessionTemp;  // FernquillSetup* names in the temporary folder the test began with
};

// The files a sample package installs (its user data left out) with their bytes, folders included.
Tree InstalledPackageFiles(const std::wstring& package);

// How a final text must read: the text itself, or a fixed part followed by the system's text for one of
// the error codes (Wine and Windows report some faults with different codes).
struct Ending {
  std::wstring text;
  std::vector<unsigned long> codes;
};

// Where a failed run stopped, which decides what it may have changed in the install folder.
enum class Stop { kBeforeDeployment, kInDeployment };

class InstallFault : public install_run::InstallRun {
 protected:
  InstallFault();

  // An earlier version (without a launcher) and the user's data in the install folder.
  void SeedInstallFolder();
  World Look() const;
  // The state every later check compares with; taken once the fault is in place.
  void Remember() { before_ = Look(); }

  std::wstring PackageName(DWORD processId = ::GetCurrentProcessId()) const;
  std::wstring StagingName(DWORD processId = ::GetCurrentProcessId()) const;

  // A failed run: its final text, and nothing lost or written where it must not be; tempLeft are the
  // names the run's own TMP must hold afterwards.
  void ExpectFailure(const std::vector<test_support::RecordedMessage>& messages, const Ending& ending,
                     Stop stop, const std::set<std::wstring>& tempLeft);
  // Only the user data and the files the package does not hold, unchanged; files of the package hold
  // their old or their new bytes. What a deployment that stopped or was stopped may leave.
  void ExpectUserDataKept(bool anyPartialFile = false);
  // A successful run: the end state of a clean install of the package over what the user had.
  void ExpectCleanInstall(const std::vector<test_support::RecordedMessage>& messages,
                          const std::set<std::wstring>& tempLeft = {});

  std::wstring package_ = L"good.zip";  // the sample package the good runs install
  Tree seed_;
  World before_;
  std::filesystem::path sessionTemp_;
};

}  // namespace install_fault
