// A server that takes the request and never answers: the wait for the response must end.
#include "net/http_download.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "common/text.h"
#include "test_server.h"
#include "test_support.h"

namespace {

TEST(HttpDownloadHang, TheResponseWaitEndsAfterTheReceiveLimit) {
  test_server::Site site;
  test_support::TempFolder folder(L"net");
  const std::wstring target = (folder / L"pkg.zip").wstring();
  std::wstring error;
  const ULONGLONG start = ::GetTickCount64();
  const bool ok = HttpDownload(site.Url(L"/_/hang"), &target, nullptr, error, true);
  const ULONGLONG elapsed = ::GetTickCount64() - start;

  EXPECT_FALSE(ok);
  EXPECT_EQ(error, L"Не удалось скачать файл: " + WindowsErrorTextFor(WSAETIMEDOUT));
  // Not a timing test: it shows which limit ended the wait (15 s, not the 5 s ones, not never).
  EXPECT_GE(elapsed, 14000u);
  EXPECT_LT(elapsed, 40000u);
  EXPECT_EQ(site.Requests().size(), 1u);  // the request did arrive
  EXPECT_FALSE(std::filesystem::exists(target));
}

}  // namespace
