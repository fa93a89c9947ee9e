// The size limit of a download into memory: exact at its boundary in every framing, early on an announced
// length, and never applied to the file.
#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>

#include "common/text.h"
#include "net/http_download.h"
#include "test_server.h"
#include "test_support.h"

namespace {

using test_server::GeneratedBytes;
using test_server::Site;
using test_support::ReadFile;
using test_support::TempFolder;

constexpr std::uint64_t kMiB = 1048576;
const std::wstring kTooLarge = L"Ответ сервера слишком велик.";
const std::wstring kCutShort =
    L"Ошибка чтения загрузки: " + WindowsErrorTextFor(ERROR_WINHTTP_CONNECTION_ERROR);

TEST(DownloadRules, BodyLimitAllowsExactlyTheLimit) {
  constexpr std::uint64_t kMax = kNoBodyLimit;
  const struct {
    std::uint64_t held;
    std::uint64_t size;
    std::uint64_t limit;
    bool exceeds;
  } cases[] = {
      {0, kMiB, kMiB, false},
      {0, kMiB + 1, kMiB, true},
      {kMiB - 65536, 65536, kMiB, false},
      {kMiB - 65535, 65536, kMiB, true},
      {kMiB, 0, kMiB, false},
      {kMiB, 1, kMiB, true},
      {0, 0, 0, false},
      {0, 1, 0, true},
      // No wrap-around near the top of the range.
      {kMax - 1, 5, kMax, true},
      {5, kMax, kMax, true},
      {0, kMax, kMax, false},
      {kMax, 0, kMax, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExceedsBodyLimit(c.held, c.size, c.limit), c.exceeds)
        << c.held << " + " << c.size << " / " << c.limit;
  }
}

struct LimitCase {
  const char* name;
  std::size_t size;      // bytes the server generates
  const wchar_t* query;  // how it delivers them
  std::wstring error;    // empty: the whole body arrives
};

void PrintTo(const LimitCase& c, std::ostream* out) { *out << c.name; }

class HttpDownloadBodyLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(HttpDownloadBodyLimit, AcceptsUpToTheLimitAndRefusesMore) {
  const LimitCase& c = GetParam();
  Site site;
  std::string body;
  std::wstring error = L"untouched";
  const std::wstring url = site.Url(L"/_/bytes/" + std::to_wstring(c.size) + c.query);
  const bool ok = HttpDownload(url, nullptr, &body, error, false, kMiB);
  if (c.error.empty()) {
    EXPECT_TRUE(ok) << test_support::WideToUtf8(error);
    EXPECT_EQ(error, L"untouched");
    EXPECT_TRUE(body == GeneratedBytes(c.size)) << "body of " << body.size() << " bytes";
  } else {
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, c.error);
    // Whatever was collected before the refusal stays within the limit.
    EXPECT_LE(body.size(), kMiB);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Framings, HttpDownloadBodyLimit,
    ::testing::Values(
        LimitCase{"exactly_the_limit_with_length", kMiB, L"", {}},
        LimitCase{"exactly_the_limit_close_delimited", kMiB, L"?framing=close", {}},
        LimitCase{"exactly_the_limit_chunked", kMiB, L"?framing=chunked", {}},
        LimitCase{"exactly_the_limit_in_small_pieces", kMiB, L"?framing=chunked&chunk=1000", {}},
        LimitCase{"one_byte_more_with_length", kMiB + 1, L"", kTooLarge},
        LimitCase{"one_byte_more_close_delimited", kMiB + 1, L"?framing=close", kTooLarge},
        LimitCase{"one_byte_more_chunked", kMiB + 1, L"?framing=chunked", kTooLarge},
        LimitCase{"far_more_chunked", 8 * kMiB, L"?framing=chunked", kTooLarge},
        // Only ten bytes follow: reading them would end in a short body instead.
        LimitCase{"announced_one_byte_more", 10, L"?announce=1048577&end=close", kTooLarge},
        LimitCase{"announced_beyond_any_size", 10, L"?announce=99999999999999999999999&end=close", kTooLarge},
        // An announcement of exactly the limit is read, so its short body shows.
        LimitCase{"announced_exactly_the_limit", 10, L"?announce=1048576&end=close", kCutShort}),
    [](const ::testing::TestParamInfo<LimitCase>& test) { return std::string(test.param.name); });

TEST(HttpDownloadBodyLimit, NoLimitIsTheDefault) {
  Site site;
  std::string body;
  std::wstring error;
  ASSERT_TRUE(HttpDownload(site.Url(L"/_/bytes/3000000?framing=chunked"), nullptr, &body, error, false))
      << test_support::WideToUtf8(error);
  EXPECT_TRUE(body == GeneratedBytes(3000000)) << "body of " << body.size() << " bytes";
}

TEST(HttpDownloadBodyLimit, NeverLimitsTheFile) {
  Site site;
  TempFolder folder(L"net-limit");
  const auto target = folder / L"package.zip";
  const std::wstring targetText = target.wstring();
  std::wstring error;
  ASSERT_TRUE(HttpDownload(site.Url(L"/_/bytes/3000000"), &targetText, nullptr, error, false, kMiB))
      << test_support::WideToUtf8(error);
  EXPECT_TRUE(ReadFile(target) == GeneratedBytes(3000000));
}

TEST(HttpDownloadBodyLimit, WithAFileToo) {
  // An announced excess is refused before the file is opened, so an older file stays; an excess found in
  // the body takes the file that was being written with it.
  const struct {
    const char* name;
    const wchar_t* query;
    bool olderFileKept;
  } cases[] = {
      {"announced", L"", true},
      {"found_in_the_body", L"?framing=close", false},
  };
  for (const auto& c : cases) {
    Site site;
    TempFolder folder(L"net-limit");
    const auto target = folder / L"both.bin";
    const std::wstring targetText = target.wstring();
    test_support::WriteFile(target, "older file");
    std::string body;
    std::wstring error;
    EXPECT_FALSE(HttpDownload(site.Url(std::wstring(L"/_/bytes/2000000") + c.query), &targetText, &body,
                              error, false, kMiB))
        << c.name;
    EXPECT_EQ(error, kTooLarge) << c.name;
    std::error_code ignored;
    if (c.olderFileKept) {
      EXPECT_EQ(ReadFile(target), "older file") << c.name;
    } else {
      EXPECT_FALSE(std::filesystem::exists(target, ignored)) << c.name;
    }
  }
}

}  // namespace
