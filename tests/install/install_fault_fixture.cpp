// Whole runs under faults: the user's world before a run and the checks after it.
#include "install_fault_fixture.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>
#include <stdexcept>
#include <system_error>

#include "common/text.h"
#include "common/unique_handle.h"
#include "install/messages.h"
#include "shell/file_types.h"
#include "shell/known_folder.h"

namespace install_fault {

namespace fs = std::filesystem;
using test_support::RecordedMessage;
using test_support::WideToUtf8;

namespace {

bool StartsWith(const std::wstring& text, const std::wstring& start) {
  return text.compare(0, start.size(), start) == 0;
}

void AddRegistryKey(HKEY key, const std::wstring& path, RegistryTree& tree) {
  tree[path + L"\\"];
  DWORD subkeys = 0, longestSubkey = 0, values = 0, longestName = 0, longestData = 0;
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr, &values,
                         &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot read the key " + WideToUtf8(path));
  }
  for (DWORD index = 0; index < values; ++index) {
    std::wstring name(longestName + 1, L'\0');
    std::string data(longestData, '\0');
    DWORD nameLength = longestName + 1;
    DWORD dataSize = longestData;
    DWORD type = 0;
    if (::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                        reinterpret_cast<BYTE*>(data.data()), &dataSize) != ERROR_SUCCESS) {
      throw std::runtime_error("cannot read a value of " + WideToUtf8(path));
    }
    name.resize(nameLength);
    data.resize(dataSize);
    tree[path + L"\\|" + name] = std::to_string(type) + ":" + data;
  }
  for (DWORD index = 0; index < subkeys; ++index) {
    std::wstring name(longestSubkey + 1, L'\0');
    DWORD nameLength = longestSubkey + 1;
    if (::RegEnumKeyExW(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      throw std::runtime_error("cannot list the keys of " + WideToUtf8(path));
    }
    name.resize(nameLength);
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
      throw std::runtime_error("cannot open " + WideToUtf8(path + L"\\" + name));
    }
    unique_registry_key child(opened);
    AddRegistryKey(child.get(), path.empty() ? name : path + L"\\" + name, tree);
  }
}

std::set<std::wstring> NamesIn(const fs::path& folder, const std::wstring& prefix = L"") {
  std::set<std::wstring> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::wstring name = it->path().filename().wstring();
    if (StartsWith(name, prefix)) names.insert(name);
  }
  return names;
}

// Every folder a file's relative path passes through, as Tree entries.
void AddParentFolders(Tree& tree) {
  Tree folders;
  for (const auto& entry : tree) {
    fs::path parent = fs::path(entry.first).parent_path();
    for (; !parent.empty(); parent = parent.parent_path()) folders[parent.wstring() + L"\\"];
  }
  tree.insert(folders.begin(), folders.end());
}

std::string Utf16Bytes(const std::wstring& text) {
  const std::wstring terminated = text + L'\0';
  return std::string(reinterpret_cast<const char*>(terminated.data()), terminated.size() * sizeof(wchar_t));
}

// Before, with the values the shell integration writes for installDir, and their keys.
RegistryTree WithShellIntegration(RegistryTree tree, const std::wstring& installDir) {
  for (const RegistryValue& value : ShellIntegrationValues(installDir)) {
    tree[value.key + L"\\|" + value.name] = std::to_string(REG_SZ) + ":" + Utf16Bytes(value.data);
    for (std::size_t at = value.key.find(L'\\', std::wstring(L"Software\\Classes").size() + 1);;
         at = value.key.find(L'\\', at + 1)) {
      tree[value.key.substr(0, at) + L"\\"];
      if (at == std::wstring::npos) break;
    }
  }
  return tree;
}

// Entries that differ between two trees, for a readable failure.
template <typename Map>
std::string Differences(const Map& actual, const Map& expected) {
  std::string out;
  int shown = 0;
  for (const auto& entry : expected) {
    const auto found = actual.find(entry.first);
    if (found == actual.end()) {
      out += "\n  missing: " + WideToUtf8(entry.first);
    } else if (found->second != entry.second) {
      out += "\n  changed: " + WideToUtf8(entry.first);
    } else {
      continue;
    }
    if (++shown == 20) return out + "\n  ...";
  }
  for (const auto& entry : actual) {
    if (expected.count(entry.first) == 0) {
      out += "\n  unexpected: " + WideToUtf8(entry.first);
      if (++shown == 20) return out + "\n  ...";
    }
  }
  return out;
}

