// JoinPath over random left paths and relative right-hand pieces, against the plain joining rule.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "common/text.h"
#include "test_support.h"

namespace {

constexpr int kPairs = 5000;

std::uint64_t PropertySeed(std::uint64_t fallback) {
  const char* text = std::getenv("FERNQUILL_PROPERTY_SEED");
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}

bool IsDriveDesignator(const std::wstring& path) {
  return path.size() == 2 && path[1] == L':' &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

// The rule for a relative right-hand piece: one backslash between, unless the left needs none.
std::wstring ModelJoin(const std::wstring& left, const std::wstring& right) {
  const bool noSeparator =
      left.empty() || left.back() == L'\\' || left.back() == L'/' || IsDriveDesignator(left);
  return noSeparator ? left + right : left + L"\\" + right;
}

const std::vector<std::wstring> kLeftPieces = {
    L"C:",     L"c:",      L"z:", L"\\",    L"/",          L"dir",  L"a b",
    L"\u03A9", L"..",      L".",  L"x.txt", L"Temp\\",     L"sub/", L"\\\\server\\share",
    L"1:",     L"\u03A9:", L":",  L"d:",    L"\U0001F33F", L"dir.", L"\\\\server"};
const std::vector<std::wstring> kRightPieces = {
    L"name", L"x.txt", L"..",   L".",     L"a b", L"\u03A9",   L"\U0001F33F", L"Fernquill.exe",
    L"ab:c", L"1",     L"dir.", L"x y.z", L"1:x", L"\u03A9:y", L":"};

class PathMaker {
 public:
  explicit PathMaker(std::uint64_t seed) : rng_(seed) {}

  std::wstring Left() {
    std::wstring left;
    const std::size_t pieces = Below(5);
    for (std::size_t i = 0; i < pieces; ++i) {
      left += Pick(kLeftPieces);
      if (Below(2) == 0) left += Separator();
    }
    return left;
  }

  // Relative: never empty, never starting with a separator or a drive designator.
  std::wstring Right() {
    std::wstring right = Pick(kRightPieces);
    const std::size_t more = Below(4);
    for (std::size_t i = 0; i < more; ++i) right += Separator() + Pick(kRightPieces);
    if (Below(4) == 0) right += Separator();
    return right;
  }

 private:
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }
  const std::wstring& Pick(const std::vector<std::wstring>& from) { return from[Below(from.size())]; }
  std::wstring Separator() { return Below(3) == 0 ? L"/" : L"\\"; }

  std::mt19937_64 rng_;
};

TEST(JoinPathProperty, RelativePiecesFollowTheRule) {
  const std::uint64_t seed = PropertySeed(0x5EED0003);
  std::cout << "JoinPath: " << kPairs << " pairs, seed " << seed
            << " (set FERNQUILL_PROPERTY_SEED to repeat another)\n";
  PathMaker maker(seed);
  int withSeparator = 0;
  for (int i = 0; i < kPairs; ++i) {
    const std::wstring left = maker.Left();
    const std::wstring right = maker.Right();
    const std::wstring expected = ModelJoin(left, right);
    ASSERT_EQ(JoinPath(left, right), expected)
        << "pair #" << i << ": left \"" << test_support::WideToUtf8(left) << "\", right \""
        << test_support::WideToUtf8(right) << '"';
    if (expected.size() > left.size() + right.size()) ++withSeparator;
  }
  std::cout << "JoinPath: " << withSeparator << " joins added a backslash\n";
  // Both branches of the rule must have been exercised to mean anything.
  EXPECT_GT(withSeparator, kPairs / 10);
  EXPECT_LT(withSeparator, kPairs - kPairs / 10);
}

}  // namespace
