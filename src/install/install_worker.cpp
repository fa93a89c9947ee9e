// The install run: each step either succeeds or ends the run with one final text.
#include "install/install_worker.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include "common/text.h"
#include "common/unique_handle.h"
#include "deploy/deploy.h"
#include "install/app_contract.h"
#include "install/manifest.h"
#include "install/messages.h"
#include "install/update_server.h"
#include "net/http_download.h"
#include "package/expand.h"
#include "package/sha256.h"
#include "shell/file_types.h"
#include "shell/shortcuts.h"

namespace {

namespace texts {
constexpr wchar_t kApplicationRunning[] = L"Закрой Fernquill перед установкой.";
constexpr wchar_t kFetchingManifest[] = L"Получаем актуальную версию с ";
constexpr wchar_t kManifestDownloadFailed[] = L"Не удалось получить информацию об обновлении.\r\n";
constexpr wchar_t kManifestInvalid[] = L"Сервер вернул некорректный latest.txt.";
constexpr wchar_t kNoTempFolder[] = L"Не удалось получить временную папку Windows.";
constexpr wchar_t kDownloading[] = L"Скачиваем Fernquill ";
constexpr wchar_t kPackageDownloadFailed[] = L"Не удалось скачать Fernquill.\r\n";
constexpr wchar_t kCheckingDigest[] = L"Проверяем SHA-256...";
constexpr wchar_t kDigestMismatch[] = L"SHA-256 не совпадает. Установка отменена.";
constexpr wchar_t kExpanding[] = L"Распаковываем...";
constexpr wchar_t kExpandFailed[] = L"Не удалось распаковать Fernquill.\r\n";
constexpr wchar_t kExecutablesMissing[] = L"Пакет обновления не содержит Fernquill.exe или launcher.";
constexpr wchar_t kInstallingInto[] = L"Устанавливаем в ";
constexpr wchar_t kEllipsis[] = L"...";
constexpr wchar_t kProductPrefix[] = L"Fernquill ";
constexpr wchar_t kInstalledSuffix[] = L" установлен.";
constexpr wchar_t kDonePrefix[] = L"Готово. Fernquill ";
constexpr wchar_t kDoneSuffix[] = L" установлен и запущен.";
// Endings for failures that no step reports by itself (and kOutOfMemoryText of messages.h).
constexpr wchar_t kFileSystemError[] = L"Ошибка файловой системы. Установка прервана.";
constexpr wchar_t kUnexpectedError[] = L"Непредвиденная ошибка. Установка прервана.";
}  // namespace texts

constexpr wchar_t kPackagePrefix[] = L"FernquillSetup_";
constexpr wchar_t kPackageSuffix[] = L".zip";
constexpr wchar_t kStagingPrefix[] = L"FernquillSetupStage_";

// One run's state. A run ends once: whatever throws after its end cannot end it again. The ending for
// want of memory is allocated first, so that the run can still say why it stopped.
struct Run {
  HRESULT comInit = E_FAIL;
  bool finished = false;
  std::unique_ptr<std::wstring> outOfMemoryText;

  void Finish(bool success, const std::wstring& text) noexcept {
    if (Ending()) FinishRun(comInit, success, text, std::move(outOfMemoryText));
  }

  void Finish(bool success, std::unique_ptr<std::wstring> textObject) noexcept {
    if (Ending()) FinishRun(comInit, success, std::move(textObject));
  }

  void FinishOutOfMemory() noexcept {
    if (Ending()) FinishRunOutOfMemory(comInit, std::move(outOfMemoryText));
  }

