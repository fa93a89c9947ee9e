// Deployment of a staged tree over real folders: the user-data rule, overwriting, failures, links.
#include "deploy/deploy.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <filesystem>
#include <ios>
#include <map>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_handle.h"
#include "file_faults.h"
#include "test_support.h"

namespace fs = std::filesystem;
using test_support::HeldByAnotherProcess;
using test_support::ReadFile;
using test_support::SymbolicLinks;
using test_support::TempFolder;
using test_support::WideToUtf8;

namespace {

const std::wstring kNotInstalled = L"Не удалось установить: ";
const std::wstring kPathError = L"Ошибка построения пути установки.";
const std::wstring kCannotCreate = L"Не удалось создать папку установки.";
const std::wstring kCannotRead = L"Не удалось прочитать распакованные файлы.";

void Put(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  test_support::WriteFile(path, bytes);
}

// Every regular file below a folder: relative path (as stored, backslashes) -> content.
std::map<std::wstring, std::string> FilesBelow(const fs::path& root) {
  std::map<std::wstring, std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file())
      files[entry.path().lexically_relative(root).wstring()] = ReadFile(entry.path());
  }
  return files;
}

std::wstring ToUpperCopy(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

// Regular files in the order the walk meets them, as relative paths.
std::vector<std::wstring> WalkOrder(const fs::path& root) {
  std::vector<std::wstring> order;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) order.push_back(entry.path().lexically_relative(root).wstring());
  }
  return order;
}

// The table lives beside this test and is read by the publishing tool's test too, so that its warning
// and the installer can never disagree about what is user data.
TEST(IsUserDataPath, AnswersAsTheSharedTableOfRelativePathsSays) {
  const std::string table = ReadFile(test_support::BuildDir() + L"\\tests\\deploy\\user_data_cases.tsv");
  std::size_t rows = 0;
  std::size_t begin = 0;
  while (begin < table.size()) {
    std::size_t end = table.find('\n', begin);
    if (end == std::string::npos) end = table.size();
    std::string line = table.substr(begin, end - begin);
    begin = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    const std::string answer = line.substr(tab + 1);
    ASSERT_TRUE(answer == "true" || answer == "false") << line;
    const std::wstring path = Utf8ToWide(line.substr(0, tab));
    ASSERT_FALSE(path.empty()) << line;
    EXPECT_EQ(IsUserDataPath(path), answer == "true") << line;
    ++rows;
  }
  EXPECT_GT(rows, 20u);
  EXPECT_TRUE(IsUserDataPath(L""));  // no such file can be installed
}

TEST(IsContainedRelativePath, RefusesEverythingThatLeavesItsBase) {
  const struct {
    const wchar_t* path;
    bool contained;
  } cases[] = {
      {L"Fernquill.exe", true},
      {L"plugins\\audio\\mixer.dll", true},
      {L"a/b", true},
      {L"..a\\b..", true},
      {L"", false},
      {L".", false},
      {L"..", false},
      {L"..\\outside\\secret.txt", false},
      {L"a\\..\\..\\b", false},
      {L"a\\.\\b", false},
      {L"C:\\Windows\\x.dll", false},
      {L"C:x.dll", false},
      {L"\\x.dll", false},
      {L"\\\\server\\share\\x", false},
      {L"\\\\?\\C:\\x", false},
      {L"a\\", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsContainedRelativePath(c.path), c.contained) << WideToUtf8(c.path);
  }
}

