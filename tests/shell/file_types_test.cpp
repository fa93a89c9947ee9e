// Registration of the file types and the URL scheme, read back from the registry and really started.
#include "shell/file_types.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "test_support.h"

namespace fs = std::filesystem;
using test_support::TempFolder;
using test_support::WideToUtf8;

namespace {

const wchar_t* const kOwnKeys[] = {
    L"Software\\Classes\\.fqlgame",   L"Software\\Classes\\Fernquill.fqlgame",
    L"Software\\Classes\\.fqlibrary", L"Software\\Classes\\Fernquill.fqlibrary",
    L"Software\\Classes\\fernquill",
};

struct StoredValue {
  bool found = false;
  DWORD type = REG_NONE;
  DWORD byteCount = 0;
  std::wstring data;  // without the terminating null
  bool terminated = false;
};

StoredValue ReadStored(const std::wstring& key, const std::wstring& name) {
  StoredValue stored;
  unique_registry_key opened;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, opened.put()) != ERROR_SUCCESS) {
    return stored;
  }
  const wchar_t* valueName = name.empty() ? nullptr : name.c_str();
  if (::RegQueryValueExW(opened.get(), valueName, nullptr, &stored.type, nullptr, &stored.byteCount) !=
      ERROR_SUCCESS) {
    return stored;
  }
  std::vector<wchar_t> buffer(stored.byteCount / sizeof(wchar_t) + 1, L'\0');
  DWORD size = stored.byteCount;
  if (::RegQueryValueExW(opened.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS) {
    return stored;
  }
  stored.found = true;
  const std::size_t characters = size / sizeof(wchar_t);
  stored.terminated = characters > 0 && buffer[characters - 1] == L'\0';
  stored.data.assign(buffer.data(), stored.terminated ? characters - 1 : characters);
  return stored;
}

std::wstring Describe(const RegistryValue& value) { return value.key + L" [" + value.name + L"]"; }

// Starts from and leaves behind an HKCU without the application's keys (the suite holds the lock).
class Registration : public ::testing::Test {
 protected:
  void SetUp() override { DeleteOwnKeys(); }
  void TearDown() override { DeleteOwnKeys(); }
  static void DeleteOwnKeys() {
    for (const wchar_t* key : kOwnKeys) ::RegDeleteTreeW(HKEY_CURRENT_USER, key);
  }

  static void ExpectStoredExactly(const std::vector<RegistryValue>& values) {
    for (const RegistryValue& value : values) {
      const StoredValue stored = ReadStored(value.key, value.name);
      ASSERT_TRUE(stored.found) << WideToUtf8(Describe(value));
      EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ)) << WideToUtf8(Describe(value));
      EXPECT_EQ(stored.byteCount, (value.data.size() + 1) * sizeof(wchar_t)) << WideToUtf8(Describe(value));
      EXPECT_TRUE(stored.terminated) << WideToUtf8(Describe(value));
      EXPECT_EQ(stored.data, value.data) << WideToUtf8(Describe(value));
    }
  }
};

TEST(ShellIntegrationValues, AreTheTwelveRowsInTheirOrder) {
  const std::wstring dir = L"C:\\Users\\Anna\\AppData\\Local\\Programs\\Fernquill";
  const std::wstring icon = L"\"C:\\Users\\Anna\\AppData\\Local\\Programs\\Fernquill\\Fernquill.exe\",0";
  const std::wstring package =
      L"\"C:\\Users\\Anna\\AppData\\Local\\Programs\\Fernquill\\FernquillLauncher.exe\" --package \"%1\"";
  const std::wstring uri =
      L"\"C:\\Users\\Anna\\AppData\\Local\\Programs\\Fernquill\\FernquillLauncher.exe\" --uri \"%1\"";
  const std::vector<std::vector<std::wstring>> expected = {
      {L"Software\\Classes\\.fqlgame", L"", L"Fernquill.fqlgame"},
      {L"Software\\Classes\\Fernquill.fqlgame", L"", L"Fernquill game package"},
      {L"Software\\Classes\\Fernquill.fqlgame\\DefaultIcon", L"", icon},
      {L"Software\\Classes\\Fernquill.fqlgame\\shell\\open\\command", L"", package},
      {L"Software\\Classes\\.fqlibrary", L"", L"Fernquill.fqlibrary"},
      {L"Software\\Classes\\Fernquill.fqlibrary", L"", L"Fernquill library package"},
      {L"Software\\Classes\\Fernquill.fqlibrary\\DefaultIcon", L"", icon},
      {L"Software\\Classes\\Fernquill.fqlibrary\\shell\\open\\command", L"", package},
      {L"Software\\Classes\\fernquill", L"", L"URL:Fernquill Protocol"},
      {L"Software\\Classes\\fernquill", L"URL Protocol", L""},
      {L"Software\\Classes\\fernquill\\DefaultIcon", L"", icon},
      {L"Software\\Classes\\fernquill\\shell\\open\\command", L"", uri},
  };
  for (const std::wstring& installDir : {dir, dir + L"\\"}) {
    std::vector<std::vector<std::wstring>> actual;
    for (const RegistryValue& value : ShellIntegrationValues(installDir)) {
      actual.push_back({value.key, value.name, value.data});
    }
    EXPECT_EQ(actual, expected) << WideToUtf8(installDir);
  }
}

