// Whole install runs against the local HTTPS update server, observed through the messages a window gets.
#include "install/install_worker.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "file_faults.h"
#include "install/messages.h"
#include "install_run_fixture.h"
#include "test_server.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using install_run::ExpectMessages;
using install_run::Finished;
using install_run::InstallRun;
using install_run::kVersion;
using install_run::ManifestFor;
using install_run::PackageDigest;
using install_run::Progress;
using install_run::Status;
using test_support::RecordedMessage;

TEST_F(InstallRun, SucceedsAndReportsEveryStepInOrder) {
  // How the package arrives in reads is the network's choice, so only the shape of its progress is fixed.
  PublishPackage(L"good.zip");
  const auto messages = Run();

  ASSERT_FALSE(messages.empty());
  std::vector<RecordedMessage> withoutDownloadProgress;
  std::vector<unsigned> downloadProgress;
  bool inDownload = false;
  for (const RecordedMessage& message : messages) {
    if (message.message == WM_SETUP_STATUS)
      inDownload = message.text == L"Скачиваем Fernquill " + kVersion + L"...";
    if (inDownload && message.message == WM_SETUP_PROGRESS) {
      downloadProgress.push_back(static_cast<unsigned>(message.wParam));
    } else {
      withoutDownloadProgress.push_back(message);
    }
  }
  ExpectMessages(withoutDownloadProgress,
                 {Progress(0), Status(FetchingText()), Status(L"Скачиваем Fernquill " + kVersion + L"..."),
                  Status(L"Проверяем SHA-256..."), Status(L"Распаковываем..."),
                  Status(L"Устанавливаем в " + installDir_.wstring() + L"..."), Progress(100),
                  Status(L"Fernquill " + kVersion + L" установлен."),
                  Status(L"Готово. Fernquill " + kVersion + L" установлен и запущен."), Finished(true)});
  ASSERT_FALSE(downloadProgress.empty());
  EXPECT_EQ(downloadProgress.back(), 100u);
  for (std::size_t i = 1; i < downloadProgress.size(); ++i)
    EXPECT_GE(downloadProgress[i], downloadProgress[i - 1]);

  EXPECT_TRUE(fs::is_regular_file(installDir_ / L"Fernquill.exe"));
  EXPECT_TRUE(fs::is_regular_file(installDir_ / L"FernquillLauncher.exe"));
  EXPECT_TRUE(fs::is_regular_file(installDir_ / L"data" / L"readme.txt"));
  EXPECT_FALSE(fs::exists(installDir_ / L"config"));
  // Temporary files are gone.
  EXPECT_FALSE(fs::exists(PackagePath()));
  EXPECT_FALSE(fs::exists(StagingPath()));

  const std::string log = WaitForLauncherLog();
  const std::string launcher = test_support::WideToUtf8((installDir_ / L"FernquillLauncher.exe").wstring());
  EXPECT_NE(log.find("working-folder: " + test_support::WideToUtf8(installDir_.wstring()) + "\n"),
            std::string::npos)
      << log;
  // Started with no arguments: the program name is the only one.
  EXPECT_NE(log.find("argument: " + launcher + "\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("argument: ", log.find("argument: ") + 1), std::string::npos) << log;
}

TEST_F(InstallRun, ALinkInALeftoverStagingFolderNeverLeadsTheRunOutOfIt) {
  // A leftover staging folder of this process's names holds a folder link to a tree outside; the clearing
  // before the expansion and the clean-up after the run must delete the link as a link.
  test_support::TempFolder outside(L"run-outside");
  fs::create_directories(outside / L"sub");
  test_support::WriteFile(outside / L"keep.txt", "not the installer's");
  test_support::WriteFile(outside / L"sub" / L"FernquillLauncher.exe", "not the installer's either");
  const std::map<std::wstring, std::string> before = {
      {L"keep.txt", test_support::ReadFile(outside / L"keep.txt")},
      {L"sub\\FernquillLauncher.exe", test_support::ReadFile(outside / L"sub" / L"FernquillLauncher.exe")}};
  fs::create_directories(StagingPath());
  test_support::SymbolicLinks links;
  links.Make(fs::path(StagingPath()) / L"linked", outside.path(), true);
  PublishPackage(L"good.zip");

  const auto messages = Run();

  EXPECT_TRUE(install_run::EndedInSuccess(messages))
      << test_support::WideToUtf8(install_run::FinalText(messages));
  std::map<std::wstring, std::string> after;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(outside.path())) {
    if (entry.is_regular_file())
      after[entry.path().lexically_relative(outside.path()).wstring()] = test_support::ReadFile(entry.path());
  }
  EXPECT_EQ(after, before);
  EXPECT_TRUE(fs::is_regular_file(installDir_ / L"FernquillLauncher.exe"));
  EXPECT_FALSE(fs::exists(installDir_ / L"linked"));
  WaitForLauncherLog();
}

TEST_F(InstallRun, ProgressOfTheDownloadFollowsTheChunks) {
  // Delivered in 65,536-byte pieces with pauses, each read returns one piece.
  const std::string bytes = test_server::GeneratedBytes(196608);
  site_.Publish(L"pieces.zip", bytes);
  // A digest that cannot match ends the run right after the download, before the worker's own 100.
  PublishManifest(ManifestFor(site_.Url(L"/pieces.zip?chunk=65536&pause=200"), std::string(64, '0')));
  const auto messages = Run();
  EXPECT_EQ(test_support::ProgressValues(messages), (std::vector<unsigned>{0, 33, 66, 100}));
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().message, WM_SETUP_FINISHED);
  EXPECT_EQ(messages.back().wParam, 0u);
  EXPECT_EQ(test_support::StatusTexts(messages).back(), L"SHA-256 не совпадает. Установка отменена.");
}

