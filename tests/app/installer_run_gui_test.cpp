// Whole install runs started from the window of an installer built for the test server's fixed port.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/control_ids.h"
#include "installer_process.h"
#include "setup_window_driver.h"
#include "test_server.h"
#include "test_support.h"

namespace {

constexpr DWORD kRunTimeoutMs = 120000;
constexpr wchar_t kVersion[] = L"2.5.0-gui";

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// The fixed host's manifest lives at one address for every test, so these tests hold a lock on it.
class FixedHostSite {
 public:
  FixedHostSite() : updates_(test_server::WwwRoot() / L"updates") {
    std::filesystem::create_directories(updates_);
    Unpublish();
  }
  ~FixedHostSite() {
    Unpublish();
    std::error_code error;
    std::filesystem::remove(updates_ / L"gui-package.zip", error);
  }

  // The stand-in package and a manifest that names it with its real digest.
  void Publish() const {
    // The sample package the whole-run tests use: the stand-ins at the root.
    const std::wstring packages = test_support::BuildDir() + L"\\tests\\install\\packages";
    // CopyFileW: the C++ library's copy_file cannot overwrite under mingw.
    ASSERT_TRUE(
        ::CopyFileW((packages + L"\\good.zip").c_str(), (updates_ / L"gui-package.zip").c_str(), FALSE));
    PublishManifest(test_server::Url(L"/updates/gui-package.zip", test_server::Listener::kFixedPort),
                    Trimmed(test_support::ReadFile(packages + L"\\good.zip.sha256")));
  }

  void PublishManifest(const std::wstring& packageUrl, const std::string& digest) const {
    test_support::WriteFile(updates_ / L"latest.txt", "version=" + test_support::WideToUtf8(kVersion) +
                                                          "\nurl=" + test_support::WideToUtf8(packageUrl) +
                                                          "\nsha256=" + digest + "\n");
  }

  void Unpublish() const {
    std::error_code error;
    std::filesystem::remove(updates_ / L"latest.txt", error);
  }

