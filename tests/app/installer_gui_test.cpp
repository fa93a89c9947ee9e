// The built installer, started as its own process and driven through the window manager.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "installer_process.h"
#include "setup_window_driver.h"
#include "test_support.h"

namespace {

constexpr DWORD kRunTimeoutMs = 60000;
constexpr DWORD kBoxTimeoutMs = 10000;

std::wstring ExpectedDefaultInstallDir() {
  PWSTR base = nullptr;
  std::wstring result = L"Fernquill";
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &base))) {
    result = std::wstring(base) + L"\\Programs\\Fernquill";
  }
  ::CoTaskMemFree(base);
  return result;
}

void ExpectInputs(const InstallerProcess& installer, bool enabled, bool installEnabled,
                  const std::wstring& installText) {
  for (const int id : {IDC_INSTALL_DIR, IDC_BROWSE, IDC_DESKTOP_SHORTCUT}) {
    EXPECT_EQ(installer.Control(id).enabled, enabled) << "control " << id;
  }
  const setup_driver::ControlState install = installer.Control(IDC_INSTALL);
  EXPECT_EQ(install.enabled, installEnabled);
  EXPECT_EQ(install.text, installText);
}

struct ExpectedControl {
  const wchar_t* className;
  std::wstring text;
  DWORD style;
  DWORD exStyle;
  RECT bounds;
  int id;
};

bool SameClass(const std::wstring& actual, const wchar_t* expected) {
  return ::CompareStringOrdinal(actual.c_str(), -1, expected, -1, TRUE) == CSTR_EQUAL;
}

TEST(InstallerGui, OpensCentredWithItsNineControlsReady) {
  InstallerProcess installer(DefaultInstallerPath());
  ASSERT_NE(installer.window(), nullptr) << "no FernquillSetupWindow appeared";
  const setup_driver::WindowState window = setup_driver::ReadWindow(installer.window());
  SCOPED_TRACE(test_support::WideToUtf8(setup_driver::Describe(window)));

  EXPECT_EQ(window.className, L"FernquillSetupWindow");
  EXPECT_EQ(window.title, L"Fernquill Setup");
  // The window manager adds WS_CLIPSIBLINGS and WS_EX_WINDOWEDGE to every captioned top-level window.
  EXPECT_EQ(window.style & ~(WS_VISIBLE | WS_CLIPSIBLINGS), 0x00CA0000u);
  EXPECT_TRUE(window.style & WS_VISIBLE);
  EXPECT_EQ(window.exStyle & ~WS_EX_WINDOWEDGE, 0u);
  RECT workArea = {};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
  EXPECT_EQ(window.bounds.right - window.bounds.left, 650);
  EXPECT_EQ(window.bounds.bottom - window.bounds.top, 430);
  EXPECT_EQ(window.bounds.left, workArea.left + (workArea.right - workArea.left - 650) / 2);
  EXPECT_EQ(window.bounds.top, workArea.top + (workArea.bottom - workArea.top - 430) / 2);

  // The ids are written out, not taken from control_ids.h, so that a changed header fails here.
  const ExpectedControl expected[] = {
      {L"Static", L"Fernquill", 0x50000000, 0, {28, 24, 528, 66}, 0},
      {L"Static",
       L"Сетевой установщик • всегда ставит актуальную версию с updates.fernquill.example",
       0x50000000,
       0,
       {30, 67, 600, 91},
       0},
      {L"Static", L"Папка установки", 0x50000000, 0, {30, 118, 210, 142}, 0},
      {L"Edit", ExpectedDefaultInstallDir(), 0x50000080, 0x200, {30, 146, 500, 178}, 1001},
      {L"Button", L"Обзор...", 0x50000000, 0, {512, 146, 602, 178}, 1002},
      {L"Button", L"Создать ярлык на рабочем столе", 0x50000003, 0, {30, 194, 330, 222}, 1003},
      {L"msctls_progress32", L"", 0x50000000, 0, {30, 248, 602, 266}, 1005},
      {L"Static", L"Готов к установке.", 0x50000000, 0, {30, 280, 602, 322}, 1006},
      {L"Button", L"Установить Fernquill", 0x50000001, 0, {378, 330, 602, 374}, 1004},
  };
  ASSERT_EQ(window.controls.size(), std::size(expected));
  for (std::size_t i = 0; i < window.controls.size(); ++i) {
    const setup_driver::ControlState& actual = window.controls[i];
    const ExpectedControl& want = expected[i];
    SCOPED_TRACE("control #" + std::to_string(i + 1));
    EXPECT_TRUE(SameClass(actual.className, want.className)) << test_support::WideToUtf8(actual.className);
    EXPECT_EQ(actual.text, want.text);
    EXPECT_EQ(actual.style, want.style);
    EXPECT_EQ(actual.exStyle, want.exStyle);
    EXPECT_EQ(actual.bounds.left, want.bounds.left);
    EXPECT_EQ(actual.bounds.top, want.bounds.top);
    EXPECT_EQ(actual.bounds.right, want.bounds.right);
    EXPECT_EQ(actual.bounds.bottom, want.bounds.bottom);
    EXPECT_EQ(actual.id, want.id);
    EXPECT_TRUE(actual.visible);
    EXPECT_TRUE(actual.enabled);
  }
  EXPECT_EQ(window.controls[5].check, BST_CHECKED);
  EXPECT_EQ(window.controls[6].progress, 0);

  EXPECT_EQ(installer.CloseAndWait(), 0);
}

