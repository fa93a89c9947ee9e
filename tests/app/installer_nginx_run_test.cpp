// A whole run through the window against nginx serving an update site laid out by publish.py must
// install exactly what the same run against the Python test server installs.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "common/text.h"
#include "installer_process.h"
#include "setup_window_driver.h"
#include "shell/known_folder.h"
#include "test_server.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr DWORD kRunTimeoutMs = 120000;
constexpr wchar_t kPythonPackage[] = L"nginx-compare.zip";
const wchar_t* const kClassKeys[] = {L".fqlgame", L"Fernquill.fqlgame", L".fqlibrary", L"Fernquill.fqlibrary",
                                     L"fernquill"};

std::wstring Replaced(std::wstring text, const std::wstring& from, const std::wstring& to) {
  for (std::size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

using Listing = std::map<std::wstring, std::wstring>;

// Every file and folder below root with its bytes; the install folder's own path inside a file (the
// launcher's record) reads as <install>.
void AddFiles(const fs::path& root, const std::wstring& install, Listing& listing) {
  if (!fs::is_directory(root)) return;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::wstring name = entry.path().lexically_relative(root).wstring();
    if (entry.is_directory()) {
      listing[L"file " + name + L"\\"] = L"";
    } else {
      const std::string bytes = test_support::ReadFile(entry.path());
      const std::wstring text = Utf8ToWide(bytes);
      if (text.empty() && !bytes.empty()) {
        // Not text (the exes): compared byte for byte.
        listing[L"file " + name] = L"binary " + std::wstring(bytes.begin(), bytes.end());
      } else {
        listing[L"file " + name] = Replaced(text, install, L"<install>");
      }
    }
  }
}

// Every key and value below HKCU\Software\Classes\<key>, texts with the install folder as <install>.
void AddRegistry(HKEY parent, const std::wstring& path, const std::wstring& install, Listing& listing) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  listing[L"key " + path] = L"";
  wchar_t name[512];
  BYTE data[8192];
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = 512, dataSize = sizeof(data) - sizeof(wchar_t), type = 0;
    if (::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
      break;
    std::wstring value = std::to_wstring(type) + L":";
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      value += Replaced(std::wstring(reinterpret_cast<const wchar_t*>(data), dataSize / sizeof(wchar_t)),
                        install, L"<install>");
    } else {
      value += std::to_wstring(dataSize) + L" bytes";
    }
    listing[L"value " + path + L"|" + std::wstring(name, nameLength)] = value;
  }
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = 512;
    if (::RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    AddRegistry(parent, path + L"\\" + std::wstring(name, nameLength), install, listing);
  }
  ::RegCloseKey(key);
}

void ForgetEarlierInstalls(const std::wstring& programs, const std::wstring& desktop) {
  for (const wchar_t* key : kClassKeys) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(L"Software\\Classes\\") + key).c_str());
  }
  std::error_code error;
  fs::remove(fs::path(programs) / L"Fernquill.lnk", error);
  fs::remove(fs::path(desktop) / L"Fernquill.lnk", error);
}

// One whole run of an installer into a fresh folder, and everything it left behind.
Listing InstallAndDescribe(const std::wstring& exe, const fs::path& target) {
  const std::wstring programs = KnownFolderPath(FOLDERID_Programs);
  const std::wstring desktop = KnownFolderPath(FOLDERID_Desktop);
  ForgetEarlierInstalls(programs, desktop);
  Listing listing;
  {
    InstallerProcess installer(exe);
    if (installer.window() == nullptr) {
      ADD_FAILURE() << "the installer did not show its window";
      return listing;
    }
    if (!setup_driver::SetControlText(installer.window(), 1001, target.wstring()) ||
        !installer.Install(kRunTimeoutMs)) {
      ADD_FAILURE() << "the run did not end";
      return listing;
    }
    for (const int id : {1004, 1006}) listing[L"control " + std::to_wstring(id)] = installer.Control(id).text;
    listing[L"progress"] = std::to_wstring(installer.Control(1005).progress);
    // The launcher stand-in writes its record once it runs.
    test_support::WaitForReadableFile(target / L"launcher-log.txt", 20000);
    listing[L"exit code"] = std::to_wstring(installer.CloseAndWait());
  }
  const std::wstring install = target.wstring();
  AddFiles(target, install, listing);
  for (const wchar_t* key : kClassKeys) {
    AddRegistry(HKEY_CURRENT_USER, std::wstring(L"Software\\Classes\\") + key, install, listing);
  }
  for (const auto& [where, folder] : {std::pair{L"start menu", programs}, std::pair{L"desktop", desktop}}) {
    std::error_code error;
    listing[std::wstring(L"shortcut in the ") + where] =
        fs::file_size(fs::path(folder) / L"Fernquill.lnk", error) > 0 && !error ? L"made" : L"missing";
  }
  return listing;
}