TEST_F(Registration, WritesTheTwelveValuesAndTheSameAgain) {
  TempFolder root(L"shell");
  const std::wstring installDir = (root / L"Program Files" / L"My Fern quill").wstring();
  const std::vector<RegistryValue> values = ShellIntegrationValues(installDir);
  ASSERT_EQ(values.size(), 12u);

  RegisterShellIntegration(installDir);
  ExpectStoredExactly(values);
  const StoredValue urlProtocol = ReadStored(L"Software\\Classes\\fernquill", L"URL Protocol");
  EXPECT_EQ(urlProtocol.byteCount, 2u);
  EXPECT_EQ(urlProtocol.data, L"");
  // Spaces stay inside the quotes: the launcher path is one quoted piece.
  const StoredValue command = ReadStored(L"Software\\Classes\\fernquill\\shell\\open\\command", L"");
  EXPECT_EQ(command.data.rfind(L"\"" + installDir + L"\\FernquillLauncher.exe\" ", 0), 0u)
      << WideToUtf8(command.data);

  RegisterShellIntegration(installDir);
  ExpectStoredExactly(values);

  // A later run from elsewhere overwrites every value.
  const std::wstring movedDir = (root / L"elsewhere").wstring();
  RegisterShellIntegration(movedDir);
  ExpectStoredExactly(ShellIntegrationValues(movedDir));
}

TEST_F(Registration, LeavesOtherValuesAndSubkeysAlone) {
  ASSERT_TRUE(SetRegistryString(HKEY_CURRENT_USER, L"Software\\Classes\\.fqlgame\\OpenWithProgids",
                                L"Other.App", L""));
  ASSERT_TRUE(SetRegistryString(HKEY_CURRENT_USER, L"Software\\Classes\\fernquill", L"EditFlags", L"2"));
  RegisterShellIntegration(L"C:\\Fernquill");
  EXPECT_TRUE(ReadStored(L"Software\\Classes\\.fqlgame\\OpenWithProgids", L"Other.App").found);
  EXPECT_EQ(ReadStored(L"Software\\Classes\\fernquill", L"EditFlags").data, L"2");
}

TEST(SetRegistryString, StoresTheTerminatingNullAndCreatesMissingParents) {
  const std::wstring key = L"Software\\Fernquill Setup Tests\\deep\\er";
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Fernquill Setup Tests");
  const struct {
    const wchar_t* name;
    std::wstring data;
  } cases[] = {
      {L"", L"unnamed"},
      {L"empty", L""},
      {L"cyrillic", L"\u041F\u0430\u043F\u043A\u0430"},
      {L"long", std::wstring(5000, L'x')},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(SetRegistryString(HKEY_CURRENT_USER, key, c.name, c.data)) << WideToUtf8(c.name);
    const StoredValue stored = ReadStored(key, c.name);
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ)) << WideToUtf8(c.name);
    EXPECT_EQ(stored.byteCount, (c.data.size() + 1) * sizeof(wchar_t)) << WideToUtf8(c.name);
    EXPECT_EQ(stored.data, c.data) << WideToUtf8(c.name);
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Fernquill Setup Tests");
}

// Denies setting values on one key to everyone, as a locked-down key would; allows the rest.
void DenyValueWrites(HKEY key, bool deny) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  alignas(DWORD) BYTE aclBuffer[256];
  ACL* acl = reinterpret_cast<ACL*>(aclBuffer);
  ASSERT_TRUE(::InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION));
  if (deny) {
    ASSERT_TRUE(::AddAccessDeniedAce(acl, ACL_REVISION, KEY_SET_VALUE, everyone));
  }
  ASSERT_TRUE(::AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone));
  SECURITY_DESCRIPTOR descriptor;
  ASSERT_TRUE(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));
  EXPECT_EQ(::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor), ERROR_SUCCESS);
  ::FreeSid(everyone);
}

// Records association-change notices sent to this process's shell-notification clients.
class AssociationNotices {
 public:
  AssociationNotices() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
      if (message == kNoticeMessage && (static_cast<LONG>(lParam) & SHCNE_ASSOCCHANGED) != 0) ++received_;
      return ::DefWindowProcW(window, message, wParam, lParam);
    };
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"FernquillTestNotices";
    ::RegisterClassW(&windowClass);
    window_ = ::CreateWindowExW(0, L"FernquillTestNotices", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    SHChangeNotifyEntry everything = {nullptr, TRUE};
    registration_ = ::SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_InterruptLevel,
                                             SHCNE_ASSOCCHANGED, kNoticeMessage, 1, &everything);
  }
  ~AssociationNotices() {
    if (registration_ != 0) ::SHChangeNotifyDeregister(registration_);
    ::DestroyWindow(window_);
  }
  AssociationNotices(const AssociationNotices&) = delete;
  AssociationNotices& operator=(const AssociationNotices&) = delete;

  bool registered() const { return registration_ != 0; }
  int received() {
    MSG msg;
    while (::PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    return received_;
  }

 private:
  static constexpr UINT kNoticeMessage = WM_APP + 77;
  static inline int received_ = 0;
  HWND window_ = nullptr;
  ULONG registration_ = 0;
};

