// Expanding the package through the PowerShell stand-in at PowerShell's fixed path.
#include "package/expand.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <algorithm>
#include <functional>
#include <vector>
#include <stdexcept>
#include <string>

#include "common/unique_handle.h"
#include "file_faults.h"
#include "package_fixtures.h"
#include "test_support.h"

namespace {

using package_fixtures::FixturePath;
using package_fixtures::ReadTree;
using package_fixtures::ReadUtf8File;
using package_fixtures::SameTree;
using test_support::WideToUtf8;

const std::wstring kCommandLineStart =
    L"\"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe\" \"-NoLogo\" \"-NoProfile\" "
    L"\"-NonInteractive\" \"-ExecutionPolicy\" \"Bypass\" \"-Command\" ";

// Every run logs its command line to a fresh file of the test's folder.
class ExpandPackageTest : public ::testing::Test {
 protected:
  void CopyPackage(const std::wstring& fixture, const std::filesystem::path& target) {
    std::filesystem::create_directories(target.parent_path());
    if (!::CopyFileW(FixturePath(fixture).c_str(), target.c_str(), FALSE)) {
      throw std::runtime_error("cannot copy the package fixture");
    }
  }

  test_support::TempFolder folder_{L"exp"};
  std::wstring log_ = (folder_ / L"powershell.log").wstring();
  test_support::ScopedEnvironment logVariable_{L"FERNQUILL_POWERSHELL_LOG", &log_};
};

TEST_F(ExpandPackageTest, PathsWithSingleQuotesExpandEndToEnd) {
  const struct {
    std::wstring user;
    std::wstring quotedUser;  // as it must appear inside the literals
  } cases[] = {
      {L"O'Neil", L"O''Neil"},
      {L"O\u2019Neil", L"O\u2019\u2019Neil"},
      {L"\u2018Pat\u2019 \u201ALo\u201B", L"\u2018\u2018Pat\u2019\u2019 \u201A\u201ALo\u201B\u201B"},
  };
  for (const auto& c : cases) {
    const std::wstring temp = folder_.str() + L"\\" + c.user + L"\\AppData\\Local\\Temp";
    const std::wstring package = temp + L"\\FernquillSetup_4812.zip";
    const std::wstring staging = temp + L"\\FernquillSetupStage_4812";
    CopyPackage(L"zips\\deflate.zip", package);

    std::wstring errorText = L"text from before";
    ASSERT_TRUE(ExpandPackage(package, staging, errorText)) << WideToUtf8(errorText);
    EXPECT_EQ(errorText, L"text from before");
    EXPECT_TRUE(SameTree(ReadTree(staging), ReadTree(FixturePath(L"zips\\deflate.tree"))))
        << WideToUtf8(c.user);

    const std::wstring quotedTemp = folder_.str() + L"\\" + c.quotedUser + L"\\AppData\\Local\\Temp";
    EXPECT_EQ(ReadUtf8File(log_), kCommandLineStart + L"\"Expand-Archive -LiteralPath '" + quotedTemp +
                                      L"\\FernquillSetup_4812.zip' -DestinationPath '" + quotedTemp +
                                      L"\\FernquillSetupStage_4812' -Force\"")
        << WideToUtf8(c.user);
  }
}

TEST_F(ExpandPackageTest, EmptiesLeftoversOfAnEarlierRunFirst) {
  const std::filesystem::path package = folder_ / L"FernquillSetup_7.zip";
  const std::filesystem::path staging = folder_ / L"FernquillSetupStage_7";
  CopyPackage(L"zips\\deflate.zip", package);
  std::filesystem::create_directories(staging / L"old" / L"sub");
  test_support::WriteFile(staging / L"leftover.txt", "from an earlier run");
  test_support::WriteFile(staging / L"old" / L"sub" / L"x.txt", "older still");
  test_support::WriteFile(staging / L"readme.txt", "stale readme");

  std::wstring errorText;
  ASSERT_TRUE(ExpandPackage(package.wstring(), staging.wstring(), errorText)) << WideToUtf8(errorText);
  EXPECT_TRUE(SameTree(ReadTree(staging), ReadTree(FixturePath(L"zips\\deflate.tree"))));
  EXPECT_TRUE(std::filesystem::exists(package));
}

// The files below a folder, as generic relative paths, without entering folder links.
std::vector<std::wstring> FilesOutsideLinks(const std::filesystem::path& root,
                                            const std::filesystem::path& relative = {}) {
  std::vector<std::wstring> files;
  std::error_code error;
  for (std::filesystem::directory_iterator it(root / relative, error), end; !error && it != end;
       it.increment(error)) {
    const DWORD attributes = ::GetFileAttributesW(it->path().c_str());
    const std::filesystem::path inner = relative / it->path().filename();
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      files.push_back(inner.generic_wstring());
    } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      for (const std::wstring& file : FilesOutsideLinks(root, inner)) files.push_back(file);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST_F(ExpandPackageTest, RemovingTheStagingFolderNeverEntersAFolderLink) {
  const std::filesystem::path package = folder_ / L"FernquillSetup_31.zip";
  CopyPackage(L"zips\\deflate.zip", package);
  const struct {
    const char* name;
    std::function<void(const std::filesystem::path&)> remove;
    bool expanded;
  } cases[] = {
      {"the removal after a run", [](const std::filesystem::path& staging) { RemoveStagingFolder(staging); },
       false},
      {"the clearing before an expansion",
       [&](const std::filesystem::path& staging) {
         std::wstring errorText;
         ASSERT_TRUE(ExpandPackage(package.wstring(), staging.wstring(), errorText)) << WideToUtf8(errorText);
       },
       true},
  };
  int index = 0;
  for (const auto& c : cases) {
    const std::filesystem::path root = folder_ / std::to_wstring(index++);
    const std::filesystem::path outside = root / L"outside";
    const std::filesystem::path staging = root / L"FernquillSetupStage_31";
    std::filesystem::create_directories(outside / L"sub");
    test_support::WriteFile(outside / L"keep.txt", "not the installer's");
    test_support::WriteFile(outside / L"sub" / L"deep.bin", std::string("\0\1\2", 3));
    std::filesystem::create_directories(staging / L"old" / L"sub");
    test_support::WriteFile(staging / L"leftover.txt", "from an earlier run");
    test_support::WriteFile(staging / L"old" / L"sub" / L"read-only.txt", "older still");
    test_support::WriteFile(staging / L"old" / L"hidden.txt", "hidden");
    ASSERT_TRUE(::SetFileAttributesW((staging / L"old" / L"sub" / L"read-only.txt").c_str(),
                                     FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(::SetFileAttributesW((staging / L"old" / L"hidden.txt").c_str(),
                                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    test_support::SymbolicLinks links;
    links.Make(staging / L"linked", outside, true);
    links.Make(staging / L"old" / L"sub" / L"linked again", outside, true);
    const package_fixtures::Tree before = ReadTree(outside);

    c.remove(staging);

    EXPECT_TRUE(SameTree(ReadTree(outside), before)) << c.name;
    // Folders that hold a link may stay: Wine's RemoveDirectoryW cannot remove a folder link (Windows can).
    std::vector<std::wstring> expected;
    if (c.expanded) {
      for (const auto& [path, entry] : ReadTree(FixturePath(L"zips\\deflate.tree"))) {
        if (entry) expected.push_back(path);
      }
      std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(FilesOutsideLinks(staging), expected) << c.name;
  }
}

TEST_F(ExpandPackageTest, ExpandsEvenWhenLeftoversCannotAllBeRemoved) {
  const std::filesystem::path package = folder_ / L"FernquillSetup_12.zip";
  const std::filesystem::path staging = folder_ / L"FernquillSetupStage_12";
  CopyPackage(L"zips\\deflate.zip", package);
  std::filesystem::create_directories(staging);
  test_support::WriteFile(staging / L"in use.txt", "held open");
  test_support::WriteFile(staging / L"readme.txt", "stale readme");
  // Open without delete sharing, as a running program would hold a file: it cannot be removed.
  unique_file_handle inUse(::CreateFileW((staging / L"in use.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(inUse);

  std::wstring errorText = L"before";
  ASSERT_TRUE(ExpandPackage(package.wstring(), staging.wstring(), errorText)) << WideToUtf8(errorText);
  EXPECT_EQ(errorText, L"before");
  package_fixtures::Tree expected = ReadTree(FixturePath(L"zips\\deflate.tree"));
  expected[L"in use.txt"] = "held open";
  EXPECT_TRUE(SameTree(ReadTree(staging), expected));
}

TEST_F(ExpandPackageTest, FailsWithoutStartingPowerShellWhenTheStagingFolderCannotBeMade) {
  const std::filesystem::path package = folder_ / L"FernquillSetup_8.zip";
  CopyPackage(L"zips\\stored.zip", package);
  test_support::WriteFile(folder_ / L"a file", "in the way");

  std::wstring errorText = L"before";
  EXPECT_FALSE(ExpandPackage(package.wstring(), (folder_ / L"a file" / L"FernquillSetupStage_8").wstring(),
                             errorText));
  EXPECT_EQ(errorText, L"Не удалось создать временную папку.");
  EXPECT_FALSE(std::filesystem::exists(log_));
}

TEST_F(ExpandPackageTest, ReportsPowerShellsExitCodeInUnsignedDecimal) {
  const std::filesystem::path good = folder_ / L"FernquillSetup_9.zip";
  const std::filesystem::path corrupt = folder_ / L"FernquillSetup_10.zip";
  CopyPackage(L"zips\\stored.zip", good);
  CopyPackage(L"zips\\corrupt.zip", corrupt);
  const struct {
    const char* name;
    std::filesystem::path package;
    const wchar_t* forcedExitCode;  // stand-in exits with it at once; null: it really expands
    std::wstring expected;
  } cases[] = {
      {"missing package", folder_ / L"missing.zip", nullptr, L"Expand-Archive завершился с кодом 1"},
      {"corrupt package", corrupt, nullptr, L"Expand-Archive завершился с кодом 1"},
      {"exit code 5", good, L"5", L"Expand-Archive завершился с кодом 5"},
      {"access violation", good, L"0xC0000005", L"Expand-Archive завершился с кодом 3221225477"},
      {"all bits", good, L"0xFFFFFFFF", L"Expand-Archive завершился с кодом 4294967295"},
  };
  for (const auto& c : cases) {
    const std::wstring code = c.forcedExitCode ? c.forcedExitCode : L"";
    test_support::ScopedEnvironment exitCode(L"FERNQUILL_POWERSHELL_EXIT_CODE",
                                             c.forcedExitCode ? &code : nullptr);
    std::filesystem::remove(log_);
    std::wstring errorText = L"before";
    EXPECT_FALSE(
        ExpandPackage(c.package.wstring(), (folder_ / L"FernquillSetupStage_9").wstring(), errorText))
        << c.name;
    EXPECT_EQ(errorText, c.expected) << c.name;
    EXPECT_TRUE(std::filesystem::exists(log_)) << c.name << ": PowerShell did not run";
  }
}

// Moves the stand-in away from PowerShell's fixed path for a scope (the tests hold a lock for this).
class PowerShellMovedAway {
 public:
  PowerShellMovedAway() {
    if (!::MoveFileExW(kPowerShellPath, hidden_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      throw std::runtime_error("cannot move the PowerShell stand-in away");
    }
  }
  ~PowerShellMovedAway() { ::MoveFileExW(hidden_.c_str(), kPowerShellPath, MOVEFILE_REPLACE_EXISTING); }
  PowerShellMovedAway(const PowerShellMovedAway&) = delete;
  PowerShellMovedAway& operator=(const PowerShellMovedAway&) = delete;

 private:
  std::wstring hidden_ = std::wstring(kPowerShellPath) + L".hidden-by-test";
};

TEST_F(ExpandPackageTest, FailsWhenPowerShellIsMissingAtItsPathEvenIfAnotherIsOnTheSearchPath) {
  const std::filesystem::path package = folder_ / L"FernquillSetup_11.zip";
  CopyPackage(L"zips\\stored.zip", package);
  const std::filesystem::path other = folder_ / L"other";
  std::filesystem::create_directories(other);
  ASSERT_TRUE(::CopyFileW(test_support::EquipmentPath(L"powershell.exe").c_str(),
                          (other / L"powershell.exe").c_str(), FALSE));
  wchar_t path[32768] = {};
  ::GetEnvironmentVariableW(L"PATH", path, 32768);
  const std::wstring searchPath = other.wstring() + L";" + path;
  test_support::ScopedEnvironment pathVariable(L"PATH", &searchPath);

  PowerShellMovedAway moved;
  wchar_t found[MAX_PATH] = {};
  ASSERT_GT(::SearchPathW(nullptr, L"powershell.exe", nullptr, MAX_PATH, found, nullptr), 0u);
  EXPECT_EQ(std::filesystem::path(found), other / L"powershell.exe");

  std::wstring errorText = L"before";
  EXPECT_FALSE(ExpandPackage(package.wstring(), (folder_ / L"FernquillSetupStage_11").wstring(), errorText));
  EXPECT_EQ(errorText, L"Не удалось запустить PowerShell.");
  EXPECT_FALSE(std::filesystem::exists(log_));
}

}  // namespace