TEST(InstallerGui, CheckBoxTogglesByItself) {
  InstallerProcess installer(DefaultInstallerPath());
  ASSERT_NE(installer.window(), nullptr);
  for (const LRESULT expected : {BST_UNCHECKED, BST_CHECKED, BST_UNCHECKED}) {
    ASSERT_TRUE(setup_driver::Click(installer.window(), IDC_DESKTOP_SHORTCUT));
    EXPECT_TRUE(setup_driver::WaitUntil(
        [&] { return installer.Control(IDC_DESKTOP_SHORTCUT).check == expected; }, 5000))
        << "expected check state " << expected;
  }
  EXPECT_EQ(installer.Control(IDC_STATUS).text, L"Готов к установке.");
  ExpectInputs(installer, true, true, L"Установить Fernquill");
  EXPECT_EQ(installer.CloseAndWait(), 0);
}

TEST(InstallerGui, BlankFolderWarnsAndStartsNothing) {
  InstallerProcess installer(DefaultInstallerPath());
  ASSERT_NE(installer.window(), nullptr);
  for (const std::wstring blank : {L"", L" ", L"     ", L"\t", L" \t \t "}) {
    SCOPED_TRACE("folder \"" + test_support::WideToUtf8(setup_driver::Escape(blank)) + "\"");
    ASSERT_TRUE(setup_driver::SetControlText(installer.window(), IDC_INSTALL_DIR, blank));
    ASSERT_TRUE(setup_driver::Click(installer.window(), IDC_INSTALL));

    const HWND box = setup_driver::WaitForMessageBox(installer.id(), kBoxTimeoutMs);
    ASSERT_NE(box, nullptr) << "no warning box";
    const setup_driver::MessageBoxState state = setup_driver::ReadMessageBox(box);
    EXPECT_EQ(state.owner, installer.window());
    EXPECT_EQ(state.caption, L"Fernquill Setup");
    EXPECT_EQ(state.text, L"Выбери папку установки.");
    ExpectInputs(installer, true, true, L"Установить Fernquill");

    ASSERT_TRUE(setup_driver::DismissMessageBox(box));
    ASSERT_TRUE(setup_driver::WaitUntil([&] { return !::IsWindowVisible(box); }, kBoxTimeoutMs));
    ExpectInputs(installer, true, true, L"Установить Fernquill");
    EXPECT_EQ(installer.Control(IDC_INSTALL_DIR).text, blank);
  }
  // A run would have posted its first status by now (the default host fails within moments).
  ::Sleep(1500);
  EXPECT_EQ(installer.Control(IDC_STATUS).text, L"Готов к установке.");
  EXPECT_EQ(installer.Control(IDC_PROGRESS).progress, 0);
  ExpectInputs(installer, true, true, L"Установить Fernquill");
  EXPECT_EQ(installer.CloseAndWait(), 0);
}

