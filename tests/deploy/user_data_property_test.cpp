// IsUserDataPath over seeded random relative paths, against a plain model of the user-data rule.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "deploy/deploy.h"
#include "test_support.h"

namespace {

// The rule written plainly: first component (up to \ or /) or the whole path, trailing dots and
// blanks dropped as Windows drops them, letters A-Z folded, compared with the user-data names.
std::wstring FoldAsciiAndTrim(std::wstring text) {
  while (!text.empty() && (text.back() == L'.' || text.back() == L' ')) text.pop_back();
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

bool ModelIsUserData(const std::wstring& path) {
  if (path.empty()) return true;
  const std::wstring first = FoldAsciiAndTrim(path.substr(0, path.find_first_of(L"\\/")));
  for (const wchar_t* folder : {L"games", L"metadata", L"covers", L"config", L"saves"}) {
    if (first == folder) return true;
  }
  return FoldAsciiAndTrim(path) == L"imgui.ini";
}

unsigned Seed() {
  if (const char* text = std::getenv("FERNQUILL_PROPERTY_SEED"))
    return static_cast<unsigned>(std::strtoul(text, nullptr, 10));
  return std::random_device{}();
}

TEST(IsUserDataPathProperty, AgreesWithThePlainRuleOnRandomPaths) {
  const unsigned seed = Seed();
  std::printf("seed %u (set FERNQUILL_PROPERTY_SEED to repeat)\n", seed);
  std::mt19937 random(seed);
  const std::vector<std::wstring> pieces = {L"games",
                                            L"GAMES",
                                            L"Metadata",
                                            L"covers",
                                            L"Config",
                                            L"saves",
                                            L"imgui.ini",
                                            L"IMGUI.INI",
                                            L"config.",
                                            L"saves ",
                                            L"games. .",
                                            L"configs",
                                            L"config.json",
                                            L"save",
                                            L"gamesx",
                                            L"imgui.ini.bak",
                                            L"imgui",
                                            L"\u0421onfig" /* Cyrillic capital Es */,
                                            L"\u043A\u043E\u043D\u0444\u0438\u0433",
                                            L"data",
                                            L"Fernquill.exe",
                                            L"plugins",
                                            L"",
                                            L".",
                                            L" ",
                                            L"\u00C9saves"};
  const std::vector<std::wstring> separators = {L"\\", L"/"};
  int userData = 0;
  const int count = 5000;
  for (int i = 0; i < count; ++i) {
    std::wstring path;
    const int parts = 1 + static_cast<int>(random() % 4);
    for (int p = 0; p < parts; ++p) {
      if (p > 0) path += separators[random() % separators.size()];
      path += pieces[random() % pieces.size()];
    }
    const bool expected = ModelIsUserData(path);
    userData += expected ? 1 : 0;
    ASSERT_EQ(IsUserDataPath(path), expected)
        << "path: " << test_support::WideToUtf8(path) << " seed " << seed;
  }
  // A generator that made only one kind of path would prove nothing.
  EXPECT_GT(userData, count / 20);
  EXPECT_LT(userData, count - count / 20);
}

}  // namespace