TEST_F(Registration, ADeniedKeyOnlyLosesItsOwnValue) {
  const std::wstring deniedKey = L"Software\\Classes\\Fernquill.fqlibrary\\DefaultIcon";
  unique_registry_key denied;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, deniedKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              denied.put(), nullptr),
            ERROR_SUCCESS);
  DenyValueWrites(denied.get(), true);
  EXPECT_FALSE(SetRegistryString(HKEY_CURRENT_USER, deniedKey, L"", L"x"));

  AssociationNotices notices;
  ASSERT_TRUE(notices.registered());
  const int noticesBefore = notices.received();
  const std::wstring installDir = L"C:\\Fern quill";
  RegisterShellIntegration(installDir);
  EXPECT_EQ(notices.received(), noticesBefore + 1);

  std::vector<RegistryValue> others;
  for (const RegistryValue& value : ShellIntegrationValues(installDir)) {
    if (value.key == deniedKey) {
      EXPECT_FALSE(ReadStored(value.key, value.name).found);
    } else {
      others.push_back(value);
    }
  }
  EXPECT_EQ(others.size(), 11u);
  ExpectStoredExactly(others);
  DenyValueWrites(denied.get(), false);
}

struct Started {
  DWORD exitCode = 0;
  test_support::LauncherRecord record;
};

// Puts the argument in place of %1 as the shell does and starts the command line.
Started StartAsTheShellDoes(const std::wstring& command, const std::wstring& argument,
                            const fs::path& folder) {
  std::wstring commandLine = command;
  const std::size_t placeholder = commandLine.find(L"%1");
  if (placeholder == std::wstring::npos) throw std::runtime_error("command without %1");
  commandLine.replace(placeholder, 2, argument);

  const std::wstring log = (folder / L"launcher record.txt").wstring();
  ::DeleteFileW(log.c_str());
  test_support::ScopedEnvironment logSetting(L"FERNQUILL_LAUNCHER_LOG", &log);
  Started started;
  started.exitCode = test_support::RunAndWait(commandLine, folder);
  started.record = test_support::ReadLauncherRecord(log);
  return started;
}

TEST_F(Registration, RegisteredCommandsHandTheLauncherTheWholePathOrLink) {
  TempFolder root(L"shell");
  const fs::path install = root / L"Program Files" / L"Fern quill";
  test_support::CopyApplicationStandIns(install);
  RegisterShellIntegration(install.wstring());
  const std::wstring launcher = (install / L"FernquillLauncher.exe").wstring();

  const fs::path game = root / L"my games" / L"Night Owl & Co.fqlgame";
  const fs::path library = root / L"my games" / L"Whole library, 2nd edition.fqlibrary";
  const std::wstring link = L"fernquill://library/add?id=17&source=web page&name=Night%20Owl&x=";
  const struct {
    const wchar_t* key;
    std::wstring argument;
    const wchar_t* option;
  } cases[] = {
      {L"Software\\Classes\\Fernquill.fqlgame\\shell\\open\\command", game.wstring(), L"--package"},
      {L"Software\\Classes\\Fernquill.fqlibrary\\shell\\open\\command", library.wstring(), L"--package"},
      {L"Software\\Classes\\fernquill\\shell\\open\\command", link, L"--uri"},
  };
  for (const auto& c : cases) {
    const StoredValue command = ReadStored(c.key, L"");
    ASSERT_TRUE(command.found) << WideToUtf8(c.key);
    const Started started = StartAsTheShellDoes(command.data, c.argument, root.path());
    EXPECT_EQ(started.exitCode, 0u) << WideToUtf8(c.key);
    const std::vector<std::wstring> expected = {launcher, c.option, c.argument};
    EXPECT_EQ(started.record.arguments, expected) << WideToUtf8(c.key);
    EXPECT_EQ(started.record.workingFolder, root.str()) << WideToUtf8(c.key);
  }

  // The icon value names an icon that is really there.
  const StoredValue icon = ReadStored(L"Software\\Classes\\fernquill\\DefaultIcon", L"");
  const std::wstring mainExecutable = (install / L"Fernquill.exe").wstring();
  ASSERT_EQ(icon.data, L"\"" + mainExecutable + L"\",0");
  HICON large = nullptr;
  EXPECT_EQ(::ExtractIconExW(mainExecutable.c_str(), 0, &large, nullptr, 1), 1u);
  EXPECT_NE(large, nullptr);
  if (large != nullptr) ::DestroyIcon(large);
}

}  // namespace
