// Behaviour of the shared text and error helpers.
#include "common/text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "test_support.h"

namespace {

struct Utf8Case {
  const char* name;
  std::string bytes;
  std::wstring expected;
};

TEST(Utf8ToWide, DecodesStrictly) {
  const Utf8Case cases[] = {
      {"cyrillic", "\xD0\x9F\xD1\x80", L"\u041F\u0440"},
      {"ascii", "version", L"version"},
      {"empty", "", L""},
      {"lone FF", "\xFF", L""},
      {"cut in a character", "ab\xD0", L""},
      {"invalid in the middle", "ab\xC3\x28" "cd", L""},
      {"embedded zero", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
      {"non-BMP", "\xF0\x9F\x8C\xBF", L"\U0001F33F"},
  };
  for (const Utf8Case& c : cases) {
    EXPECT_EQ(Utf8ToWide(c.bytes), c.expected) << c.name;
  }
}

TEST(WindowsErrorText, GivesTheSystemTextWithItsLineBreak) {
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  const std::wstring text = WindowsErrorText();
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
  EXPECT_EQ(text.find(L"Windows error"), std::wstring::npos);
}

TEST(WindowsErrorText, FallsBackToTheNumberWithoutLineBreak) {
  const struct {
    DWORD code;
    const wchar_t* expected;
  } cases[] = {
      {57005, L"Windows error 57005"},
      // WinHTTP codes: Wine has neither a system text nor a winhttp.dll table for them.
      {12029, L"Windows error 12029"},
      {12157, L"Windows error 12157"},
      {0xE0000001u, L"Windows error 3758096385"},
  };
  for (const auto& c : cases) {
    ::SetLastError(c.code);
    EXPECT_EQ(WindowsErrorText(), c.expected);
  }
}

TEST(WindowsErrorText, WinHttpCodesStillFallBackWithWinHttpLoaded) {
  HMODULE winhttp = ::LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  ASSERT_NE(winhttp, nullptr);
  ::SetLastError(12007);
  const std::wstring text = WindowsErrorText();
  ::FreeLibrary(winhttp);
  // Windows has a real text in winhttp.dll; Wine has none, and then the fallback must stay exact.
  if (text.rfind(L"Windows error", 0) == 0) {
    EXPECT_EQ(text, L"Windows error 12007");
  } else {
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
  }
}

TEST(JoinPath, AddsOneSeparatorOnlyWhereNeeded) {
  const struct {
    const wchar_t* left;
    const wchar_t* right;
    const wchar_t* expected;
  } cases[] = {
      {L"C:\\Users\\a\\AppData\\Local\\Temp\\", L"FernquillSetup_12.zip",
       L"C:\\Users\\a\\AppData\\Local\\Temp\\FernquillSetup_12.zip"},
      {L"C:\\dir", L"name", L"C:\\dir\\name"},
      {L"C:", L"name", L"C:name"},
      {L"", L"name", L"name"},
      {L"C:\\dir/", L"name", L"C:\\dir/name"},
      {L"D:\\", L"Fernquill", L"D:\\Fernquill"},
      {L"C:\\a", L"plugins\\audio\\mixer.dll", L"C:\\a\\plugins\\audio\\mixer.dll"},
      {L"C:\\a\\.", L"..\\b", L"C:\\a\\.\\..\\b"},  // nothing is normalised
      {L"C:\\a", L"D:\\b", L"D:\\b"},              // an absolute piece replaces the left path
      {L"C:\\a", L"\\b", L"C:\\b"},                // a rooted piece keeps only the drive
      {L"C:\\a", L"", L"C:\\a\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JoinPath(c.left, c.right), c.expected) << "left: " << test_support::WideToUtf8(c.left);
  }
}

class TempFilePathTest : public ::testing::Test {
 protected:
  // TMP is read first; TEMP is set too so that neither Wine's fallback nor the caller's value leaks in.
  std::wstring WithTempFolder(const std::wstring& folder, const wchar_t* name) {
    test_support::ScopedEnvironment tmp(L"TMP", &folder);
    test_support::ScopedEnvironment temp(L"TEMP", &folder);
    return TempFilePath(name);
  }
};

TEST_F(TempFilePathTest, JoinsTheNameToTheTemporaryFolder) {
  EXPECT_EQ(WithTempFolder(L"C:\\T", L"FernquillSetup_7.zip"), L"C:\\T\\FernquillSetup_7.zip");
  EXPECT_EQ(WithTempFolder(L"C:\\T\\", L"x"), L"C:\\T\\x");
}

TEST_F(TempFilePathTest, AcceptsAFolderOfExactly259CharactersAndRefusesLonger) {
  // 258 characters in TMP become 259 with the backslash GetTempPathW appends.
  const std::wstring fits = L"C:\\" + std::wstring(255, L'a');
  ASSERT_EQ(fits.size(), 258u);
  EXPECT_EQ(WithTempFolder(fits, L"n"), fits + L"\\n");

  const std::wstring tooLong = fits + L"b";
  EXPECT_EQ(WithTempFolder(tooLong, L"n"), L"");
}

TEST(TrimWhitespace, RemovesOnlyTheEnds) {
  const struct {
    const wchar_t* input;
    const wchar_t* expected;
  } cases[] = {
      {L"\t  word\r\n", L"word"},
      {L"   ", L""},
      {L"", L""},
      {L" a b ", L"a b"},
      {L"\v\fx\v\f", L"x"},
      {L"C:\\Program Files\\ ", L"C:\\Program Files\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(TrimWhitespace(c.input), c.expected);
}

TEST(ToLowerText, FoldsOnlyLatinCapitals) {
  EXPECT_EQ(ToLowerText(L"ABCDEF0123"), L"abcdef0123");
  EXPECT_EQ(ToLowerText(L"\u041F\u0420\u0418"), L"\u041F\u0420\u0418");  // Cyrillic capitals stay
  EXPECT_EQ(ToLowerText(L"MiXeD-Case_Z"), L"mixed-case_z");
}

TEST(EqualsIgnoringCase, ComparesLengthFirstThenFoldedCharacters) {
  EXPECT_TRUE(EqualsIgnoringCase(L"GAMES", L"games"));
  EXPECT_FALSE(EqualsIgnoringCase(L"configs", L"config"));
  EXPECT_FALSE(EqualsIgnoringCase(L"\u041F", L"\u043F"));
  EXPECT_TRUE(EqualsIgnoringCase(L"", L""));
}

}  // namespace