  // True only the first time: that call ends the run.
  bool Ending() noexcept { return !std::exchange(finished, true); }
};

bool IsApplicationRunning() {
  unique_kernel_handle mutex(
      ::OpenMutexW(SYNCHRONIZE, FALSE, std::wstring(app_contract::kSingleInstanceMutex).c_str()));
  return static_cast<bool>(mutex);
}

bool DigestMatches(const std::wstring& digest, const std::wstring& expected) {
  return EqualsIgnoringCase(digest, expected);
}

// Any kind of entry counts; an error other than absence is exceptional and ends the run.
bool StagedEntryExists(const std::wstring& stagingDir, std::wstring_view name) {
  return std::filesystem::exists(std::filesystem::path(JoinPath(stagingDir, std::wstring(name))));
}

void RemoveTemporaryFiles(const std::wstring& packagePath, const std::wstring& stagingDir) {
  RemoveStagingFolder(stagingDir);
  ::DeleteFileW(packagePath.c_str());
}

void StartLauncher(const std::wstring& installDir) {
  const std::wstring launcher = JoinPath(installDir, std::wstring(app_contract::kLauncherExecutable));
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.lpFile = launcher.c_str();
  info.lpDirectory = installDir.c_str();
  info.nShow = SW_SHOWNORMAL;
  ::ShellExecuteExW(&info);
}

void RunSteps(Run& run, const InstallRequest& request, const std::wstring& updateHost) {
  if (IsApplicationRunning()) return run.Finish(false, texts::kApplicationRunning);

  PostProgress(0);
  PostStatus(texts::kFetchingManifest + updateHost + texts::kEllipsis);

  std::wstring error;
  std::string manifestBody;
  if (!HttpDownload(ManifestUrl(updateHost), nullptr, &manifestBody, error, false, kManifestSizeLimit)) {
    return run.Finish(false, texts::kManifestDownloadFailed + error);
  }
  UpdateManifest manifest;
  if (!ParseManifest(manifestBody, manifest)) return run.Finish(false, texts::kManifestInvalid);

  const std::wstring processId = std::to_wstring(::GetCurrentProcessId());
  const std::wstring packagePath = TempFilePath(kPackagePrefix + processId + kPackageSuffix);
  const std::wstring stagingDir = TempFilePath(kStagingPrefix + processId);
  if (packagePath.empty() || stagingDir.empty()) return run.Finish(false, texts::kNoTempFolder);

  PostStatus(texts::kDownloading + manifest.version + texts::kEllipsis);
  if (!HttpDownload(manifest.url, &packagePath, nullptr, error, true)) {
    return run.Finish(false, texts::kPackageDownloadFailed + error);
  }

  PostStatus(texts::kCheckingDigest);
  std::wstring digest;
  if (!ComputeFileSha256(packagePath, digest, error) || !DigestMatches(digest, manifest.sha256)) {
    ::DeleteFileW(packagePath.c_str());
    return run.Finish(false, texts::kDigestMismatch);
  }

  PostStatus(texts::kExpanding);
  if (!ExpandPackage(packagePath, stagingDir, error)) return run.Finish(false, texts::kExpandFailed + error);

  if (!StagedEntryExists(stagingDir, app_contract::kMainExecutable) ||
      !StagedEntryExists(stagingDir, app_contract::kLauncherExecutable)) {
    return run.Finish(false, texts::kExecutablesMissing);
  }

  PostStatus(texts::kInstallingInto + request.installDir + texts::kEllipsis);
  PostProgress(100);
  if (!DeployStagedTree(stagingDir, request.installDir, error)) return run.Finish(false, error);

  RegisterShellIntegration(request.installDir);
  CreateShortcuts(request.installDir, request.createDesktopShortcut);
  RemoveTemporaryFiles(packagePath, stagingDir);

  PostStatus(texts::kProductPrefix + manifest.version + texts::kInstalledSuffix);
  // Made before the application starts: once it runs, nothing may end the run as a failure.
  auto doneText = std::make_unique<std::wstring>(texts::kDonePrefix + manifest.version + texts::kDoneSuffix);
  StartLauncher(request.installDir);
  run.Finish(true, std::move(doneText));
}

// The window must become usable again whatever went wrong: a text that cannot be built for want of
// memory ends the run as out of memory.
void FinishAfterException(Run& run, const wchar_t* text) noexcept {
  try {
    run.Finish(false, text);
  } catch (const std::bad_alloc&) {
    run.FinishOutOfMemory();
  }
}

}  // namespace

void RunInstall(const InstallRequest& request, const std::wstring& updateHost) noexcept {
  Run run;
  run.comInit = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  try {
    run.outOfMemoryText = std::make_unique<std::wstring>(kOutOfMemoryText);
    RunSteps(run, request, updateHost);
  } catch (const std::bad_alloc&) {
    run.FinishOutOfMemory();
  } catch (const std::filesystem::filesystem_error&) {
    FinishAfterException(run, texts::kFileSystemError);
  } catch (...) {
    FinishAfterException(run, texts::kUnexpectedError);
  }
  if (!run.finished) FinishAfterException(run, texts::kUnexpectedError);
}

void InstallThreadProc(const InstallRequest& request) noexcept {
  std::wstring updateHost;
  try {
    updateHost = UpdateHost();  // the thread's own, like the request
  } catch (const std::bad_alloc&) {
    return FinishRunOutOfMemory(E_FAIL);  // COM is not initialised yet
  }
  RunInstall(request, updateHost);
}
