// Which addresses ParseHttpsUrl accepts, what it takes from them, and its texts for the others.
#include "net/https_url.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>

#include <string>

#include "common/text.h"
#include "test_support.h"

namespace {

using test_support::WideToUtf8;

TEST(ParseHttpsUrl, SplitsHttpsAddresses) {
  const struct {
    const wchar_t* url;
    const wchar_t* host;
    const wchar_t* path;
    std::uint16_t port;
  } cases[] = {
      {L"https://h", L"h", L"/", 443},
      {L"https://h/", L"h", L"/", 443},
      {L"https://h:8443/a%20b?q=1", L"h", L"/a%20b?q=1", 8443},
      {L"https://updates.fernquill.example/updates/latest.txt", L"updates.fernquill.example",
       L"/updates/latest.txt", 443},
      {L"https://localhost:47443/p/pkg.zip?v=2&x=%2F", L"localhost", L"/p/pkg.zip?v=2&x=%2F", 47443},
      {L"https://h/a#frag", L"h", L"/a#frag", 443},
      {L"https://H.Example/X", L"H.Example", L"/X", 443},  // nothing is folded
  };
  for (const auto& c : cases) {
    std::wstring host = L"old";
    std::wstring path = L"old";
    std::uint16_t port = 1;
    std::wstring error = L"untouched";
    ASSERT_TRUE(ParseHttpsUrl(c.url, host, path, port, error))
        << WideToUtf8(c.url) << ": " << WideToUtf8(error);
    EXPECT_EQ(host, c.host) << WideToUtf8(c.url);
    EXPECT_EQ(path, c.path) << WideToUtf8(c.url);
    EXPECT_EQ(port, c.port) << WideToUtf8(c.url);
    EXPECT_EQ(error, L"untouched");
  }
}

TEST(ParseHttpsUrl, RefusesWhatTheSplitterRefusesWithItsText) {
  const struct {
    const wchar_t* url;
    DWORD code;
  } cases[] = {
      {L"", ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
      {L"example.com/x", ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
      {L"ftp://h/x", ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
      {L"https://", ERROR_WINHTTP_INVALID_URL},
  };
  for (const auto& c : cases) {
    std::wstring host = L"h0";
    std::wstring path = L"/p0";
    std::uint16_t port = 7;
    std::wstring error = L"old";
    EXPECT_FALSE(ParseHttpsUrl(c.url, host, path, port, error)) << WideToUtf8(c.url);
    EXPECT_EQ(error, L"Некорректный URL: " + WindowsErrorTextFor(c.code)) << WideToUtf8(c.url);
    EXPECT_EQ(host, L"h0");
    EXPECT_EQ(path, L"/p0");
    EXPECT_EQ(port, 7);
  }
}

TEST(ParseHttpsUrl, RefusesEveryOtherSchemeWithTheHttpsText) {
  for (const wchar_t* url : {L"http://h/x", L"http://localhost:443/updates/latest.txt", L"http://h"}) {
    std::wstring host = L"h0";
    std::wstring path = L"/p0";
    std::uint16_t port = 7;
    std::wstring error;
    EXPECT_FALSE(ParseHttpsUrl(url, host, path, port, error)) << WideToUtf8(url);
    EXPECT_EQ(error, L"Fernquill Setup принимает только HTTPS.") << WideToUtf8(url);
    EXPECT_EQ(host, L"h0");
    EXPECT_EQ(path, L"/p0");
    EXPECT_EQ(port, 7);
  }
}

}  // namespace