std::wstring ShortcutTarget(const fs::path& link) {
  const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::wstring target;
  {
    unique_com<IShellLinkW> shellLink;
    unique_com<IPersistFile> file;
    wchar_t path[MAX_PATH * 2] = {};
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     reinterpret_cast<void**>(shellLink.put()))) &&
        SUCCEEDED(shellLink.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()))) &&
        SUCCEEDED(file.get()->Load(link.c_str(), STGM_READ)) &&
        SUCCEEDED(shellLink.get()->GetPath(path, MAX_PATH * 2, nullptr, SLGP_RAWPATH))) {
      target = path;
    }
  }
  if (SUCCEEDED(init)) ::CoUninitialize();
  return target;
}

}  // namespace

Tree TreeOf(const fs::path& root) {
  Tree tree;
  if (fs::is_regular_file(root)) {
    tree[L""] = test_support::ReadFile(root);
    return tree;
  }
  if (!fs::exists(root)) return tree;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::wstring relative = entry.path().lexically_relative(root).wstring();
    if (entry.is_directory()) {
      tree[relative + L"\\"];
    } else {
      tree[relative] = test_support::ReadFile(entry.path());
    }
  }
  return tree;
}

RegistryTree RegistryTreeOf(const std::wstring& subkey) {
  RegistryTree tree;
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return tree;
  unique_registry_key key(opened);
  AddRegistryKey(key.get(), subkey, tree);
  return tree;
}

Tree InstalledPackageFiles(const std::wstring& package) {
  Tree files;
  files[L"Fernquill.exe"] = test_support::ReadFile(test_support::EquipmentPath(L"Fernquill.exe"));
  files[L"FernquillLauncher.exe"] =
      test_support::ReadFile(test_support::EquipmentPath(L"FernquillLauncher.exe"));
  files[L"data\\readme.txt"] = "sample data\n";
  if (package == L"bulk.zip") {
    // As make_install_packages.py writes them.
    for (int i = 0; i < 3000; ++i) {
      wchar_t name[64];
      std::swprintf(name, 64, L"bulk\\d%02d\\f%04d.txt", i / 100, i);
      std::string bytes;
      for (int copy = 0; copy < 1 + i % 5; ++copy) bytes += "bulk file " + std::to_string(i) + "\n";
      files[name] = bytes;
    }
  } else if (package != L"good.zip") {
    throw std::invalid_argument("no file list for the package " + WideToUtf8(package));
  }
  AddParentFolders(files);
  return files;
}

InstallFault::InstallFault() : sessionTemp_(temp_.path().parent_path()) {}

void InstallFault::SeedInstallFolder() {
  seed_ = {
      {L"Fernquill.exe", "old main executable"},
      {L"data\\readme.txt", "old sample data\n"},
      {L"plugins\\old.dll", "a plugin the new version no longer ships"},
      {L"config\\settings.ini", "[user]\nlanguage=ru\n"},
      {L"saves\\slot1.sav", std::string("\x00\x01save\xff", 7)},
      {L"games\\Моя игра\\game.fqlgame", "the user's game"},
      {L"imgui.ini", "[Window][Main]\nPos=10,10\n"},
  };
  for (const auto& entry : seed_) {
    const fs::path path = installDir_ / entry.first;
    fs::create_directories(path.parent_path());
    test_support::WriteFile(path, entry.second);
  }
  AddParentFolders(seed_);
}

World InstallFault::Look() const {
  World world;
  world.install = TreeOf(installDir_);
  world.besideInstall = NamesIn(installDir_.parent_path());
  world.programs = TreeOf(KnownFolderPath(FOLDERID_Programs));
  world.desktop = TreeOf(KnownFolderPath(FOLDERID_Desktop));
  world.classes = RegistryTreeOf(L"Software\\Classes");
  // Wine keeps state of its own under Software\Wine (system parameters), which windows change.
  for (const auto& entry : RegistryTreeOf(L"")) {
    if (!StartsWith(entry.first, L"Software\\Classes\\") && !StartsWith(entry.first, L"Software\\Wine\\")) {
      world.otherRegistry.insert(entry);
    }
  }
  world.runTemp = NamesIn(temp_.path());
  world.sessionTemp = NamesIn(sessionTemp_, L"FernquillSetup");
  return world;
}

std::wstring InstallFault::PackageName(DWORD processId) const {
  return fs::path(PackagePath(processId)).filename().wstring();
}

std::wstring InstallFault::StagingName(DWORD processId) const {
  return fs::path(StagingPath(processId)).filename().wstring();
}