std::wstring KnownFolder(const KNOWNFOLDERID& id) {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path))) result = path;
  ::CoTaskMemFree(path);
  return result;
}

bool HasText(const setup_driver::WindowState& dialog, const std::wstring& text) {
  for (const setup_driver::ControlState& control : dialog.controls) {
    if (control.text == text) return true;
  }
  return false;
}

TEST(InstallerGui, BrowseCancelledKeepsTheFolderAndAPickGetsFernquillAppended) {
  InstallerProcess installer(DefaultInstallerPath());
  ASSERT_NE(installer.window(), nullptr);
  ASSERT_TRUE(setup_driver::SetControlText(installer.window(), IDC_INSTALL_DIR, L"  D:\\Mine  "));

  struct {
    const char* name;
    int button;
    std::wstring expected;
  } const cases[] = {
      {"cancel", IDCANCEL, L"  D:\\Mine  "},
      // Nothing is preselected, so OK picks the picker's starting point, the desktop.
      {"ok", IDOK, KnownFolder(FOLDERID_Desktop) + L"\\Fernquill"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(setup_driver::Click(installer.window(), IDC_BROWSE));
    const HWND picker = setup_driver::WaitForMessageBox(installer.id(), kBoxTimeoutMs);
    ASSERT_NE(picker, nullptr) << "no folder picker";
    EXPECT_EQ(::GetWindow(picker, GW_OWNER), installer.window());
    const setup_driver::WindowState dialog = setup_driver::ReadWindow(picker);
    EXPECT_TRUE(HasText(dialog, L"Выбери папку для установки Fernquill"))
        << test_support::WideToUtf8(setup_driver::Describe(dialog));
    ASSERT_TRUE(setup_driver::PressDialogButton(picker, c.button));
    ASSERT_TRUE(setup_driver::WaitUntil([&] { return !::IsWindowVisible(picker); }, kBoxTimeoutMs));
    EXPECT_TRUE(
        setup_driver::WaitUntil([&] { return installer.Control(IDC_INSTALL_DIR).text == c.expected; }, 5000))
        << test_support::WideToUtf8(installer.Control(IDC_INSTALL_DIR).text);
    ExpectInputs(installer, true, true, L"Установить Fernquill");
  }
  EXPECT_EQ(installer.Control(IDC_STATUS).text, L"Готов к установке.");
  EXPECT_EQ(installer.CloseAndWait(), 0);
}

TEST(InstallerGui, FailedRunOffersRepeatAndRepeats) {
  InstallerProcess installer(DefaultInstallerPath());
  ASSERT_NE(installer.window(), nullptr);
  const std::wstring failure = L"Не удалось получить информацию об обновлении.\r\n";
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    // Only a worker resets the bar to 0, so a bar moved by hand shows that the run really started.
    ::PostMessageW(installer.window(), WM_APP + 2, 55, 0);
    ASSERT_TRUE(
        setup_driver::WaitUntil([&] { return installer.Control(IDC_PROGRESS).progress == 55; }, 5000));
    ASSERT_TRUE(setup_driver::Click(installer.window(), IDC_INSTALL));
    ASSERT_TRUE(setup_driver::WaitUntil([&] { return installer.Control(IDC_PROGRESS).progress == 0; },
                                        kRunTimeoutMs));
    ASSERT_TRUE(installer.WaitForInstallText(L"Повторить", kRunTimeoutMs))
        << test_support::WideToUtf8(setup_driver::Describe(installer.Control(IDC_INSTALL)));
    const std::wstring status = installer.Control(IDC_STATUS).text;
    EXPECT_EQ(status.substr(0, failure.size()), failure) << test_support::WideToUtf8(status);
    EXPECT_GT(status.size(), failure.size());
    ExpectInputs(installer, true, true, L"Повторить");
    EXPECT_EQ(installer.Control(IDC_INSTALL_DIR).text, ExpectedDefaultInstallDir());
  }
  EXPECT_EQ(installer.CloseAndWait(), 0);
}

}  // namespace
