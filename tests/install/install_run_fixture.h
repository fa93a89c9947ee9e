// The world of a whole install run in a test: its own TMP/TEMP, install folder, server site and messages.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_server.h"
#include "test_support.h"

namespace install_run {

extern const std::wstring kVersion;

// A sample package of the build (tests/install/packages), and the SHA-256 written beside it.
std::string ReadPackage(const std::wstring& name);
std::string PackageDigest(const std::wstring& name);

std::string ManifestFor(const std::wstring& url, const std::string& digest);

// One expected message: a status text, a progress value, or the end with its flag.
struct Expected {
  UINT message;
  WPARAM wParam;
  std::wstring text;
};
Expected Status(const std::wstring& text);
Expected Progress(WPARAM value);
Expected Finished(bool success);

void ExpectMessages(const std::vector<test_support::RecordedMessage>& actual,
                    const std::vector<Expected>& expected);

// The text the run ended with ("" when it did not end), and whether it ended in success.
std::wstring FinalText(const std::vector<test_support::RecordedMessage>& messages);
bool EndedInSuccess(const std::vector<test_support::RecordedMessage>& messages);

// A run's world: its own temporary folder (TMP/TEMP), install folder, launcher log, server site, and
// the fixed manifest address of the server, which is why these tests hold the update_manifest lock.
class InstallRun : public ::testing::Test {
 protected:
  InstallRun();
  ~InstallRun() override;

  static std::filesystem::path ManifestPath();
  void PublishManifest(const std::string& body);

  // Puts the package on the site and a manifest naming it; returns the package's address.
  std::wstring PublishPackage(const std::wstring& package, const std::wstring& query = L"",
                              const std::string& digest = "");

  static std::wstring Host(test_server::Listener listener = test_server::Listener::kTrusted);

  // One whole run against updateHost_, on a thread of its own, as the window starts it.
  std::vector<test_support::RecordedMessage> Run(bool desktopShortcut = false);

  // The temporary names of a run of the given installer process (this one by default).
  std::wstring PackagePath(DWORD processId = ::GetCurrentProcessId()) const;
  std::wstring StagingPath(DWORD processId = ::GetCurrentProcessId()) const;

  std::wstring FetchingText() const;
  std::wstring DoneText() const;

  // The launcher starts asynchronously; its record appears within a few seconds.
  std::string WaitForLauncherLog() const;

  test_support::TempFolder temp_{L"run-tmp"};
  test_support::TempFolder logFolder_{L"run-log"};
  test_support::TempFolder installRoot_{L"run-dest"};
  std::filesystem::path installDir_ = installRoot_.path() / L"Fern quill";
  test_server::Site site_;
  std::wstring updateHost_ = Host();

 private:
  std::wstring tmpValue_;
  std::wstring logValue_;
  test_support::ScopedEnvironment tmp_;
  test_support::ScopedEnvironment tempVar_;
  test_support::ScopedEnvironment log_;
};

}  // namespace install_run