std::string Describe(const Listing& listing) {
  std::wstring text;
  for (const auto& [name, value] : listing) {
    text +=
        name + L" = " + (value.compare(0, 7, L"binary ") == 0 ? L"(binary)" : value.substr(0, 200)) + L"\n";
  }
  return test_support::WideToUtf8(text);
}

TEST(InstallerNginxRun, InstallsExactlyWhatTheTestServerRunInstalls) {
  const std::wstring version = Utf8ToWide(FERNQUILL_NGINX_SITE_VERSION);
  // The same package and version on the Python server's fixed listener, published as the tests do.
  const std::wstring packages = test_support::BuildDir() + L"\\tests\\install\\packages";
  const fs::path updates = test_server::WwwRoot() / L"updates";
  fs::create_directories(updates);
  ASSERT_TRUE(::CopyFileW((packages + L"\\good.zip").c_str(), (updates / kPythonPackage).c_str(), FALSE));
  std::string digest = test_support::ReadFile(packages + L"\\good.zip.sha256");
  while (!digest.empty() && (digest.back() == '\n' || digest.back() == '\r')) digest.pop_back();
  test_support::WriteFile(updates / L"latest.txt", "version=" + test_support::WideToUtf8(version) + "\nurl=" +
                                                       test_support::WideToUtf8(test_server::Url(
                                                           std::wstring(L"/updates/") + kPythonPackage,
                                                           test_server::Listener::kFixedPort)) +
                                                       "\nsha256=" + digest + "\n");

  test_support::TempFolder temp(L"nginx");
  // Folder names of one length, so that the two runs' paths line up in every record.
  const Listing fromPython =
      InstallAndDescribe(test_support::EquipmentPath(L"FernquillSetupLocal.exe"), temp / L"P\\Fernquill");
  const Listing fromNginx =
      InstallAndDescribe(test_support::EquipmentPath(L"FernquillSetupNginx.exe"), temp / L"N\\Fernquill");
  std::error_code error;
  fs::remove(updates / L"latest.txt", error);
  fs::remove(updates / kPythonPackage, error);

  EXPECT_EQ(fromPython.at(L"control 1006"), L"Готово. Fernquill " + version + L" установлен и запущен.");
  EXPECT_EQ(fromPython.count(L"file Fernquill.exe"), 1u) << Describe(fromPython);
  EXPECT_EQ(fromPython.count(L"key Software\\Classes\\fernquill"), 1u) << Describe(fromPython);
  EXPECT_EQ(fromNginx, fromPython) << "from nginx:\n"
                                   << Describe(fromNginx) << "from the test server:\n"
                                   << Describe(fromPython);

  // nginx, not some other server, answered: its own log has both requests.
  const std::string log = test_support::ReadFile(test_support::BuildDir() + L"\\nginx\\access.log");
  EXPECT_NE(log.find("\"GET /updates/latest.txt HTTP/1.1\" 200 "), std::string::npos) << log;
  EXPECT_NE(log.find("\"GET /updates/Fernquill-" FERNQUILL_NGINX_SITE_VERSION ".zip HTTP/1.1\" 200 "),
            std::string::npos)
      << log;
}

}  // namespace
