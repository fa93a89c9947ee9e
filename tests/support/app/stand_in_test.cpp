// The application stand-ins: the launcher's record of how it was started, and the main executable's icon.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;
using test_support::TempFolder;
using test_support::WideToUtf8;

namespace {

TEST(LauncherStandIn, RecordsItsStartInTheNamedFileOrBesideItself) {
  TempFolder root(L"stand-in");
  const fs::path install = root / L"\u041F\u0430\u043F\u043A\u0430 app";  // Cyrillic and a space
  test_support::CopyApplicationStandIns(install);
  const std::wstring launcher = (install / L"FernquillLauncher.exe").wstring();
  const std::wstring commandLine = L"\"" + launcher + L"\" --uri \"fernquill://a?b=1&c=\u0434\" plain \"\"";
  const std::vector<std::wstring> arguments = {launcher, L"--uri", L"fernquill://a?b=1&c=\u0434", L"plain",
                                               L""};

  const std::wstring named = (root / L"named record.txt").wstring();
  const struct {
    const wchar_t* name;
    const std::wstring* setting;
    fs::path expectedAt;
  } cases[] = {
      {L"named by the environment", &named, named},
      {L"beside the program", nullptr, install / L"launcher-log.txt"},
  };
  for (const auto& c : cases) {
    test_support::ScopedEnvironment setting(L"FERNQUILL_LAUNCHER_LOG", c.setting);
    ASSERT_EQ(test_support::RunAndWait(commandLine, root.path()), 0u) << WideToUtf8(c.name);
    const test_support::LauncherRecord record = test_support::ReadLauncherRecord(c.expectedAt);
    EXPECT_EQ(record.commandLine, commandLine) << WideToUtf8(c.name);
    EXPECT_EQ(record.arguments, arguments) << WideToUtf8(c.name);
    EXPECT_EQ(record.workingFolder, root.str()) << WideToUtf8(c.name);
  }
}

TEST(MainStandIn, CarriesAnIconAtIndexZero) {
  const std::wstring mainExecutable = test_support::EquipmentPath(L"Fernquill.exe");
  EXPECT_EQ(::ExtractIconExW(mainExecutable.c_str(), -1, nullptr, nullptr, 0), 1u);
  HICON large = nullptr;
  ASSERT_EQ(::ExtractIconExW(mainExecutable.c_str(), 0, &large, nullptr, 1), 1u);
  ICONINFO info = {};
  EXPECT_TRUE(::GetIconInfo(large, &info));
  if (info.hbmColor != nullptr) ::DeleteObject(info.hbmColor);
  if (info.hbmMask != nullptr) ::DeleteObject(info.hbmMask);
  ::DestroyIcon(large);
  // The launcher has none: shortcuts and file types must take theirs from the main executable.
  EXPECT_EQ(::ExtractIconExW(test_support::EquipmentPath(L"FernquillLauncher.exe").c_str(), -1, nullptr,
                             nullptr, 0),
            0u);
}

}  // namespace
