// Whole runs at the size limit of latest.txt, and a package far larger than that limit.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "install/messages.h"
#include "install_run_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace install_run;
using test_support::WideToUtf8;

// A valid manifest, made exactly size bytes long by a last line without '=', which the parser skips.
std::string ManifestOfSize(const std::wstring& url, const std::string& digest, std::size_t size) {
  std::string body =
      "version=" + WideToUtf8(kVersion) + "\nurl=" + WideToUtf8(url) + "\nsha256=" + digest + "\n";
  if (body.size() + 1 < size) body += std::string(size - body.size() - 1, 'x') + "\n";
  return body;
}

using ManifestLimitRun = InstallRun;

TEST_F(ManifestLimitRun, OneByteOverTheLimitEndsTheRunAtTheManifest) {
  PublishManifest(ManifestOfSize(site_.Url(L"/package.zip"), std::string(64, 'a'), 1048577));
  ExpectMessages(Run(), {Progress(0), Status(FetchingText()),
                         Status(L"Не удалось получить информацию об обновлении.\r\nОтвет сервера слишком велик."),
                         Finished(false)});
  EXPECT_TRUE(site_.Requests().empty());
  EXPECT_TRUE(fs::is_empty(temp_.path()));
  EXPECT_FALSE(fs::exists(installDir_));
}

TEST_F(ManifestLimitRun, AManifestOfExactlyTheLimitIsRead) {
  // Its package address answers 404, which shows that the manifest was read and accepted.
  PublishManifest(ManifestOfSize(site_.Url(L"/_/status/404"), std::string(64, 'a'), 1048576));
  ASSERT_EQ(fs::file_size(ManifestPath()), 1048576u);
  ExpectMessages(Run(), {Progress(0), Status(FetchingText()), Status(L"Скачиваем Fernquill " + kVersion + L"..."),
                         Status(L"Не удалось скачать Fernquill.\r\nСервер вернул HTTP 404"), Finished(false)});
  EXPECT_EQ(site_.Requests().size(), 1u);
}

TEST_F(ManifestLimitRun, APackageFarLargerThanTheLimitInstalls) {
  ASSERT_GT(ReadPackage(L"large.zip").size(), 3000000u);
  PublishPackage(L"large.zip");
  const auto messages = Run();
  EXPECT_TRUE(EndedInSuccess(messages));
  EXPECT_EQ(FinalText(messages), DoneText());
  EXPECT_TRUE(test_support::ReadFile(installDir_ / L"data" / L"large.bin") == ReadPackage(L"large-data.bin"));
  EXPECT_FALSE(WaitForLauncherLog().empty());
}

}  // namespace