TEST_F(InstallRun, UpperCaseManifestDigestStillMatches) {
  std::string digest = PackageDigest(L"good.zip");
  for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  PublishPackage(L"good.zip", L"", digest);
  const auto messages = Run();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().wParam, 1u);
  EXPECT_EQ(test_support::StatusTexts(messages).back(),
            L"Готово. Fernquill " + kVersion + L" установлен и запущен.");
}

TEST_F(InstallRun, StopsAtOnceWhileTheApplicationRuns) {
  PublishPackage(L"good.zip");
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"Local\\Fernquill.SingleInstance.v1");
  ASSERT_NE(mutex, nullptr);
  const auto messages = Run();
  ::CloseHandle(mutex);
  ExpectMessages(messages, {Status(L"Закрой Fernquill перед установкой."), Finished(false)});
  EXPECT_TRUE(site_.Requests().empty());
  EXPECT_FALSE(fs::exists(installDir_));
}

struct FailureCase {
  const char* name;
  std::wstring package;  // published on the site; empty: none
  std::wstring query;
  std::string manifest;  // overrides the manifest when not empty ("-" for none at all)
  std::wstring expectedPrefix;
  bool packageLeft;
  bool stagingLeft;
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class InstallRunFailure : public InstallRun, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(InstallRunFailure, EndsWithItsTextAndLeavesTheInstallFolderAlone) {
  const FailureCase& c = GetParam();
  if (!c.package.empty()) PublishPackage(c.package, c.query);
  if (c.manifest == "-") {
    std::error_code ignored;
    fs::remove(ManifestPath(), ignored);
  } else if (!c.manifest.empty()) {
    PublishManifest(c.manifest);
  }

  const auto messages = Run();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages.back().message, WM_SETUP_FINISHED);
  EXPECT_EQ(messages.back().wParam, 0u);
  const std::wstring final = messages[messages.size() - 2].text;
  EXPECT_EQ(final.substr(0, c.expectedPrefix.size()), c.expectedPrefix) << test_support::WideToUtf8(final);
  // No progress after the failure: the last progress, if any, comes before the final text.
  EXPECT_NE(messages[messages.size() - 2].message, WM_SETUP_PROGRESS);

