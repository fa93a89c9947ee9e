// Whole runs at the size limit of latest.txt, and a package far larger than that limit.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "install/install_worker.h"
#include "install/messages.h"
#include "test_server.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::RecordedMessage;
using test_support::WideToUtf8;

const std::wstring kVersion = L"3.0.0";

std::string ReadPackageFile(const std::wstring& name) {
  return test_support::ReadFile(test_support::BuildDir() + L"\\tests\\install\\packages\\" + name);
}

// A valid manifest, made exactly size bytes long by a last line without '=', which the parser skips.
std::string ManifestOfSize(const std::wstring& url, const std::string& digest, std::size_t size) {
  std::string body =
      "version=" + WideToUtf8(kVersion) + "\nurl=" + WideToUtf8(url) + "\nsha256=" + digest + "\n";
  if (body.size() + 1 < size) body += std::string(size - body.size() - 1, 'x') + "\n";
  return body;
}

struct Expected {
  UINT message;
  WPARAM wParam;
  std::wstring text;
};

std::string Describe(const std::vector<RecordedMessage>& messages) {
  std::string out;
  for (const RecordedMessage& m : messages) {
    out += "{" + std::to_string(m.message) + ", " + std::to_string(m.wParam) + ", \"" + WideToUtf8(m.text) +
           "\"} ";
  }
  return out;
}

void ExpectMessages(const std::vector<RecordedMessage>& actual, const std::vector<Expected>& expected) {
  ASSERT_EQ(actual.size(), expected.size()) << Describe(actual);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i].message, expected[i].message) << "message " << i;
    EXPECT_EQ(actual[i].wParam, expected[i].wParam) << "message " << i;
    EXPECT_EQ(actual[i].text, expected[i].text) << "message " << i;
  }
}

// Each run has its own temporary folder and install folder, and uses the server's fixed manifest address.
class ManifestLimitRun : public ::testing::Test {
 protected:
  ManifestLimitRun()
      : tmpValue_(temp_.str()),
        logValue_((logFolder_ / L"launcher.log").wstring()),
        tmp_(L"TMP", &tmpValue_),
        tempVar_(L"TEMP", &tmpValue_),
        log_(L"FERNQUILL_LAUNCHER_LOG", &logValue_) {
    RemoveManifest();
  }
  ~ManifestLimitRun() override { RemoveManifest(); }

  static fs::path ManifestPath() { return test_server::WwwRoot() / L"updates" / L"latest.txt"; }
  static void RemoveManifest() {
    std::error_code ignored;
    fs::remove(ManifestPath(), ignored);
  }
  static void PublishManifest(const std::string& body) {
    fs::create_directories(ManifestPath().parent_path());
    test_support::WriteFile(ManifestPath(), body);
  }

  static std::wstring Host() { return L"localhost:" + std::to_wstring(test_server::Port()); }

  std::vector<RecordedMessage> Run() {
    test_support::MessageRecorder recorder;
    const InstallRequest request{installDir_.wstring(), false};
    std::thread worker([request] { RunInstall(request, Host()); });
    auto messages = recorder.PumpUntilFinished(120000);
    worker.join();
    return messages;
  }

  bool WaitForLauncher() const {
    const fs::path log = logFolder_ / L"launcher.log";
    for (int i = 0; i < 200 && !fs::exists(log); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return fs::exists(log);
  }

  bool TempFolderIsEmpty() const { return fs::is_empty(temp_.path()); }

  test_support::TempFolder temp_{L"limit-tmp"};
  test_support::TempFolder logFolder_{L"limit-log"};
  test_support::TempFolder installRoot_{L"limit-dest"};
  fs::path installDir_ = installRoot_.path() / L"Fernquill";
  test_server::Site site_;
  const std::wstring fetching_ = L"Получаем актуальную версию с " + Host() + L"...";

 private:
  std::wstring tmpValue_;
  std::wstring logValue_;
  test_support::ScopedEnvironment tmp_;
  test_support::ScopedEnvironment tempVar_;
  test_support::ScopedEnvironment log_;
};

TEST_F(ManifestLimitRun, OneByteOverTheLimitEndsTheRunAtTheManifest) {
  PublishManifest(ManifestOfSize(site_.Url(L"/package.zip"), std::string(64, 'a'), 1048577));
  ExpectMessages(Run(), {{WM_SETUP_PROGRESS, 0, {}},
                         {WM_SETUP_STATUS, 0, fetching_},
                         {WM_SETUP_STATUS, 0,
                          L"Не удалось получить информацию об обновлении.\r\nОтвет сервера слишком велик."},
                         {WM_SETUP_FINISHED, 0, {}}});
  EXPECT_TRUE(site_.Requests().empty());
  EXPECT_TRUE(TempFolderIsEmpty());
  EXPECT_FALSE(fs::exists(installDir_));
}

TEST_F(ManifestLimitRun, AManifestOfExactlyTheLimitIsRead) {
  // Its package address answers 404, which shows that the manifest was read and accepted.
  PublishManifest(ManifestOfSize(site_.Url(L"/_/status/404"), std::string(64, 'a'), 1048576));
  ASSERT_EQ(fs::file_size(ManifestPath()), 1048576u);
  ExpectMessages(Run(), {{WM_SETUP_PROGRESS, 0, {}},
                         {WM_SETUP_STATUS, 0, fetching_},
                         {WM_SETUP_STATUS, 0, L"Скачиваем Fernquill " + kVersion + L"..."},
                         {WM_SETUP_STATUS, 0, L"Не удалось скачать Fernquill.\r\nСервер вернул HTTP 404"},
                         {WM_SETUP_FINISHED, 0, {}}});
  EXPECT_EQ(site_.Requests().size(), 1u);
}

TEST_F(ManifestLimitRun, APackageFarLargerThanTheLimitInstalls) {
  site_.Publish(L"large.zip", ReadPackageFile(L"large.zip"));
  ASSERT_GT(fs::file_size(test_support::BuildDir() + L"\\tests\\install\\packages\\large.zip"), 3000000u);
  PublishManifest(ManifestOfSize(site_.Url(L"/large.zip"), ReadPackageFile(L"large.zip.sha256"), 0));
  const auto messages = Run();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().message, static_cast<UINT>(WM_SETUP_FINISHED));
  EXPECT_EQ(messages.back().wParam, 1u);
  EXPECT_EQ(test_support::StatusTexts(messages).back(),
            L"Готово. Fernquill " + kVersion + L" установлен и запущен.");
  EXPECT_TRUE(test_support::ReadFile(installDir_ / L"data" / L"large.bin") ==
              ReadPackageFile(L"large-data.bin"));
  EXPECT_TRUE(WaitForLauncher());
}

}  // namespace
