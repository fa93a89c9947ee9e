// Start-menu and desktop shortcuts, loaded back through the shell-link object.
#include "shell/shortcuts.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_handle.h"
#include "shell/known_folder.h"
#include "test_support.h"

namespace fs = std::filesystem;
using test_support::TempFolder;
using test_support::WideToUtf8;

namespace {

struct LoadedLink {
  std::wstring target;
  std::wstring workingDir;
  std::wstring iconPath;
  int iconIndex = -1;
  std::wstring description;
  std::wstring arguments;
};

LoadedLink LoadLink(const fs::path& path) {
  unique_com<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.put())))) {
    throw std::runtime_error("no shell-link object");
  }
  unique_com<IPersistFile> file;
  if (FAILED(link.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()))) ||
      FAILED(file.get()->Load(path.c_str(), STGM_READ))) {
    throw std::runtime_error("cannot load " + WideToUtf8(path.wstring()));
  }
  LoadedLink loaded;
  wchar_t text[INFOTIPSIZE] = {};
  link.get()->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
  loaded.target = text;
  text[0] = L'\0';
  link.get()->GetWorkingDirectory(text, MAX_PATH);
  loaded.workingDir = text;
  text[0] = L'\0';
  link.get()->GetIconLocation(text, MAX_PATH, &loaded.iconIndex);
  loaded.iconPath = text;
  text[0] = L'\0';
  link.get()->GetDescription(text, INFOTIPSIZE);
  loaded.description = text;
  text[0] = L'\0';
  link.get()->GetArguments(text, INFOTIPSIZE);
  loaded.arguments = text;
  return loaded;
}

// Files of a folder whose names begin with "Fernquill": a numbered copy would show here.
std::vector<std::wstring> FernquillEntries(const fs::path& folder) {
  std::vector<std::wstring> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::wstring name = entry.path().filename().wstring();
    if (name.rfind(L"Fernquill", 0) == 0) names.push_back(name);
  }
  return names;
}

// The suite holds the shell_folders lock: it may clear the application's shortcuts on both sides.
class Shortcuts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    programs_ = KnownFolderPath(FOLDERID_Programs);
    desktop_ = KnownFolderPath(FOLDERID_Desktop);
    ASSERT_FALSE(programs_.empty());
    ASSERT_FALSE(desktop_.empty());
    RemoveShortcuts();
  }
  void TearDown() override {
    RemoveShortcuts();
    ::CoUninitialize();
  }
  void RemoveShortcuts() const {
    std::error_code ignored;
    fs::remove(ProgramsLink(), ignored);
    fs::remove(DesktopLink(), ignored);
  }
  fs::path ProgramsLink() const { return programs_ / L"Fernquill.lnk"; }
  fs::path DesktopLink() const { return desktop_ / L"Fernquill.lnk"; }

  static void ExpectPointsInto(const fs::path& linkPath, const std::wstring& installDir) {
    const LoadedLink link = LoadLink(linkPath);
    EXPECT_EQ(link.target, installDir + L"\\FernquillLauncher.exe") << WideToUtf8(linkPath.wstring());
    EXPECT_EQ(link.workingDir, installDir) << WideToUtf8(linkPath.wstring());
    EXPECT_EQ(link.iconPath, installDir + L"\\Fernquill.exe") << WideToUtf8(linkPath.wstring());
    EXPECT_EQ(link.iconIndex, 0) << WideToUtf8(linkPath.wstring());
    EXPECT_EQ(link.description, L"Fernquill") << WideToUtf8(linkPath.wstring());
    EXPECT_EQ(link.arguments, L"") << WideToUtf8(linkPath.wstring());
  }

  fs::path programs_;
  fs::path desktop_;
};

TEST_F(Shortcuts, BothPointAtTheLauncherInTheInstallFolder) {
  TempFolder root(L"links");
  const std::wstring installDir = (root / L"Program Files" / L"Fern quill").wstring();
  test_support::CopyApplicationStandIns(installDir);
  CreateShortcuts(installDir, true);
  ASSERT_TRUE(fs::exists(ProgramsLink()));
  ASSERT_TRUE(fs::exists(DesktopLink()));
  ExpectPointsInto(ProgramsLink(), installDir);
  ExpectPointsInto(DesktopLink(), installDir);
}