TEST(DeployStagedTree, CopiesThePackageAroundTheUserDataAndKeepsOldFiles) {
  TempFolder root(L"deploy");
  const fs::path staging = root / L"staging";
  const fs::path install = root / L"install";
  // "Config" first: on a case-insensitive file system "config\..." then lands in the same folder.
  Put(staging / L"Config" / L"x", "package x");
  Put(staging / L"config" / L"settings.ini", "package settings");
  Put(staging / L"SAVES" / L"autosave.dat", "package save");
  Put(staging / L"imgui.ini", "package imgui");
  Put(staging / L"configs" / L"settings.ini", "configs settings");
  Put(staging / L"config.json", "{\"a\":1}");
  Put(staging / L"data" / L"saves" / L"autosave.dat", "data save");
  Put(staging / L"tools" / L"imgui.ini", "tools imgui");
  Put(staging / L"Fernquill.exe", "new main");
  Put(staging / L"FernquillLauncher.exe", "new launcher");
  fs::create_directories(staging / L"logs");
  fs::create_directories(staging / L"games");  // empty, and user data besides

  const std::map<std::wstring, std::string> userData = {
      {L"config\\settings.ini", std::string("user settings\r\n") + '\0' + "binary"},
      {L"config\\other.txt", "user other"},
      {L"saves\\autosave.dat", "user save"},
      {L"imgui.ini", "[Window][Debug]\r\nPos=60,60\r\n"},
  };
  for (const auto& [path, bytes] : userData) Put(install / path, bytes);
  Put(install / L"old.dll", "old version only");
  Put(install / L"Fernquill.exe", "old main");

  std::wstring errorText = L"untouched";
  ASSERT_TRUE(DeployStagedTree(staging.wstring(), install.wstring(), errorText));
  EXPECT_EQ(errorText, L"untouched");

  std::map<std::wstring, std::string> expected = userData;
  expected[L"old.dll"] = "old version only";
  expected[L"Fernquill.exe"] = "new main";
  expected[L"FernquillLauncher.exe"] = "new launcher";
  expected[L"configs\\settings.ini"] = "configs settings";
  expected[L"config.json"] = "{\"a\":1}";
  expected[L"data\\saves\\autosave.dat"] = "data save";
  expected[L"tools\\imgui.ini"] = "tools imgui";
  EXPECT_EQ(FilesBelow(install), expected);
  EXPECT_FALSE(fs::exists(install / L"logs"));
  EXPECT_FALSE(fs::exists(install / L"games"));
  // The staging folder is only read.
  EXPECT_EQ(FilesBelow(staging).size(), 10u);
}

TEST(DeployStagedTree, FirstInstallCreatesTheFolderAndOnlyParentsOfCopiedFiles) {
  TempFolder root(L"deploy");
  const fs::path staging = root / L"staging";
  Put(staging / L"Fernquill.exe", "main");
  Put(staging / L"plugins" / L"audio" / L"mixer.dll", "mixer");
  Put(staging / L"covers" / L"default.png", "cover");  // user data: no covers folder on a first install
  Put(staging / L"imgui.ini", "imgui");
  Put(staging / L"docs" / L"config" / L"readme.txt", "readme");  // "config" below the top is no user data
  fs::create_directories(staging / L"logs" / L"old");

  const struct {
    const wchar_t* name;
    fs::path install;
    std::wstring argument;
  } cases[] = {
      {L"missing parents", root / L"a" / L"b c" / L"Fernquill",
       (root / L"a" / L"b c" / L"Fernquill").wstring()},
      {L"trailing separator", root / L"t" / L"Fernquill", (root / L"t" / L"Fernquill").wstring() + L"\\"},
      {L"forward slashes", root / L"f" / L"Fernquill", root.str() + L"/f/Fernquill"},
  };
  const std::map<std::wstring, std::string> expected = {
      {L"Fernquill.exe", "main"},
      {L"plugins\\audio\\mixer.dll", "mixer"},
      {L"docs\\config\\readme.txt", "readme"},
  };
  for (const auto& c : cases) {
    std::wstring errorText;
    ASSERT_TRUE(DeployStagedTree(staging.wstring(), c.argument, errorText)) << WideToUtf8(c.name);
    EXPECT_EQ(FilesBelow(c.install), expected) << WideToUtf8(c.name);
    EXPECT_FALSE(fs::exists(c.install / L"covers")) << WideToUtf8(c.name);
    EXPECT_FALSE(fs::exists(c.install / L"logs")) << WideToUtf8(c.name);
  }
}

