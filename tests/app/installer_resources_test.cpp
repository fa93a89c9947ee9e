// What the built installer exe carries: GUI subsystem, the icon group 101, the manifest and the version.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "fernquill_version.h"
#include "installer_process.h"
#include "test_support.h"

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE colourCount;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytesInRes;
  WORD id;
};
struct GroupIconHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
#pragma pack(pop)

class InstallerResources : public testing::Test {
 protected:
  void SetUp() override {
    module_ = ::LoadLibraryExW(DefaultInstallerPath().c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "cannot load the installer: error " << ::GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }

  std::string Resource(LPCWSTR name, LPCWSTR type) const {
    const HRSRC info = ::FindResourceW(module_, name, type);
    if (info == nullptr) return {};
    const HGLOBAL data = ::LoadResource(module_, info);
    const auto* bytes = static_cast<const char*>(::LockResource(data));
    return bytes == nullptr ? std::string() : std::string(bytes, ::SizeofResource(module_, info));
  }

  HMODULE module_ = nullptr;
};

std::uint32_t BigEndian(const std::string& bytes, std::size_t at) {
  return (std::uint32_t{static_cast<unsigned char>(bytes[at])} << 24) |
         (std::uint32_t{static_cast<unsigned char>(bytes[at + 1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(bytes[at + 2])} << 8) |
         std::uint32_t{static_cast<unsigned char>(bytes[at + 3])};
}

TEST(InstallerExe, IsAWindowsGuiProgram) {
  const std::string image = test_support::ReadFile(DefaultInstallerPath());
  ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER));
  IMAGE_DOS_HEADER dos = {};
  std::memcpy(&dos, image.data(), sizeof(dos));
  ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
  IMAGE_NT_HEADERS64 nt = {};
  ASSERT_GE(image.size(), static_cast<std::size_t>(dos.e_lfanew) + sizeof(nt));
  std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof(nt));
  EXPECT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

TEST_F(InstallerResources, IconGroup101HoldsSevenPngImagesOf32Bits) {
  const std::string group = Resource(MAKEINTRESOURCEW(101), RT_GROUP_ICON);
  ASSERT_GE(group.size(), sizeof(GroupIconHeader));
  GroupIconHeader header = {};
  std::memcpy(&header, group.data(), sizeof(header));
  EXPECT_EQ(header.type, 1);
  ASSERT_EQ(group.size(), sizeof(header) + header.count * sizeof(GroupIconEntry));

  std::set<int> sizes;
  for (WORD i = 0; i < header.count; ++i) {
    GroupIconEntry entry = {};
    std::memcpy(&entry, group.data() + sizeof(header) + i * sizeof(entry), sizeof(entry));
    const int size = entry.width == 0 ? 256 : entry.width;
    SCOPED_TRACE("image of " + std::to_string(size) + " px");
    sizes.insert(size);
    EXPECT_EQ(entry.width, entry.height);
    EXPECT_EQ(entry.bitCount, 32);

    const std::string image = Resource(MAKEINTRESOURCEW(entry.id), RT_ICON);
    ASSERT_EQ(image.size(), entry.bytesInRes);
    ASSERT_GE(image.size(), 33u);
    EXPECT_EQ(image.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(image.substr(12, 4), "IHDR");
    EXPECT_EQ(BigEndian(image, 16), static_cast<std::uint32_t>(size));
    EXPECT_EQ(BigEndian(image, 20), static_cast<std::uint32_t>(size));
    EXPECT_EQ(image[24], 8);  // bits per channel
    EXPECT_EQ(image[25], 6);  // RGBA

    // The platform must be able to make an icon of it, as the window class does.
    const HANDLE icon = ::LoadImageW(module_, MAKEINTRESOURCEW(101), IMAGE_ICON, size, size, 0);
    ASSERT_NE(icon, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(::GetIconInfo(static_cast<HICON>(icon), &info));
    BITMAP bitmap = {};
    ::GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
    EXPECT_EQ(bitmap.bmWidth, size);
    EXPECT_EQ(bitmap.bmHeight, size);
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    ::DestroyIcon(static_cast<HICON>(icon));
  }
  EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 64, 128, 256}));
}

TEST_F(InstallerResources, ManifestAsksForTheInvokersRightsAndNothingElse) {
  const std::string manifest = Resource(MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos) << manifest;

  std::set<std::string> elements;
  const std::regex element("<([A-Za-z][A-Za-z0-9:]*)");
  for (auto it = std::sregex_iterator(manifest.begin(), manifest.end(), element);
       it != std::sregex_iterator(); ++it) {
    elements.insert((*it)[1]);
  }
  // No common-controls dependency, no DPI awareness, no compatibility section.
  EXPECT_EQ(elements, (std::set<std::string>{"assembly", "trustInfo", "security", "requestedPrivileges",
                                             "requestedExecutionLevel"}));
}

// What Explorer's Properties page shows: the fixed part and the U.S. English string table.
TEST(InstallerExe, VersionInformationNamesTheProductAndTheConfiguredPublisher) {
  const std::wstring exe = DefaultInstallerPath();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_NE(size, 0u) << "no version information: error " << ::GetLastError();
  std::vector<BYTE> block(size);
  ASSERT_TRUE(::GetFileVersionInfoW(exe.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  ASSERT_EQ(fixedSize, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD high = MAKELONG(FERNQUILL_VERSION_MINOR, FERNQUILL_VERSION_MAJOR);
  const DWORD low = MAKELONG(FERNQUILL_VERSION_TWEAK, FERNQUILL_VERSION_PATCH);
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  struct Translation {
    WORD language;
    WORD codePage;
  };
  Translation* translations = nullptr;
  UINT translationsSize = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translations), &translationsSize));
  ASSERT_EQ(translationsSize, sizeof(Translation));
  EXPECT_EQ(translations->language, 0x0409);
  EXPECT_EQ(translations->codePage, 1200);

  const std::wstring version = Utf8ToWide(FERNQUILL_VERSION_TEXT);
  const struct {
    const wchar_t* name;
    std::wstring expected;
  } values[] = {
      {L"CompanyName", Utf8ToWide(FERNQUILL_COMPANY_NAME)},
      {L"FileDescription", L"Fernquill Setup"},
      {L"FileVersion", version},
      {L"InternalName", L"FernquillSetup.exe"},
      {L"LegalCopyright", Utf8ToWide(FERNQUILL_LEGAL_COPYRIGHT)},
      {L"OriginalFilename", L"FernquillSetup.exe"},
      {L"ProductName", L"Fernquill"},
      {L"ProductVersion", version},
  };
  for (const auto& value : values) {
    SCOPED_TRACE(test_support::WideToUtf8(value.name));
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + value.name;
    wchar_t* text = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length));
    // The length counts the terminating zero.
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::wstring(text, length - 1), value.expected);
  }
  EXPECT_EQ(version, std::to_wstring(FERNQUILL_VERSION_MAJOR) + L"." + std::to_wstring(FERNQUILL_VERSION_MINOR) +
                         L"." + std::to_wstring(FERNQUILL_VERSION_PATCH) + L"." +
                         std::to_wstring(FERNQUILL_VERSION_TWEAK));
}

}  // namespace
