// Building child command lines and running a child to its exit code.
#include "package/process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "package_fixtures.h"
#include "test_support.h"

namespace {

TEST(BuildCommandLine, QuotesEachPieceAndEscapesNothing) {
  const struct {
    const char* name;
    std::wstring program;
    std::vector<std::wstring> arguments;
    std::wstring expected;
  } cases[] = {
      {"no arguments", L"C:\\Tools\\child.exe", {}, L"\"C:\\Tools\\child.exe\""},
      {"spaces", L"C:\\Program Files\\x.exe", {L"a", L"b c"}, L"\"C:\\Program Files\\x.exe\" \"a\" \"b c\""},
      {"empty argument", L"p.exe", {L""}, L"\"p.exe\" \"\""},
      {"backslashes and quotes kept",
       L"p.exe",
       {L"C:\\dir\\x", L"'single' $v `t"},
       L"\"p.exe\" \"C:\\dir\\x\" \"'single' $v `t\""},
      {"expand invocation",
       L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe",
       {L"-NoLogo", L"-NoProfile", L"-NonInteractive", L"-ExecutionPolicy", L"Bypass", L"-Command",
        L"Expand-Archive -LiteralPath 'C:\\Temp\\FernquillSetup_4812.zip' -DestinationPath "
        L"'C:\\Temp\\FernquillSetupStage_4812' -Force"},
       L"\"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe\" \"-NoLogo\" \"-NoProfile\" "
       L"\"-NonInteractive\" \"-ExecutionPolicy\" \"Bypass\" \"-Command\" \"Expand-Archive -LiteralPath "
       L"'C:\\Temp\\FernquillSetup_4812.zip' -DestinationPath 'C:\\Temp\\FernquillSetupStage_4812' -Force\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BuildCommandLine(c.program, c.arguments), c.expected) << c.name;
  }
}

// What the exit child wrote about itself: key=value lines, arguments in order.
struct ChildReport {
  std::map<std::wstring, std::wstring> values;
  std::vector<std::wstring> arguments;
};

ChildReport ReadChildReport(const std::filesystem::path& log) {
  ChildReport report;
  const auto text = package_fixtures::ReadUtf8File(log);
  if (!text) return report;
  std::wistringstream lines(*text);
  std::wstring line;
  while (std::getline(lines, line)) {
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) continue;
    const std::wstring key = line.substr(0, equals);
    const std::wstring value = line.substr(equals + 1);
    if (key == L"argument") {
      report.arguments.push_back(value);
    } else {
      report.values[key] = value;
    }
  }
  return report;
}

class RunProcessAndWaitTest : public ::testing::Test {
 protected:
  test_support::TempFolder folder_{L"proc"};
  std::wstring log_ = (folder_ / L"child.log").wstring();
  test_support::ScopedEnvironment logVariable_{L"FERNQUILL_CHILD_LOG", &log_};
  std::wstring child_ = test_support::EquipmentPath(L"exit_child.exe");
};

TEST_F(RunProcessAndWaitTest, GivesBackTheChildsExitCode) {
  const struct {
    std::wstring argument;
    DWORD expected;
  } cases[] = {
      {L"0", 0},
      {L"5", 5},
      {L"0xC0000005", 0xC0000005u},
      {L"4294967295", 0xFFFFFFFFu},
  };
  for (const auto& c : cases) {
    DWORD exitCode = 12345;
    ASSERT_TRUE(RunProcessAndWait(child_, {c.argument}, exitCode, true))
        << test_support::WideToUtf8(c.argument);
    EXPECT_EQ(exitCode, c.expected) << test_support::WideToUtf8(c.argument);
  }
}

TEST_F(RunProcessAndWaitTest, ReportsAProgramThatCannotStartWithoutTouchingTheExitCode) {
  const std::wstring notAProgram = (folder_ / L"not-a-program.exe").wstring();
  test_support::WriteFile(notAProgram, "just text");
  const std::wstring missing[] = {(folder_ / L"missing.exe").wstring(), notAProgram, L""};
  for (const std::wstring& program : missing) {
    DWORD exitCode = 12345;
    EXPECT_FALSE(RunProcessAndWait(program, {L"7"}, exitCode, true)) << test_support::WideToUtf8(program);
    EXPECT_EQ(exitCode, 12345u);
  }
}

TEST_F(RunProcessAndWaitTest, CommandLineReachesTheChildExactly) {
  const struct {
    const char* name;
    std::vector<std::wstring> arguments;
    std::wstring expectedTail;  // after the quoted program path
  } cases[] = {
      {"no arguments", {}, L""},
      {"code only", {L"0"}, L" \"0\""},
      {"spaces, quotes, unicode",
       {L"0", L"with space", L"O'Neil", L"O\u2019Neil", L"Папка", L"$env:x `t", L"C:\\dir\\file.zip"},
       L" \"0\" \"with space\" \"O'Neil\" \"O\u2019Neil\" \"Папка\" \"$env:x `t\" \"C:\\dir\\file.zip\""},
      {"empty argument", {L"0", L""}, L" \"0\" \"\""},
  };
  for (const auto& c : cases) {
    DWORD exitCode = 12345;
    ASSERT_TRUE(RunProcessAndWait(child_, c.arguments, exitCode, false)) << c.name;
    EXPECT_EQ(exitCode, 0u) << c.name;
    const ChildReport report = ReadChildReport(log_);
    EXPECT_EQ(report.values.at(L"command_line"), L"\"" + child_ + L"\"" + c.expectedTail) << c.name;
    EXPECT_EQ(report.arguments, c.arguments) << c.name;
  }
}

TEST_F(RunProcessAndWaitTest, AHiddenStartHidesTheWindowAndGivesNoSharedConsole) {
  for (const bool hidden : {true, false}) {
    DWORD exitCode = 12345;
    ASSERT_TRUE(RunProcessAndWait(child_, {L"0"}, exitCode, hidden));
    const ChildReport report = ReadChildReport(log_);
    if (hidden) {
      EXPECT_EQ(report.values.at(L"uses_show_window"), L"1");
      EXPECT_EQ(report.values.at(L"show_window"), std::to_wstring(SW_HIDE));
      // A console of its own, with nobody else attached: the windowless console of CREATE_NO_WINDOW.
      EXPECT_EQ(report.values.at(L"console_processes"), L"1");
    } else {
      EXPECT_EQ(report.values.at(L"uses_show_window"), L"0");
      // Shares this test's console instead.
      EXPECT_NE(report.values.at(L"console_processes"), L"1");
    }
  }
}

TEST_F(RunProcessAndWaitTest, ChildInheritsTheCurrentFolderAndEnvironment) {
  wchar_t previous[MAX_PATH * 4] = {};
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH * 4, previous), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryW(folder_.str().c_str()));
  DWORD exitCode = 12345;
  const bool started = RunProcessAndWait(child_, {L"0"}, exitCode, true);
  ::SetCurrentDirectoryW(previous);
  ASSERT_TRUE(started);
  // The child found its log through the inherited environment.
  const ChildReport report = ReadChildReport(log_);
  ASSERT_FALSE(report.values.empty());
  EXPECT_EQ(report.values.at(L"current_directory"), folder_.str());
}

}  // namespace