 private:
  std::filesystem::path updates_;
};

TEST(InstallerRunGui, FolderWithBlanksAroundIsInstalledTrimmedAndSuccessLocksTheButton) {
  FixedHostSite site;
  site.Publish();
  test_support::TempFolder temp(L"gui");
  const std::filesystem::path target = temp / L"Fern Quill";
  const std::wstring typed = L"   " + target.wstring() + L"  \t";

  InstallerProcess installer(LocalInstallerPath());
  ASSERT_NE(installer.window(), nullptr);
  ASSERT_TRUE(setup_driver::SetControlText(installer.window(), IDC_INSTALL_DIR, typed));
  ASSERT_TRUE(setup_driver::Click(installer.window(), IDC_DESKTOP_SHORTCUT));  // no desktop shortcut
  ASSERT_TRUE(setup_driver::WaitUntil(
      [&] { return installer.Control(IDC_DESKTOP_SHORTCUT).check == BST_UNCHECKED; }, 5000));
  ASSERT_TRUE(installer.Install(kRunTimeoutMs))
      << test_support::WideToUtf8(setup_driver::Describe(installer.Control(IDC_STATUS)));

  EXPECT_EQ(installer.Control(IDC_STATUS).text,
            std::wstring(L"Готово. Fernquill ") + kVersion + L" установлен и запущен.");
  const setup_driver::ControlState install = installer.Control(IDC_INSTALL);
  EXPECT_EQ(install.text, L"Установлено");
  EXPECT_FALSE(install.enabled);
  for (const int id : {IDC_INSTALL_DIR, IDC_BROWSE, IDC_DESKTOP_SHORTCUT})
    EXPECT_TRUE(installer.Control(id).enabled) << "control " << id;
  EXPECT_EQ(installer.Control(IDC_PROGRESS).progress, 100);
  EXPECT_EQ(installer.Control(IDC_INSTALL_DIR).text, typed);  // the edit box keeps the blanks

  EXPECT_TRUE(std::filesystem::is_regular_file(target / L"Fernquill.exe"));
  EXPECT_TRUE(std::filesystem::is_regular_file(target / L"FernquillLauncher.exe"));
  // The launcher stand-in writes down where it was started; the worker starts it in the install folder.
  const std::string log = test_support::WaitForReadableFile(target / L"launcher-log.txt", 20000);
  ASSERT_FALSE(log.empty()) << "the launcher left no record";
  EXPECT_NE(log.find("working-folder: " + test_support::WideToUtf8(target.wstring()) + "\n"),
            std::string::npos)
      << log;

  // A pressed "Установлено" does nothing: the button is disabled.
  setup_driver::Click(installer.window(), IDC_INSTALL);
  ::Sleep(500);
  EXPECT_EQ(installer.Control(IDC_INSTALL).text, L"Установлено");
}

TEST(InstallerRunGui, RepeatAfterAFailedRunInstalls) {
  FixedHostSite site;  // nothing published yet: the manifest answers 404
  test_support::TempFolder temp(L"gui");
  const std::filesystem::path target = temp / L"Fernquill";

  InstallerProcess installer(LocalInstallerPath());
  ASSERT_NE(installer.window(), nullptr);
  ASSERT_TRUE(setup_driver::SetControlText(installer.window(), IDC_INSTALL_DIR, target.wstring()));
  ASSERT_TRUE(installer.Install(kRunTimeoutMs));
  const std::wstring failure = L"Не удалось получить информацию об обновлении.\r\n";
  EXPECT_EQ(installer.Control(IDC_STATUS).text.substr(0, failure.size()), failure);
  EXPECT_EQ(installer.Control(IDC_INSTALL).text, L"Повторить");
  EXPECT_TRUE(installer.Control(IDC_INSTALL).enabled);
  EXPECT_FALSE(std::filesystem::exists(target));

  site.Publish();
  ASSERT_TRUE(installer.Install(kRunTimeoutMs));
  EXPECT_EQ(installer.Control(IDC_STATUS).text,
            std::wstring(L"Готово. Fernquill ") + kVersion + L" установлен и запущен.");
  EXPECT_EQ(installer.Control(IDC_INSTALL).text, L"Установлено");
  EXPECT_FALSE(installer.Control(IDC_INSTALL).enabled);
  EXPECT_TRUE(std::filesystem::is_regular_file(target / L"FernquillLauncher.exe"));
}

TEST(InstallerRunGui, ClosingDuringARunEndsTheInstaller) {
  FixedHostSite site;
  // A package that trickles in: the run is still downloading when the window is closed.
  site.PublishManifest(test_server::Url(L"/_/bytes/50000000?chunk=65536&pause=200"), std::string(64, 'a'));

  InstallerProcess installer(LocalInstallerPath());
  ASSERT_NE(installer.window(), nullptr);
  ASSERT_TRUE(setup_driver::Click(installer.window(), IDC_INSTALL));
  const std::wstring downloading = std::wstring(L"Скачиваем Fernquill ") + kVersion + L"...";
  ASSERT_TRUE(setup_driver::WaitUntil([&] { return installer.Control(IDC_STATUS).text == downloading; },
                                      kRunTimeoutMs))
      << test_support::WideToUtf8(installer.Control(IDC_STATUS).text);
  for (const int id : {IDC_INSTALL_DIR, IDC_BROWSE, IDC_DESKTOP_SHORTCUT, IDC_INSTALL})
    EXPECT_FALSE(installer.Control(id).enabled) << "control " << id;
  EXPECT_EQ(installer.Control(IDC_INSTALL).text, L"Устанавливаем...");
  EXPECT_TRUE(
      setup_driver::WaitUntil([&] { return installer.Control(IDC_PROGRESS).progress > 0; }, kRunTimeoutMs));

  EXPECT_EQ(installer.CloseAndWait(), 0);
}

}  // namespace