TEST(DeployStagedTree, ReplacesATargetEvenWithTheSameContent) {
  TempFolder root(L"deploy");
  const fs::path staging = root / L"staging";
  const fs::path install = root / L"install";
  Put(staging / L"Fernquill.exe", "same bytes");
  Put(install / L"Fernquill.exe", "same bytes");
  // The copy carries the staged file's write time over: an old time on the target shows the copy.
  unique_file_handle target(::CreateFileW((install / L"Fernquill.exe").c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(target);
  const FILETIME longAgo = {0, 0x01B00000};  // about 1987
  ASSERT_TRUE(::SetFileTime(target.get(), nullptr, nullptr, &longAgo));
  target.reset();

  std::wstring errorText;
  ASSERT_TRUE(DeployStagedTree(staging.wstring(), install.wstring(), errorText));
  EXPECT_EQ(fs::last_write_time(install / L"Fernquill.exe"), fs::last_write_time(staging / L"Fernquill.exe"));
  // Again over the same staging folder: the same end state.
  ASSERT_TRUE(DeployStagedTree(staging.wstring(), install.wstring(), errorText));
  EXPECT_EQ(FilesBelow(install), FilesBelow(staging));
}

TEST(DeployStagedTree, ReplacesTargetsMarkedReadOnlyHiddenOrSystemAndLeavesUserDataAsItIs) {
  // On Windows CopyFileW over such a target fails with access denied; every later update would stop there.
  TempFolder root(L"deploy");
  const fs::path staging = root / L"staging";
  const fs::path install = root / L"install";
  const struct {
    const wchar_t* name;
    DWORD attributes;
  } cases[] = {
      {L"read-only.dll", FILE_ATTRIBUTE_READONLY},
      {L"hidden.dll", FILE_ATTRIBUTE_HIDDEN},
      {L"system.dll", FILE_ATTRIBUTE_SYSTEM},
      {L"bin\\all three.dll", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
      {L"bin\\archive too.dll", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
  };
  for (const auto& c : cases) {
    Put(staging / c.name, "new " + WideToUtf8(c.name));
    Put(install / c.name, "old");
    ASSERT_TRUE(::SetFileAttributesW((install / c.name).c_str(), c.attributes)) << WideToUtf8(c.name);
  }
  Put(staging / L"config" / L"settings.ini", "package settings");
  Put(install / L"config" / L"settings.ini", "user settings");
  const DWORD userDataAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
  ASSERT_TRUE(::SetFileAttributesW((install / L"config" / L"settings.ini").c_str(), userDataAttributes));

  std::wstring errorText;
  ASSERT_TRUE(DeployStagedTree(staging.wstring(), install.wstring(), errorText)) << WideToUtf8(errorText);
  const DWORD blocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  for (const auto& c : cases) {
    EXPECT_EQ(ReadFile(install / c.name), "new " + WideToUtf8(c.name)) << WideToUtf8(c.name);
    const DWORD attributes = ::GetFileAttributesW((install / c.name).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << WideToUtf8(c.name);
    EXPECT_EQ(attributes & blocking, 0u) << WideToUtf8(c.name) << ": 0x" << std::hex << attributes;
  }
  EXPECT_EQ(ReadFile(install / L"config" / L"settings.ini"), "user settings");
  EXPECT_EQ(::GetFileAttributesW((install / L"config" / L"settings.ini").c_str()) & blocking,
            userDataAttributes);
  ::SetFileAttributesW((install / L"config" / L"settings.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(DeployStagedTree, StopsAtAFileHeldOpenByAnotherProcess) {
  TempFolder root(L"deploy");
  const fs::path staging = root / L"staging";
  const fs::path install = root / L"install";
  for (const wchar_t* name : {L"a.dll", L"b.dll", L"c.dll", L"d.dll", L"e.dll"}) {
    Put(staging / L"bin" / name, "new " + WideToUtf8(name));
    Put(install / L"bin" / name, "old " + WideToUtf8(name));
  }
  const std::vector<std::wstring> order = WalkOrder(staging);
  ASSERT_EQ(order.size(), 5u);

  std::wstring errorText;
  {
    HeldByAnotherProcess held(install / order[2]);
    EXPECT_FALSE(DeployStagedTree(staging.wstring(), install.wstring(), errorText));
  }
  EXPECT_EQ(errorText, kNotInstalled + order[2]);
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::string name = WideToUtf8(fs::path(order[i]).filename().wstring());
    EXPECT_EQ(ReadFile(install / order[i]), (i < 2 ? "new " : "old ") + name) << WideToUtf8(order[i]);
  }
}

TEST(DeployStagedTree, ShortAndOtherSpellingsOfTheStagingFolderGivePlainRelativePaths) {
  TempFolder root(L"deploy");
  const fs::path staging = root / L"staging folder with a long name";
  Put(staging / L"Fernquill.exe", "main");
  Put(staging / L"plugins" / L"audio" / L"mixer.dll", "mixer");
  Put(staging / L"config" / L"settings.ini", "package settings");

  wchar_t shortPath[MAX_PATH] = {};
  const DWORD length = ::GetShortPathNameW(staging.c_str(), shortPath, MAX_PATH);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
  ASSERT_NE(std::wstring(shortPath), staging.wstring()) << "no 8.3 name for the staging folder";

  const struct {
    const wchar_t* name;
    std::wstring stagingDir;
  } cases[] = {
      {L"8.3 short form", shortPath},
      {L"trailing separator", staging.wstring() + L"\\"},
      {L"upper case", ToUpperCopy(staging.wstring())},
      {L"dot components", (root / L"." / L"x" / L".." / L"staging folder with a long name").wstring()},
  };
  const std::map<std::wstring, std::string> expected = {{L"Fernquill.exe", "main"},
                                                        {L"plugins\\audio\\mixer.dll", "mixer"}};
  int index = 0;
  for (const auto& c : cases) {
    const fs::path install = root / (L"install" + std::to_wstring(index++));
    std::wstring errorText;
    ASSERT_TRUE(DeployStagedTree(c.stagingDir, install.wstring(), errorText))
        << WideToUtf8(c.name) << ": " << WideToUtf8(errorText);
    EXPECT_EQ(FilesBelow(install), expected) << WideToUtf8(c.name);
  }
}

TEST(DeployStagedTree, NeverFollowsALinkOutOfTheStagingFolder) {
  TempFolder root(L"deploy");
  const fs::path staging = root / L"run" / L"staging";
  const fs::path install = root / L"install";
  const fs::path outside = root / L"outside";
  Put(outside / L"secret.txt", "not part of the package");
  Put(staging / L"Fernquill.exe", "main");
  fs::create_directories(staging / L"sub");
  SymbolicLinks links;
  links.Make(staging / L"sub" / L"leak.txt", outside / L"secret.txt", false);
  const auto outsideBefore = FilesBelow(outside);

  std::wstring errorText;
  EXPECT_FALSE(DeployStagedTree(staging.wstring(), install.wstring(), errorText));
  EXPECT_EQ(errorText, kPathError);
  // Followed, the link's relative path climbs out: install\..\..\outside\secret.txt.
  const fs::path escaped = (install / L".." / L".." / L"outside" / L"secret.txt").lexically_normal();
  EXPECT_FALSE(fs::exists(escaped)) << WideToUtf8(escaped.wstring());
  EXPECT_EQ(FilesBelow(outside), outsideBefore);
  for (const auto& [path, bytes] : FilesBelow(install)) {
    EXPECT_NE(bytes, "not part of the package") << WideToUtf8(path);
  }
}

TEST(DeployStagedTree, VisitsFolderLinksWithoutEnteringThem) {
  TempFolder root(L"deploy");
  const fs::path staging = root / L"staging";
  const fs::path install = root / L"install";
  Put(root / L"outside" / L"secret.txt", "not part of the package");
  Put(staging / L"Fernquill.exe", "main");
  Put(staging / L"sub" / L"inner.txt", "inner");
  SymbolicLinks links;
  links.Make(staging / L"linked", root / L"outside", true);
  links.Make(staging / L"sub" / L"loop", staging, true);  // entered, the walk would go round until it broke

  std::wstring errorText;
  ASSERT_TRUE(DeployStagedTree(staging.wstring(), install.wstring(), errorText)) << WideToUtf8(errorText);
  const std::map<std::wstring, std::string> expected = {{L"Fernquill.exe", "main"},
                                                        {L"sub\\inner.txt", "inner"}};
  EXPECT_EQ(FilesBelow(install), expected);
}

TEST(DeployStagedTree, ReportsAStagedFolderThatCannotBeRead) {
  TempFolder root(L"deploy");
  const fs::path staging = root / L"staging";
  Put(staging / L"Fernquill.exe", "main");
  Put(staging / L"plugins" / L"mixer.dll", "mixer");

  std::wstring errorText;
  {
    HeldByAnotherProcess held(staging / L"plugins");
    EXPECT_FALSE(DeployStagedTree(staging.wstring(), (root / L"install").wstring(), errorText));
  }
  EXPECT_EQ(errorText, kCannotRead);

  errorText.clear();
  EXPECT_FALSE(
      DeployStagedTree((root / L"no such staging").wstring(), (root / L"install").wstring(), errorText));
  EXPECT_EQ(errorText, kCannotRead);
}

TEST(DeployStagedTree, ReportsAnInstallFolderThatCannotBeCreated) {
  TempFolder root(L"deploy");
  const fs::path staging = root / L"staging";
  Put(staging / L"Fernquill.exe", "main");
  Put(root / L"a file", "in the way");

  for (const fs::path& install : {root / L"a file", root / L"a file" / L"Fernquill"}) {
    std::wstring errorText;
    EXPECT_FALSE(DeployStagedTree(staging.wstring(), install.wstring(), errorText))
        << WideToUtf8(install.wstring());
    EXPECT_EQ(errorText, kCannotCreate) << WideToUtf8(install.wstring());
  }
  EXPECT_EQ(ReadFile(root / L"a file"), "in the way");
}

}  // namespace
