// Known-folder lookup.
#include "shell/known_folder.h"

#include "common/unique_handle.h"

std::wstring KnownFolderPath(REFKNOWNFOLDERID folderId) {
  PWSTR buffer = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(folderId, KF_FLAG_CREATE, nullptr, &buffer);
  unique_co_task_memory owner(buffer);  // freed on failure too, should the shell have set it
  if (FAILED(result) || buffer == nullptr) return {};
  return std::wstring(buffer);
}
