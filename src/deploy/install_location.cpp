// The default install folder and the folder picker.
#include "deploy/install_location.h"

#include <shlobj.h>

#include "common/text.h"
#include "common/unique_handle.h"
#include "install/app_contract.h"
#include "shell/known_folder.h"

namespace {

constexpr wchar_t kPickerTitle[] = L"Выбери папку для установки Fernquill";
constexpr UINT kPickerFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;

const std::wstring& ProductFolderName() {
  static const std::wstring name(app_contract::kProductFolderName);
  return name;
}

}  // namespace

std::wstring InstallDirUnder(const std::wstring& localAppData) {
  if (localAppData.empty()) return ProductFolderName();
  return JoinPath(JoinPath(localAppData, L"Programs"), ProductFolderName());
}

std::wstring InstallDirFromPick(const FolderPick& pick, const std::wstring& currentDir) {
  if (!pick.chosen) return {};
  if (pick.folderPath.empty()) return currentDir;
  return JoinPath(pick.folderPath, ProductFolderName());
}

std::wstring DefaultInstallDir() { return InstallDirUnder(KnownFolderPath(FOLDERID_LocalAppData)); }

std::wstring BrowseForInstallDir(HWND ownerWindow, const std::wstring& currentDir) {
  // No root, no callback: the picker opens where the shell starts it, never at currentDir.
  BROWSEINFOW info = {};
  info.hwndOwner = ownerWindow;
  info.lpszTitle = kPickerTitle;
  info.ulFlags = kPickerFlags;
  FolderPick pick;
  unique_co_task_memory itemList(::SHBrowseForFolderW(&info));
  if (itemList) {
    pick.chosen = true;
    wchar_t path[MAX_PATH] = {};
    if (::SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(itemList.get()), path)) pick.folderPath = path;
  }
  return InstallDirFromPick(pick, currentDir);
}
