// Shortcuts through the shell-link object.
#include "shell/shortcuts.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <filesystem>
#include <system_error>

#include "common/text.h"
#include "common/unique_handle.h"
#include "install/app_contract.h"
#include "shell/known_folder.h"

namespace {

constexpr wchar_t kShortcutDescription[] = L"Fernquill";

void WriteShortcutInto(REFKNOWNFOLDERID folderId, const std::wstring& launcherPath,
                       const std::wstring& installDir) {
  const std::wstring folder = KnownFolderPath(folderId);
  if (folder.empty()) return;
  WriteShellLink(JoinPath(folder, std::wstring(app_contract::kShortcutFileName)), launcherPath, installDir);
}

}  // namespace

void CreateShortcuts(const std::wstring& installDir, bool createDesktopShortcut) {
  const std::wstring launcherPath = JoinPath(installDir, std::wstring(app_contract::kLauncherExecutable));
  WriteShortcutInto(FOLDERID_Programs, launcherPath, installDir);
  if (createDesktopShortcut) WriteShortcutInto(FOLDERID_Desktop, launcherPath, installDir);
}

bool WriteShellLink(const std::wstring& linkPath, const std::wstring& targetPath,
                    const std::wstring& workingDir) {
  unique_com<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.put()))) ||
      !link) {
    return false;
  }
  link.get()->SetPath(targetPath.c_str());  // S_FALSE for a missing target, and the link still saves
  link.get()->SetWorkingDirectory(workingDir.c_str());
  link.get()->SetDescription(kShortcutDescription);
  link.get()->SetIconLocation(JoinPath(workingDir, std::wstring(app_contract::kMainExecutable)).c_str(), 0);

  unique_com<IPersistFile> file;
  if (FAILED(link.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()))) || !file) {
    return false;
  }
  std::error_code ignored;  // a folder that cannot be made makes the save fail
  std::filesystem::create_directories(std::filesystem::path(linkPath).parent_path(), ignored);
  return SUCCEEDED(file.get()->Save(linkPath.c_str(), TRUE));
}
