// The world of a whole install run in a test.
#include "install_run_fixture.h"

#include <chrono>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "install/install_worker.h"
#include "install/messages.h"

namespace install_run {

namespace fs = std::filesystem;
using test_support::RecordedMessage;

const std::wstring kVersion = L"2.5.0 beta";

std::string ReadPackage(const std::wstring& name) {
  return test_support::ReadFile(test_support::BuildDir() + L"\\tests\\install\\packages\\" + name);
}

std::string PackageDigest(const std::wstring& name) { return ReadPackage(name + L".sha256"); }

std::string ManifestFor(const std::wstring& url, const std::string& digest) {
  return "version=" + test_support::WideToUtf8(kVersion) + "\nurl=" + test_support::WideToUtf8(url) +
         "\nsha256=" + digest + "\n";
}

Expected Status(const std::wstring& text) { return {WM_SETUP_STATUS, 0, text}; }
Expected Progress(WPARAM value) { return {WM_SETUP_PROGRESS, value, {}}; }
Expected Finished(bool success) { return {WM_SETUP_FINISHED, success ? 1u : 0u, {}}; }

void ExpectMessages(const std::vector<RecordedMessage>& actual, const std::vector<Expected>& expected) {
  ASSERT_EQ(actual.size(), expected.size()) << "messages received: " << actual.size();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i].message, expected[i].message) << "message " << i;
    EXPECT_EQ(actual[i].wParam, expected[i].wParam) << "message " << i;
    if (expected[i].message == WM_SETUP_STATUS) {
      EXPECT_EQ(actual[i].text, expected[i].text) << "message " << i;
    }
  }
}

std::wstring FinalText(const std::vector<RecordedMessage>& messages) {
  if (messages.size() < 2 || messages.back().message != WM_SETUP_FINISHED) return {};
  const RecordedMessage& last = messages[messages.size() - 2];
  return last.message == WM_SETUP_STATUS ? last.text : std::wstring();
}

bool EndedInSuccess(const std::vector<RecordedMessage>& messages) {
  return !messages.empty() && messages.back().message == WM_SETUP_FINISHED && messages.back().wParam == 1;
}

InstallRun::InstallRun()
    : tmpValue_(temp_.str()),
      logValue_((logFolder_ / L"launcher.log").wstring()),
      tmp_(L"TMP", &tmpValue_),
      tempVar_(L"TEMP", &tmpValue_),
      log_(L"FERNQUILL_LAUNCHER_LOG", &logValue_) {
  std::error_code ignored;
  fs::remove(ManifestPath(), ignored);
}

InstallRun::~InstallRun() {
  std::error_code ignored;
  fs::remove(ManifestPath(), ignored);
}

fs::path InstallRun::ManifestPath() { return test_server::WwwRoot() / L"updates" / L"latest.txt"; }

void InstallRun::PublishManifest(const std::string& body) {
  fs::create_directories(ManifestPath().parent_path());
  test_support::WriteFile(ManifestPath(), body);
}

std::wstring InstallRun::PublishPackage(const std::wstring& package, const std::wstring& query,
                                        const std::string& digest) {
  site_.Publish(package, ReadPackage(package));
  const std::wstring url = site_.Url(L"/" + package + query);
  PublishManifest(ManifestFor(url, digest.empty() ? PackageDigest(package) : digest));
  return url;
}

std::wstring InstallRun::Host(test_server::Listener listener) {
  return L"localhost:" + std::to_wstring(test_server::Port(listener));
}

std::vector<RecordedMessage> InstallRun::Run(bool desktopShortcut) {
  test_support::MessageRecorder recorder;
  InstallRequest request{installDir_.wstring(), desktopShortcut};
  const std::wstring host = updateHost_;
  std::thread worker([request, host] { RunInstall(request, host); });
  auto messages = recorder.PumpUntilFinished(120000);
  worker.join();
  return messages;
}

std::wstring InstallRun::PackagePath(DWORD processId) const {
  return (temp_.path() / (L"FernquillSetup_" + std::to_wstring(processId) + L".zip")).wstring();
}

std::wstring InstallRun::StagingPath(DWORD processId) const {
  return (temp_.path() / (L"FernquillSetupStage_" + std::to_wstring(processId))).wstring();
}

std::wstring InstallRun::FetchingText() const {
  return L"Получаем актуальную версию с " + updateHost_ + L"...";
}

std::wstring InstallRun::DoneText() const {
  return L"Готово. Fernquill " + kVersion + L" установлен и запущен.";
}

std::string InstallRun::WaitForLauncherLog() const {
  return test_support::WaitForReadableFile(logFolder_ / L"launcher.log", 10000);
}

}  // namespace install_run