TEST_F(Shortcuts, WithoutTheFlagOnlyTheStartMenuOneIsMadeAndAnEarlierDesktopOneStays) {
  const std::wstring installDir = L"C:\\Fernquill new";
  CreateShortcuts(installDir, false);
  ExpectPointsInto(ProgramsLink(), installDir);
  EXPECT_FALSE(fs::exists(DesktopLink()));

  const std::wstring earlierDir = L"C:\\Fernquill earlier";
  CreateShortcuts(earlierDir, true);
  const std::string earlierDesktop = test_support::ReadFile(DesktopLink());
  CreateShortcuts(installDir, false);
  ExpectPointsInto(ProgramsLink(), installDir);
  EXPECT_EQ(test_support::ReadFile(DesktopLink()), earlierDesktop);
  ExpectPointsInto(DesktopLink(), earlierDir);
}

TEST_F(Shortcuts, ASecondRunReplacesTheFilesInPlace) {
  CreateShortcuts(L"C:\\First\\Fernquill", true);
  CreateShortcuts(L"D:\\Second place\\Fernquill", true);
  for (const fs::path& folder : {programs_, desktop_}) {
    EXPECT_EQ(FernquillEntries(folder), std::vector<std::wstring>{L"Fernquill.lnk"})
        << WideToUtf8(folder.wstring());
  }
  ExpectPointsInto(ProgramsLink(), L"D:\\Second place\\Fernquill");
  ExpectPointsInto(DesktopLink(), L"D:\\Second place\\Fernquill");
}

// Moves the desktop folder aside for a scope, so that it is missing, and puts it back after.
class DesktopMovedAside {
 public:
  explicit DesktopMovedAside(fs::path desktop) : desktop_(std::move(desktop)), aside_(desktop_) {
    aside_ += L".aside";
    moved_ = ::MoveFileW(desktop_.c_str(), aside_.c_str()) != 0;
  }
  ~DesktopMovedAside() {
    if (!moved_) return;
    std::error_code ignored;
    fs::remove_all(desktop_, ignored);
    ::MoveFileW(aside_.c_str(), desktop_.c_str());
  }
  DesktopMovedAside(const DesktopMovedAside&) = delete;
  DesktopMovedAside& operator=(const DesktopMovedAside&) = delete;
  bool moved() const { return moved_; }

 private:
  fs::path desktop_;
  fs::path aside_;
  bool moved_ = false;
};

TEST_F(Shortcuts, ADeletedDesktopIsMadeAgain) {
  DesktopMovedAside aside(desktop_);
  ASSERT_TRUE(aside.moved());
  ASSERT_FALSE(fs::exists(desktop_));
  CreateShortcuts(L"C:\\Fernquill", true);
  ASSERT_TRUE(fs::exists(DesktopLink()));
  ExpectPointsInto(DesktopLink(), L"C:\\Fernquill");
}

TEST_F(Shortcuts, WriteShellLinkMakesMissingFoldersAndAcceptsAMissingTarget) {
  TempFolder root(L"links");
  const fs::path linkPath = root / L"not" / L"yet there" / L"Fernquill.lnk";
  const std::wstring installDir = (root / L"nowhere").wstring();
  EXPECT_TRUE(WriteShellLink(linkPath.wstring(), installDir + L"\\FernquillLauncher.exe", installDir));
  ASSERT_TRUE(fs::exists(linkPath));
  ExpectPointsInto(linkPath, installDir);
}

TEST_F(Shortcuts, NothingIsMadeWithoutComOnTheThread) {
  TempFolder root(L"links");
  const fs::path linkPath = root / L"Fernquill.lnk";
  bool written = true;
  std::thread bare(
      [&] { written = WriteShellLink(linkPath.wstring(), L"C:\\F\\FernquillLauncher.exe", L"C:\\F"); });
  bare.join();
  EXPECT_FALSE(written);
  EXPECT_FALSE(fs::exists(linkPath));
}

}  // namespace
