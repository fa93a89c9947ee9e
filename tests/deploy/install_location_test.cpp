// The install folder offered to the user: default, picked folder, cancelled picker.
#include "deploy/install_location.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "shell/known_folder.h"
#include "test_support.h"

using test_support::WideToUtf8;

namespace {

TEST(InstallDirUnder, AppendsProgramsAndTheProductFolder) {
  const struct {
    const wchar_t* localAppData;
    const wchar_t* expected;
  } cases[] = {
      {L"C:\\Users\\Anna\\AppData\\Local", L"C:\\Users\\Anna\\AppData\\Local\\Programs\\Fernquill"},
      {L"C:\\Users\\Anna\\AppData\\Local\\", L"C:\\Users\\Anna\\AppData\\Local\\Programs\\Fernquill"},
      {L"D:\\", L"D:\\Programs\\Fernquill"},
      {L"", L"Fernquill"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InstallDirUnder(c.localAppData), c.expected) << WideToUtf8(c.localAppData);
  }
}

TEST(InstallDirFromPick, AppendsTheProductFolderToWhatWasPicked) {
  const std::wstring current = L"C:\\Users\\Anna\\AppData\\Local\\Programs\\Fernquill";
  const struct {
    const wchar_t* name;
    FolderPick pick;
    std::wstring expected;
  } cases[] = {
      {L"folder", {true, L"D:\\Games"}, L"D:\\Games\\Fernquill"},
      {L"drive root", {true, L"D:\\"}, L"D:\\Fernquill"},
      {L"already the product folder", {true, current}, current + L"\\Fernquill"},
      {L"folder with spaces", {true, L"E:\\My Games"}, L"E:\\My Games\\Fernquill"},
      {L"no file-system path", {true, L""}, current},
      {L"cancelled", {false, L""}, L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InstallDirFromPick(c.pick, current), c.expected) << WideToUtf8(c.name);
  }
}

TEST(DefaultInstallDir, LiesInTheUsersLocalApplicationData) {
  const std::wstring expected =
      L"C:\\users\\" + test_support::UserName() + L"\\AppData\\Local\\Programs\\Fernquill";
  EXPECT_TRUE(EqualsIgnoringCase(DefaultInstallDir(), expected))
      << WideToUtf8(DefaultInstallDir()) << " vs " << WideToUtf8(expected);
}

// Runs the real picker on an apartment-threaded thread, answers it with a button as a user would, and
// returns what BrowseForInstallDir gave. The texts the dialog showed go to shownTexts.
std::wstring AnswerPicker(int button, std::vector<std::wstring>& shownTexts, bool& dialogSeen) {
  std::atomic<DWORD> threadId{0};
  std::atomic<bool> done{false};
  std::wstring result = L"not returned";
  std::thread picker([&] {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    threadId = ::GetCurrentThreadId();
    result = BrowseForInstallDir(nullptr, L"C:\\current folder\\Fernquill");
    ::CoUninitialize();
    done = true;
  });
  HWND dialog = nullptr;
  // Under load Wine takes many seconds to fill the picker's tree before the dialog shows.
  for (int i = 0; i < 1200 && dialog == nullptr && !done; ++i) {
    ::Sleep(50);
    if (threadId == 0) continue;
    ::EnumThreadWindows(
        threadId,
        [](HWND window, LPARAM found) {
          wchar_t className[64] = {};
          ::GetClassNameW(window, className, 64);
          if (std::wstring(className) != L"#32770" || !::IsWindowVisible(window)) return TRUE;
          *reinterpret_cast<HWND*>(found) = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&dialog));
  }
  dialogSeen = dialog != nullptr;
  if (dialog != nullptr) {
    ::Sleep(300);  // let the tree fill and select its first item
    ::EnumChildWindows(
        dialog,
        [](HWND child, LPARAM texts) {
          wchar_t text[256] = {};
          ::GetWindowTextW(child, text, 256);
          reinterpret_cast<std::vector<std::wstring>*>(texts)->push_back(text);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&shownTexts));
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
  }
  picker.join();
  return result;
}

TEST(BrowseForInstallDir, CancelGivesAnEmptyResult) {
  std::vector<std::wstring> texts;
  bool dialogSeen = false;
  const std::wstring result = AnswerPicker(IDCANCEL, texts, dialogSeen);
  ASSERT_TRUE(dialogSeen) << "the folder picker did not open (no display?)";
  EXPECT_EQ(result, L"");
  EXPECT_NE(std::find(texts.begin(), texts.end(), L"Выбери папку для установки Fernquill"), texts.end());
}

TEST(BrowseForInstallDir, OkAppendsTheProductFolderToThePickedFolder) {
  std::vector<std::wstring> texts;
  bool dialogSeen = false;
  const std::wstring result = AnswerPicker(IDOK, texts, dialogSeen);
  ASSERT_TRUE(dialogSeen) << "the folder picker did not open (no display?)";
  // Nothing is preselected from the edit box: the picker starts at the shell's default, the desktop.
  const std::wstring desktop = KnownFolderPath(FOLDERID_Desktop);
  EXPECT_EQ(result, desktop + L"\\Fernquill");
}

}  // namespace