  EXPECT_EQ(fs::exists(PackagePath()), c.packageLeft);
  EXPECT_EQ(fs::exists(StagingPath()), c.stagingLeft);
  EXPECT_FALSE(fs::exists(installDir_));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstallRunFailure,
    ::testing::Values(
        FailureCase{"manifest_missing", L"", L"", "-",
                    L"Не удалось получить информацию об обновлении.\r\nСервер вернул HTTP 404", false, false},
        FailureCase{"manifest_invalid", L"", L"", "version=1\nurl=http://localhost/x.zip\nsha256=00\n",
                    L"Сервер вернул некорректный latest.txt.", false, false},
        FailureCase{"package_unreachable", L"", L"",
                    "version=1\nurl=https://localhost:1/missing.zip\nsha256=" + std::string(64, 'a'),
                    L"Не удалось скачать Fernquill.\r\n", false, false},
        FailureCase{"package_reset", L"good.zip", L"?cut=1000&end=reset", "",
                    L"Не удалось скачать Fernquill.\r\nОшибка чтения загрузки: ", false, false},
        FailureCase{"package_truncated", L"good.zip", L"?cut=1000", "",
                    L"Не удалось скачать Fernquill.\r\nОшибка чтения загрузки: ", false, false},
        FailureCase{"corrupt_zip", L"corrupt.zip", L"", "",
                    L"Не удалось распаковать Fernquill.\r\nExpand-Archive завершился с кодом ", true, true},
        FailureCase{"no_launcher", L"no-launcher.zip", L"", "",
                    L"Пакет обновления не содержит Fernquill.exe или launcher.", true, true},
        FailureCase{"no_main", L"no-main.zip", L"", "",
                    L"Пакет обновления не содержит Fernquill.exe или launcher.", true, true},
        FailureCase{"nested_folder", L"nested.zip", L"", "",
                    L"Пакет обновления не содержит Fernquill.exe или launcher.", true, true}),
    [](const ::testing::TestParamInfo<FailureCase>& test) { return std::string(test.param.name); });

TEST_F(InstallRun, Package404FailsWithTheServersStatus) {
  PublishManifest(ManifestFor(site_.Url(L"/_/status/404"), std::string(64, 'a')));
  const auto texts = test_support::StatusTexts(Run());
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), L"Не удалось скачать Fernquill.\r\nСервер вернул HTTP 404");
  EXPECT_FALSE(fs::exists(PackagePath()));
}

TEST_F(InstallRun, DigestMismatchDeletesThePackage) {
  PublishPackage(L"good.zip", L"", std::string(64, 'b'));
  const auto texts = test_support::StatusTexts(Run());
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), L"SHA-256 не совпадает. Установка отменена.");
  EXPECT_FALSE(fs::exists(PackagePath()));
  EXPECT_FALSE(fs::exists(StagingPath()));
}

TEST_F(InstallRun, DeploymentFailureShowsTheDeploymentTextAlone) {
  // The install folder's place is taken by a file.
  test_support::WriteFile(installDir_, "not a folder");
  PublishPackage(L"good.zip");
  const auto messages = Run();
  const auto texts = test_support::StatusTexts(messages);
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), L"Не удалось создать папку установки.");
  EXPECT_EQ(messages.back().wParam, 0u);
  EXPECT_EQ(test_support::ReadFile(installDir_), "not a folder");
  EXPECT_TRUE(fs::exists(PackagePath()));
  EXPECT_TRUE(fs::exists(StagingPath()));
}

// The shell reports a launcher it cannot start in an error box of its own (no mask flags ask it not
// to); the run waits for the user to close it and still ends in success.
void CloseErrorBoxOfThisProcess() {
  struct Search {
    HWND box = nullptr;
  } search;
  ::EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        wchar_t className[16] = {};
        ::GetClassNameW(window, className, 16);
        if (process == ::GetCurrentProcessId() && std::wstring(className) == L"#32770" &&
            ::IsWindowVisible(window)) {
          reinterpret_cast<Search*>(data)->box = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  if (search.box != nullptr) ::PostMessageW(search.box, WM_COMMAND, IDOK, 0);
}

TEST_F(InstallRun, ALauncherThatCannotStartStillEndsInSuccess) {
  PublishPackage(L"launcher-not-a-program.zip");
  std::atomic<bool> done{false};
  std::thread closer([&] {
    while (!done) {
      CloseErrorBoxOfThisProcess();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  const auto messages = Run();
  done = true;
  closer.join();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().wParam, 1u);
  EXPECT_EQ(test_support::StatusTexts(messages).back(),
            L"Готово. Fernquill " + kVersion + L" установлен и запущен.");
  EXPECT_TRUE(fs::is_regular_file(installDir_ / L"Fernquill.exe"));
  EXPECT_TRUE(WaitForLauncherLog().empty());
}

TEST_F(InstallRun, ARepeatInTheSameProcessReplacesWhatTheFailedRunLeft) {
  PublishPackage(L"corrupt.zip");
  ASSERT_EQ(Run().back().wParam, 0u);
  ASSERT_TRUE(fs::exists(StagingPath()));
  PublishPackage(L"good.zip");
  const auto messages = Run();
  EXPECT_EQ(messages.back().wParam, 1u);
  EXPECT_TRUE(fs::is_regular_file(installDir_ / L"Fernquill.exe"));
  EXPECT_FALSE(fs::exists(PackagePath()));
  EXPECT_FALSE(fs::exists(StagingPath()));
}

}  // namespace
