// The PowerShell stand-in of the test bench: its command reading and its archive expansion.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "command_parser.h"
#include "common/unique_handle.h"
#include "package/expand.h"
#include "package/process.h"
#include "package_fixtures.h"
#include "test_support.h"

namespace {

using package_fixtures::FixturePath;
using package_fixtures::ReadTree;
using package_fixtures::SameTree;
using test_support::WideToUtf8;

TEST(StandinCommandParser, ReadsTheExpandArchiveCommand) {
  const struct {
    const char* name;
    std::wstring command;
    std::wstring literalPath;
    std::wstring destinationPath;
    bool force;
  } cases[] = {
      {"as the installer writes it",
       L"Expand-Archive -LiteralPath 'C:\\p.zip' -DestinationPath 'C:\\s' -Force", L"C:\\p.zip", L"C:\\s",
       true},
      {"any order, any case, extra blanks",
       L"  expand-archive\t-force  -destinationpath 'D' -LITERALPATH 'L'  ", L"L", L"D", true},
      {"without -Force", L"Expand-Archive -LiteralPath 'a' -DestinationPath 'b'", L"a", L"b", false},
      {"doubled quotes of each kind",
       L"Expand-Archive -LiteralPath 'O''N\u2019\u2019x' -DestinationPath "
       L"'\u2018\u2018\u201A\u201A\u201B\u201B' -Force",
       L"O'N\u2019x", L"\u2018\u201A\u201B", true},
      {"typographic quotes around a value",
       L"Expand-Archive -LiteralPath \u2018a b\u2019 -DestinationPath "
       L"\u201Ac\u201B",
       L"a b", L"c", false},
      {"empty literals", L"Expand-Archive -LiteralPath '' -DestinationPath ''", L"", L"", false},
  };
  for (const auto& c : cases) {
    powershell_standin::ExpandArchiveCommand parsed;
    std::wstring error;
    ASSERT_TRUE(powershell_standin::ParseExpandArchiveCommand(c.command, parsed, error))
        << c.name << ": " << WideToUtf8(error);
    EXPECT_EQ(parsed.literalPath, c.literalPath) << c.name;
    EXPECT_EQ(parsed.destinationPath, c.destinationPath) << c.name;
    EXPECT_EQ(parsed.force, c.force) << c.name;
  }
}

TEST(StandinCommandParser, RefusesWhatItDoesNotUnderstand) {
  const struct {
    const char* name;
    std::wstring command;
  } cases[] = {
      {"other command", L"Remove-Item -LiteralPath 'a' -DestinationPath 'b'"},
      {"unknown parameter", L"Expand-Archive -Path 'a' -DestinationPath 'b'"},
      {"switch with a value", L"Expand-Archive -LiteralPath 'a' -DestinationPath 'b' -Force:$false"},
      {"positional value", L"Expand-Archive 'a' -DestinationPath 'b'"},
      {"unterminated", L"Expand-Archive -LiteralPath 'a -DestinationPath 'b"},
      {"quote ended early by a typographic one",
       L"Expand-Archive -LiteralPath 'O\u2019Neil' -DestinationPath 'b'"},
      {"double-quoted value", L"Expand-Archive -LiteralPath \"a\" -DestinationPath 'b'"},
      {"missing value", L"Expand-Archive -LiteralPath 'a' -DestinationPath"},
      {"missing destination", L"Expand-Archive -LiteralPath 'a' -Force"},
      {"missing literal path", L"Expand-Archive -DestinationPath 'b'"},
      {"given twice", L"Expand-Archive -LiteralPath 'a' -LiteralPath 'c' -DestinationPath 'b'"},
      {"empty", L""},
  };
  for (const auto& c : cases) {
    powershell_standin::ExpandArchiveCommand parsed;
    std::wstring error;
    EXPECT_FALSE(powershell_standin::ParseExpandArchiveCommand(c.command, parsed, error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

TEST(StandinCommandParser, TakesExactlyTheInstallersSevenArguments) {
  const std::wstring command = L"Expand-Archive -LiteralPath 'a' -DestinationPath 'b' -Force";
  const std::vector<std::wstring> good = {
      L"-NoLogo", L"-NoProfile", L"-NonInteractive", L"-ExecutionPolicy", L"Bypass", L"-Command", command};
  powershell_standin::ExpandArchiveCommand parsed;
  std::wstring error;
  ASSERT_TRUE(powershell_standin::ParseInvocation(good, parsed, error)) << WideToUtf8(error);
  EXPECT_EQ(parsed.literalPath, L"a");

  std::vector<std::vector<std::wstring>> bad;
  bad.push_back({good.begin(), good.end() - 1});  // six
  bad.push_back(good);
  bad.back().push_back(L"extra");  // eight
  for (std::size_t i = 0; i + 1 < good.size(); ++i) {
    bad.push_back(good);
    bad.back()[i] += L"x";  // each option changed in turn
  }
  for (const auto& arguments : bad) {
    EXPECT_FALSE(powershell_standin::ParseInvocation(arguments, parsed, error)) << arguments.size();
  }
}

struct StandinRun {
  DWORD exitCode = 0;
  std::string standardError;
};

// Starts the stand-in from the equipment folder (never moved by tests) with its stderr in a file.
StandinRun RunStandin(const std::vector<std::wstring>& arguments, const test_support::TempFolder& folder) {
  // Wine's conhost for the windowless child inherits the handle too and lingers a moment after the child,
  // so each run gets a file of its own.
  static int run = 0;
  const std::wstring errorPath = (folder / (L"stderr-" + std::to_wstring(++run) + L".txt")).wstring();
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  unique_file_handle errorFile(::CreateFileW(errorPath.c_str(), GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!errorFile)
    throw std::runtime_error("cannot create the stderr file: " + std::to_string(::GetLastError()));
  std::wstring commandLine = BuildCommandLine(test_support::EquipmentPath(L"powershell.exe"), arguments);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = errorFile.get();
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
    throw std::runtime_error("cannot start the stand-in");
  }
  unique_kernel_handle process(info.hProcess);
  unique_kernel_handle thread(info.hThread);
  ::WaitForSingleObject(process.get(), INFINITE);
  StandinRun result;
  ::GetExitCodeProcess(process.get(), &result.exitCode);
  errorFile.reset();
  result.standardError = test_support::ReadFile(errorPath);
  return result;
}

TEST(Standin, ExpandsArchivesIntoTheirTrees) {
  // stored and deflate entries, folder entries and implied folders, UTF-8 and CP437 names, Info-ZIP's zip
  const wchar_t* const archives[] = {L"stored", L"deflate",       L"nested", L"utf8",
                                     L"cp437",  L"inside_dotdot", L"infozip"};
  for (const wchar_t* name : archives) {
    test_support::TempFolder folder(L"ps");
    const std::wstring destination = (folder / L"not yet there" / L"dest").wstring();
    const StandinRun run = RunStandin(
        BuildExpandArguments(FixturePath(std::wstring(L"zips\\") + name + L".zip"), destination), folder);
    ASSERT_EQ(run.exitCode, 0u) << WideToUtf8(name) << ": " << run.standardError;
    EXPECT_TRUE(
        SameTree(ReadTree(destination), ReadTree(FixturePath(std::wstring(L"zips\\") + name + L".tree"))))
        << WideToUtf8(name);
  }
}

TEST(Standin, OverwritesExistingFilesAndKeepsOthers) {
  test_support::TempFolder folder(L"ps");
  const std::filesystem::path destination = folder / L"dest";
  std::filesystem::create_directories(destination / L"data" / L"config");
  test_support::WriteFile(destination / L"readme.txt", "old readme, longer than the new one");
  test_support::WriteFile(destination / L"data" / L"config" / L"defaults.ini", "old");
  test_support::WriteFile(destination / L"keep.txt", "not in the archive");

  const StandinRun run =
      RunStandin(BuildExpandArguments(FixturePath(L"zips\\deflate.zip"), destination.wstring()), folder);
  ASSERT_EQ(run.exitCode, 0u) << run.standardError;
  package_fixtures::Tree expected = ReadTree(FixturePath(L"zips\\deflate.tree"));
  expected[L"keep.txt"] = "not in the archive";
  EXPECT_TRUE(SameTree(ReadTree(destination), expected));
}

TEST(Standin, WithoutForceLeavesAnExistingFileAlone) {
  test_support::TempFolder folder(L"ps");
  const std::filesystem::path destination = folder / L"dest";
  std::filesystem::create_directories(destination);
  test_support::WriteFile(destination / L"readme.txt", "old");
  std::vector<std::wstring> arguments =
      BuildExpandArguments(FixturePath(L"zips\\stored.zip"), destination.wstring());
  arguments.back() = L"Expand-Archive -LiteralPath " + PowerShellQuote(FixturePath(L"zips\\stored.zip")) +
                     L" -DestinationPath " + PowerShellQuote(destination.wstring());

  const StandinRun run = RunStandin(arguments, folder);
  EXPECT_NE(run.exitCode, 0u);
  EXPECT_NE(run.standardError.find("already exists"), std::string::npos) << run.standardError;
  EXPECT_EQ(test_support::ReadFile(destination / L"readme.txt"), "old");
}

TEST(Standin, RefusesEntriesThatLandOutsideTheDestination) {
  const wchar_t* const archives[] = {L"slip_parent", L"slip_nested", L"slip_backslash", L"slip_absolute",
                                     L"slip_drive"};
  for (const wchar_t* name : archives) {
    test_support::TempFolder folder(L"ps");
    const std::filesystem::path destination = folder / L"a" / L"b" / L"dest";
    const StandinRun run = RunStandin(
        BuildExpandArguments(FixturePath(std::wstring(L"zips\\") + name + L".zip"), destination.wstring()),
        folder);
    EXPECT_NE(run.exitCode, 0u) << WideToUtf8(name);
    EXPECT_NE(run.standardError.find("outside the destination"), std::string::npos)
        << WideToUtf8(name) << ": " << run.standardError;
    for (const std::filesystem::path& escaped :
         {folder / L"a" / L"b" / L"escape.txt", folder / L"a" / L"escape.txt", folder / L"escape.txt",
          std::filesystem::path(L"C:\\escape.txt"), destination.root_path() / L"escape.txt"}) {
      EXPECT_FALSE(std::filesystem::exists(escaped)) << WideToUtf8(name) << " wrote " << escaped.string();
    }
  }
}

TEST(Standin, FailsWithAMessageOnMissingOrBrokenArchives) {
  const wchar_t* const archives[] = {L"zips\\missing.zip", L"zips\\corrupt.zip", L"zips\\truncated.zip",
                                     L"zips\\not_a_zip.zip", L"zips"};
  for (const wchar_t* name : archives) {
    test_support::TempFolder folder(L"ps");
    const StandinRun run =
        RunStandin(BuildExpandArguments(FixturePath(name), (folder / L"dest").wstring()), folder);
    EXPECT_NE(run.exitCode, 0u) << WideToUtf8(name);
    EXPECT_NE(run.standardError.find("Expand-Archive"), std::string::npos)
        << WideToUtf8(name) << ": " << run.standardError;
  }
}

TEST(Standin, RefusesInvocationsItDoesNotUnderstand) {
  test_support::TempFolder folder(L"ps");
  const std::wstring archive = PowerShellQuote(FixturePath(L"zips\\stored.zip"));
  const std::wstring destination = (folder / L"dest").wstring();
  const std::wstring options[] = {L"-NoLogo",          L"-NoProfile", L"-NonInteractive",
                                  L"-ExecutionPolicy", L"Bypass",     L"-Command"};
  const std::wstring commands[] = {
      L"Expand-Archive -Path " + archive + L" -DestinationPath " + PowerShellQuote(destination) + L" -Force",
      L"Get-ChildItem -LiteralPath " + archive,
      L"Expand-Archive -LiteralPath " + archive + L" -DestinationPath '" + destination,
  };
  for (const std::wstring& command : commands) {
    std::vector<std::wstring> arguments(std::begin(options), std::end(options));
    arguments.push_back(command);
    const StandinRun run = RunStandin(arguments, folder);
    EXPECT_NE(run.exitCode, 0u) << WideToUtf8(command);
    EXPECT_FALSE(run.standardError.empty()) << WideToUtf8(command);
  }
  const StandinRun tooFew = RunStandin({L"-NoLogo", L"-Command", L"Expand-Archive"}, folder);
  EXPECT_NE(tooFew.exitCode, 0u);
  EXPECT_FALSE(tooFew.standardError.empty());
  EXPECT_FALSE(std::filesystem::exists(destination));
}

TEST(Standin, RecordsTheCommandLineItReceived) {
  test_support::TempFolder folder(L"ps");
  const std::wstring log = (folder / L"powershell.log").wstring();
  test_support::ScopedEnvironment logVariable(L"FERNQUILL_POWERSHELL_LOG", &log);
  const std::vector<std::wstring> arguments =
      BuildExpandArguments(FixturePath(L"zips\\stored.zip"), (folder / L"O\u2019Neil dest").wstring());

  const StandinRun run = RunStandin(arguments, folder);
  ASSERT_EQ(run.exitCode, 0u) << run.standardError;
  EXPECT_EQ(package_fixtures::ReadUtf8File(log),
            BuildCommandLine(test_support::EquipmentPath(L"powershell.exe"), arguments));
}

}  // namespace
