// Registry values for the file types and the URL scheme.
#include "shell/file_types.h"

#include <shlobj.h>

#include "common/text.h"
#include "common/unique_handle.h"
#include "install/app_contract.h"

namespace {

constexpr wchar_t kClassesKey[] = L"Software\\Classes\\";
constexpr wchar_t kIconSuffix[] = L"\\DefaultIcon";
constexpr wchar_t kCommandSuffix[] = L"\\shell\\open\\command";

constexpr wchar_t kGameExtension[] = L".fqlgame";
constexpr wchar_t kGameProgId[] = L"Fernquill.fqlgame";
constexpr wchar_t kGameDescription[] = L"Fernquill game package";
constexpr wchar_t kLibraryExtension[] = L".fqlibrary";
constexpr wchar_t kLibraryProgId[] = L"Fernquill.fqlibrary";
constexpr wchar_t kLibraryDescription[] = L"Fernquill library package";
constexpr wchar_t kScheme[] = L"fernquill";
constexpr wchar_t kSchemeDescription[] = L"URL:Fernquill Protocol";
constexpr wchar_t kUrlProtocolValue[] = L"URL Protocol";

// The paths go in as they are: the quotes keep spaces in, and Windows paths hold no quote.
std::wstring IconValue(const std::wstring& installDir) {
  return L"\"" + JoinPath(installDir, std::wstring(app_contract::kMainExecutable)) + L"\",0";
}

std::wstring LauncherCommand(const std::wstring& installDir, std::wstring_view option) {
  return L"\"" + JoinPath(installDir, std::wstring(app_contract::kLauncherExecutable)) + L"\" " +
         std::wstring(option) + L" \"%1\"";
}

void WriteValues(const std::vector<RegistryValue>& values) {
  for (const RegistryValue& value : values)
    SetRegistryString(HKEY_CURRENT_USER, value.key, value.name, value.data);
}

std::vector<RegistryValue> SchemeValues(const std::wstring& installDir) {
  const std::wstring key = kClassesKey + std::wstring(kScheme);
  return {
      {key, L"", kSchemeDescription},
      {key, kUrlProtocolValue, L""},
      {key + kIconSuffix, L"", IconValue(installDir)},
      {key + kCommandSuffix, L"", LauncherCommand(installDir, app_contract::kUriOption)},
  };
}

}  // namespace

std::vector<RegistryValue> FileTypeValues(const std::wstring& extension, const std::wstring& progId,
                                          const std::wstring& description, const std::wstring& installDir) {
  const std::wstring progIdKey = kClassesKey + progId;
  return {
      {kClassesKey + extension, L"", progId},
      {progIdKey, L"", description},
      {progIdKey + kIconSuffix, L"", IconValue(installDir)},
      {progIdKey + kCommandSuffix, L"", LauncherCommand(installDir, app_contract::kPackageOption)},
  };
}

std::vector<RegistryValue> ShellIntegrationValues(const std::wstring& installDir) {
  std::vector<RegistryValue> values =
      FileTypeValues(kGameExtension, kGameProgId, kGameDescription, installDir);
  for (RegistryValue& value :
       FileTypeValues(kLibraryExtension, kLibraryProgId, kLibraryDescription, installDir)) {
    values.push_back(std::move(value));
  }
  for (RegistryValue& value : SchemeValues(installDir)) values.push_back(std::move(value));
  return values;
}

void RegisterFileType(const std::wstring& extension, const std::wstring& progId,
                      const std::wstring& description, const std::wstring& installDir) {
  WriteValues(FileTypeValues(extension, progId, description, installDir));
}

void RegisterShellIntegration(const std::wstring& installDir) {
  RegisterFileType(kGameExtension, kGameProgId, kGameDescription, installDir);
  RegisterFileType(kLibraryExtension, kLibraryProgId, kLibraryDescription, installDir);
  WriteValues(SchemeValues(installDir));
  // Sent whatever happened to the writes: some of them may have landed.
  ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

bool SetRegistryString(HKEY root, const std::wstring& subkey, const std::wstring& valueName,
                       const std::wstring& data) {
  unique_registry_key key;
  if (::RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD byteCount = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key.get(), valueName.empty() ? nullptr : valueName.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()), byteCount) == ERROR_SUCCESS;
}
