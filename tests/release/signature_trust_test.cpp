// What Windows's own trust check says about the signed Release installer, a changed copy and the
// unsigned build (the signing fixture makes them with scripts/release.sh).
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

// The Authenticode policy, without UI and without revocation checks (the throw-away CA has no CRL).
LONG VerifyAuthenticode(const std::wstring& path) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return result;
}

std::wstring ReleaseExe(const wchar_t* variant) {
  return test_support::BuildDir() + L"\\release\\" + variant + L"\\FernquillSetup.exe";
}

TEST(ReleaseSignature, WinVerifyTrustAcceptsTheSignedExeOnly) {
  test_support::TempFolder temp(L"trust");
  // One byte of code changed after signing: the digest no longer matches.
  const std::filesystem::path changed = temp / L"FernquillSetup.exe";
  std::string image = test_support::ReadFile(ReleaseExe(L"signed"));
  ASSERT_GT(image.size(), 8192u);
  image[4096] = static_cast<char>(image[4096] ^ 0x5a);
  test_support::WriteFile(changed, image);

  const struct {
    const char* what;
    std::wstring path;
    LONG expected;
  } cases[] = {
      {"signed", ReleaseExe(L"signed"), ERROR_SUCCESS},
      {"signed, one byte changed", changed.wstring(), static_cast<LONG>(TRUST_E_BAD_DIGEST)},
      {"unsigned", ReleaseExe(L"unsigned"), static_cast<LONG>(TRUST_E_NOSIGNATURE)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(std::filesystem::is_regular_file(c.path)) << "the signing fixture did not make it";
    EXPECT_EQ(static_cast<unsigned long>(VerifyAuthenticode(c.path)), static_cast<unsigned long>(c.expected));
  }
}

}  // namespace
