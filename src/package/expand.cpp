// Expanding the package archive through Windows PowerShell.
#include "package/expand.h"

#include <windows.h>

#include <filesystem>
#include <system_error>

#include "package/process.h"

namespace {

bool IsPowerShellSingleQuote(wchar_t c) {
  return c == L'\u0027' || c == L'\u2018' || c == L'\u2019' || c == L'\u201A' || c == L'\u201B';
}

}  // namespace

std::wstring PowerShellQuote(const std::wstring& text) {
  std::wstring quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back(L'\'');
  for (wchar_t c : text) {
    quoted.push_back(c);
    if (IsPowerShellSingleQuote(c)) quoted.push_back(c);
  }
  quoted.push_back(L'\'');
  return quoted;
}

std::wstring BuildExpandCommand(const std::wstring& packagePath, const std::wstring& stagingDir) {
  return L"Expand-Archive -LiteralPath " + PowerShellQuote(packagePath) + L" -DestinationPath " +
         PowerShellQuote(stagingDir) + L" -Force";
}

std::vector<std::wstring> BuildExpandArguments(const std::wstring& packagePath,
                                               const std::wstring& stagingDir) {
  return {L"-NoLogo",
          L"-NoProfile",
          L"-NonInteractive",
          L"-ExecutionPolicy",
          L"Bypass",
          L"-Command",
          BuildExpandCommand(packagePath, stagingDir)};
}

bool ExpandPackage(const std::wstring& packagePath, const std::wstring& stagingDir, std::wstring& errorText) {
  const std::filesystem::path staging(stagingDir);
  std::error_code ignored;
  // What cannot be removed stays; -Force lets the expansion overwrite it.
  std::filesystem::remove_all(staging, ignored);

  std::error_code created;
  std::filesystem::create_directories(staging, created);
  if (created) {
    errorText = L"Не удалось создать временную папку.";
    return false;
  }

  DWORD exitCode = 0;
  if (!RunProcessAndWait(kPowerShellPath, BuildExpandArguments(packagePath, stagingDir), exitCode, true)) {
    errorText = L"Не удалось запустить PowerShell.";
    return false;
  }
  if (exitCode != 0) {
    errorText = L"Expand-Archive завершился с кодом " + std::to_wstring(exitCode);
    return false;
  }
  return true;
}
