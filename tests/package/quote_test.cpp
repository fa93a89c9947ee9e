// PowerShell literals and the Expand-Archive command text, read back with PowerShell's quote rules.
#include "package/expand.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "command_parser.h"
#include "test_support.h"

namespace {

using test_support::WideToUtf8;

TEST(PowerShellQuote, DoublesEverySingleQuoteCharacterAndNothingElse) {
  const struct {
    std::wstring text;
    std::wstring expected;
  } cases[] = {
      {L"", L"''"},
      {L"'", L"''''"},
      {L"O'Neil", L"'O''Neil'"},
      {L"O\u2019Neil", L"'O\u2019\u2019Neil'"},
      {L"\u2018left", L"'\u2018\u2018left'"},
      {L"low\u201A", L"'low\u201A\u201A'"},
      {L"rev\u201Bx", L"'rev\u201B\u201Bx'"},
      {L"'\u2018\u2019\u201A\u201B", L"'''\u2018\u2018\u2019\u2019\u201A\u201A\u201B\u201B'"},
      // Double quotes of every kind, dollar, back-tick and backslashes mean nothing inside single quotes.
      {L"C:\\a\\\"b\" $x `t \u201C\u201D\u201E \u2032", L"'C:\\a\\\"b\" $x `t \u201C\u201D\u201E \u2032'"},
      {L"C:\\Users\\O'Neil\\AppData\\Local\\Temp\\FernquillSetup_4812.zip",
       L"'C:\\Users\\O''Neil\\AppData\\Local\\Temp\\FernquillSetup_4812.zip'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PowerShellQuote(c.text), c.expected) << WideToUtf8(c.text);
  }
}

TEST(BuildExpandCommand, JoinsTheQuotedPathsIntoOneCommand) {
  EXPECT_EQ(BuildExpandCommand(L"C:\\Temp\\FernquillSetup_4812.zip", L"C:\\Temp\\FernquillSetupStage_4812"),
            L"Expand-Archive -LiteralPath 'C:\\Temp\\FernquillSetup_4812.zip' -DestinationPath "
            L"'C:\\Temp\\FernquillSetupStage_4812' -Force");
  EXPECT_EQ(BuildExpandCommand(L"C:\\Users\\O\u2019Neil\\p.zip", L"C:\\Users\\O'Neil\\s"),
            L"Expand-Archive -LiteralPath 'C:\\Users\\O\u2019\u2019Neil\\p.zip' -DestinationPath "
            L"'C:\\Users\\O''Neil\\s' -Force");
}

TEST(BuildExpandArguments, IsTheSixOptionsThenTheCommand) {
  const std::vector<std::wstring> expected = {
      L"-NoLogo",
      L"-NoProfile",
      L"-NonInteractive",
      L"-ExecutionPolicy",
      L"Bypass",
      L"-Command",
      L"Expand-Archive -LiteralPath 'C:\\T\\p.zip' -DestinationPath 'C:\\T\\s' -Force"};
  EXPECT_EQ(BuildExpandArguments(L"C:\\T\\p.zip", L"C:\\T\\s"), expected);
  EXPECT_STREQ(kPowerShellPath, L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe");
}

// Reads the literal back the way PowerShell would; it must end exactly where the quoted text ends.
::testing::AssertionResult ReadsBack(const std::wstring& text) {
  const std::wstring quoted = PowerShellQuote(text);
  std::size_t position = 0;
  std::wstring value;
  if (!powershell_standin::ReadSingleQuotedLiteral(quoted, position, value)) {
    return ::testing::AssertionFailure() << "unterminated: " << WideToUtf8(quoted);
  }
  if (position != quoted.size() || value != text) {
    return ::testing::AssertionFailure() << WideToUtf8(quoted) << " reads back as " << WideToUtf8(value);
  }
  return ::testing::AssertionSuccess();
}

TEST(PowerShellQuote, ReadsBackAsTheOriginalText) {
  const std::wstring texts[] = {
      L"",
      L"C:\\Users\\O'Neil\\AppData\\Local\\Temp\\FernquillSetup_4812.zip",
      L"C:\\Users\\O\u2019Neil\\AppData\\Local\\Temp\\FernquillSetupStage_4812",
      L"\u2018\u2019\u201A\u201B'",
      L"''''",
      L"ends with a quote\u2019",
      L"C:\\Пользователи\\Иван\\Temp",
  };
  for (const std::wstring& text : texts) EXPECT_TRUE(ReadsBack(text));

  // Random texts over the characters that matter to the quoting.
  const wchar_t alphabet[] = {L'a',      L' ',      L'\\',     L'"',      L'$',
                              L'`',      L'\'',     L'\u2018', L'\u2019', L'\u201A',
                              L'\u201B', L'\u201C', L'\u201D', L'\u0416', L'\t'};
  std::mt19937 random(12345);
  std::uniform_int_distribution<std::size_t> pick(0, sizeof(alphabet) / sizeof(alphabet[0]) - 1);
  std::uniform_int_distribution<int> length(0, 24);
  for (int round = 0; round < 2000; ++round) {
    std::wstring text;
    for (int i = length(random); i > 0; --i) text.push_back(alphabet[pick(random)]);
    ASSERT_TRUE(ReadsBack(text)) << "round " << round;
  }
}

TEST(PowerShellQuote, OnlyDoublingTheApostropheBreaksOnATypographicOne) {
  // The literal PowerShell gets when only U+0027 is doubled: it ends after "O".
  const std::wstring apostropheOnly = L"'C:\\Users\\O\u2019Neil\\p.zip'";
  std::size_t position = 0;
  std::wstring value;
  ASSERT_TRUE(powershell_standin::ReadSingleQuotedLiteral(apostropheOnly, position, value));
  EXPECT_EQ(value, L"C:\\Users\\O");
  EXPECT_LT(position, apostropheOnly.size());
}

}  // namespace
