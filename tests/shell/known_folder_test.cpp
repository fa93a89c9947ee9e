// Known-folder lookup, and the test prefix's user folders being plain folders of the build tree.
#include "shell/known_folder.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <knownfolders.h>

#include <filesystem>
#include <string>

#include "common/text.h"
#include "test_support.h"

namespace fs = std::filesystem;
using test_support::WideToUtf8;

namespace {

struct Folder {
  const wchar_t* name;
  const KNOWNFOLDERID* id;
  const wchar_t* belowProfile;
};

const Folder kUserFolders[] = {
    {L"LocalAppData", &FOLDERID_LocalAppData, L"AppData\\Local"},
    {L"Programs", &FOLDERID_Programs, L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
    {L"Desktop", &FOLDERID_Desktop, L"Desktop"},
    {L"Documents", &FOLDERID_Documents, L"Documents"},
    {L"Downloads", &FOLDERID_Downloads, L"Downloads"},
    {L"Music", &FOLDERID_Music, L"Music"},
    {L"Pictures", &FOLDERID_Pictures, L"Pictures"},
    {L"Videos", &FOLDERID_Videos, L"Videos"},
};

TEST(KnownFolderPath, GivesTheUsersFolders) {
  const std::wstring profile = L"C:\\users\\" + test_support::UserName();
  for (const Folder& folder : kUserFolders) {
    const std::wstring path = KnownFolderPath(*folder.id);
    EXPECT_TRUE(EqualsIgnoringCase(path, profile + L"\\" + folder.belowProfile))
        << WideToUtf8(folder.name) << ": " << WideToUtf8(path);
  }
}

TEST(KnownFolderPath, IsEmptyForAnUnknownFolder) {
  const KNOWNFOLDERID unknown = {
      0x5e2f1c3a, 0x7b4d, 0x4e6f, {0x8a, 0x91, 0x0c, 0x2d, 0x3e, 0x4f, 0x50, 0x61}};
  EXPECT_EQ(KnownFolderPath(unknown), L"");
}

// Tests write shortcuts onto the desktop: it and its neighbours must be the prefix's own folders, not
// links to the Linux user's home. A file written through the Windows path must turn up in the build tree.
TEST(KnownFolderPath, UserFoldersArePlainFoldersInsideTheBuildTree) {
  const std::wstring profileInBuildTree =
      test_support::BuildDir() + L"\\wine\\prefix\\drive_c\\users\\" + test_support::UserName();
  for (const Folder& folder : kUserFolders) {
    const fs::path path = KnownFolderPath(*folder.id);
    ASSERT_FALSE(path.empty()) << WideToUtf8(folder.name);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << WideToUtf8(folder.name);
    // Stop before writing anything through a link into somebody's real home.
    ASSERT_EQ(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << WideToUtf8(folder.name) << " is a link";

    const std::wstring marker = L"fernquill-marker-" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
    test_support::WriteFile(path / marker, "marker");
    const fs::path seen = fs::path(profileInBuildTree) / folder.belowProfile / marker;
    EXPECT_TRUE(fs::exists(seen)) << WideToUtf8(folder.name) << " is not " << WideToUtf8(seen.wstring());
    std::error_code ignored;
    fs::remove(path / marker, ignored);
  }
}

}  // namespace