void InstallFault::ExpectFailure(const std::vector<RecordedMessage>& messages, const Ending& ending,
                                 Stop stop, const std::set<std::wstring>& tempLeft) {
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().message, WM_SETUP_FINISHED);
  EXPECT_FALSE(install_run::EndedInSuccess(messages));
  const std::wstring final = install_run::FinalText(messages);
  if (ending.codes.empty()) {
    EXPECT_EQ(final, ending.text) << WideToUtf8(final);
  } else {
    bool matched = false;
    for (unsigned long code : ending.codes)
      matched = matched || final == ending.text + WindowsErrorTextFor(code);
    EXPECT_TRUE(matched) << "final text: " << WideToUtf8(final);
  }

  const World after = Look();
  if (stop == Stop::kBeforeDeployment) {
    EXPECT_TRUE(after.install == before_.install) << Differences(after.install, before_.install);
  } else {
    ExpectUserDataKept();
  }
  EXPECT_EQ(after.besideInstall, before_.besideInstall);
  // The run ended before the shell integration: nothing registered, no shortcut made.
  EXPECT_TRUE(after.classes == before_.classes) << Differences(after.classes, before_.classes);
  EXPECT_TRUE(after.otherRegistry == before_.otherRegistry)
      << Differences(after.otherRegistry, before_.otherRegistry);
  EXPECT_TRUE(after.programs == before_.programs) << Differences(after.programs, before_.programs);
  EXPECT_TRUE(after.desktop == before_.desktop) << Differences(after.desktop, before_.desktop);
  EXPECT_EQ(after.runTemp, tempLeft);
  EXPECT_EQ(after.sessionTemp, before_.sessionTemp);
}

void InstallFault::ExpectUserDataKept(bool anyPartialFile) {
  const Tree now = TreeOf(installDir_);
  const Tree package = InstalledPackageFiles(package_);
  bool partialSeen = false;
  for (const auto& entry : now) {
    const auto seeded = seed_.find(entry.first);
    const auto shipped = package.find(entry.first);
    const bool isOld = seeded != seed_.end() && seeded->second == entry.second;
    const bool isNew = shipped != package.end() && shipped->second == entry.second;
    if (isOld || isNew) continue;
    // A copy cut short by the end of the process: one file of the package, never user data.
    if (anyPartialFile && !partialSeen && shipped != package.end()) {
      partialSeen = true;
      continue;
    }
    ADD_FAILURE() << "neither the old nor the new bytes: " << WideToUtf8(entry.first);
  }
  for (const auto& entry : seed_) {
    if (package.count(entry.first) != 0) continue;
    const auto found = now.find(entry.first);
    EXPECT_TRUE(found != now.end() && found->second == entry.second) << "lost: " << WideToUtf8(entry.first);
  }
}

void InstallFault::ExpectCleanInstall(const std::vector<RecordedMessage>& messages,
                                      const std::set<std::wstring>& tempLeft) {
  ASSERT_TRUE(install_run::EndedInSuccess(messages)) << WideToUtf8(install_run::FinalText(messages));
  EXPECT_EQ(install_run::FinalText(messages), DoneText());

  Tree expected = seed_;
  for (const auto& entry : InstalledPackageFiles(package_)) expected[entry.first] = entry.second;
  const World after = Look();
  EXPECT_TRUE(after.install == expected) << Differences(after.install, expected);

  std::set<std::wstring> beside = before_.besideInstall;
  beside.insert(installDir_.filename().wstring());
  EXPECT_EQ(after.besideInstall, beside);

  const RegistryTree classes = WithShellIntegration(before_.classes, installDir_.wstring());
  EXPECT_TRUE(after.classes == classes) << Differences(after.classes, classes);
  EXPECT_TRUE(after.otherRegistry == before_.otherRegistry)
      << Differences(after.otherRegistry, before_.otherRegistry);

  const fs::path shortcut = fs::path(KnownFolderPath(FOLDERID_Programs)) / L"Fernquill.lnk";
  EXPECT_EQ(ShortcutTarget(shortcut), (installDir_ / L"FernquillLauncher.exe").wstring());
  Tree programs = after.programs;
  programs.erase(L"Fernquill.lnk");
  Tree programsBefore = before_.programs;
  programsBefore.erase(L"Fernquill.lnk");
  EXPECT_TRUE(programs == programsBefore) << Differences(programs, programsBefore);
  EXPECT_TRUE(after.desktop == before_.desktop) << Differences(after.desktop, before_.desktop);

  EXPECT_EQ(after.runTemp, tempLeft);
  EXPECT_EQ(after.sessionTemp, before_.sessionTemp);
  EXPECT_FALSE(WaitForLauncherLog().empty()) << "the installed launcher was not started";
}

}  // namespace install_fault
