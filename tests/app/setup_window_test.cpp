// The setup window procedure in this process: fonts, colours, worker messages, the install button.
#include "app/setup_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "install/install_worker.h"
#include "install/messages.h"

namespace {

std::vector<InstallRequest> g_startedRuns;

void RecordRun(InstallRequest request) { g_startedRuns.push_back(std::move(request)); }
void FailWithSystemError(InstallRequest) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}
void FailWithBadAlloc(InstallRequest) { throw std::bad_alloc(); }

std::wstring TextOf(HWND control) {
  wchar_t buffer[1024] = {};
  ::GetWindowTextW(control, buffer, 1024);
  return buffer;
}

class SetupWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    brush_ = ::CreateSolidBrush(RGB(18, 21, 30));
    g_backgroundBrush = brush_;
    static const ATOM atom = RegisterSetupWindowClass(::GetModuleHandleW(nullptr));
    ASSERT_NE(atom, 0);
    previousStarter_ = g_startInstallRun;
    g_startInstallRun = RecordRun;
    g_startedRuns.clear();
    window_ = ::CreateWindowExW(0, L"FernquillSetupWindow", L"Fernquill Setup",
                                WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 650, 430, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
    previousWindow_ = g_setupWindow;
    g_setupWindow = window_;
  }

  void TearDown() override {
    if (window_ != nullptr) Destroy();
    g_setupWindow = previousWindow_;
    g_startInstallRun = previousStarter_;
    g_backgroundBrush = nullptr;
    ::DeleteObject(brush_);
  }

  // Destroys the window and returns the exit code of the quit message it posted (-1 when none).
  int Destroy() {
    ::DestroyWindow(window_);
    window_ = nullptr;
    MSG message = {};
    if (!::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return -1;
    return static_cast<int>(message.wParam);
  }

  std::vector<HWND> Children() const {
    std::vector<HWND> children;
    for (HWND c = ::GetWindow(window_, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) {
      children.push_back(c);
    }
    return children;
  }

  HWND Control(int id) const { return ::GetDlgItem(window_, id); }

  void PressInstall(WORD notification = BN_CLICKED) {
    ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_INSTALL, notification),
                   reinterpret_cast<LPARAM>(Control(IDC_INSTALL)));
  }

  void ExpectInputs(bool enabled, bool installEnabled, const std::wstring& installText) {
    EXPECT_EQ(::IsWindowEnabled(Control(IDC_INSTALL_DIR)) != FALSE, enabled);
    EXPECT_EQ(::IsWindowEnabled(Control(IDC_BROWSE)) != FALSE, enabled);
    EXPECT_EQ(::IsWindowEnabled(Control(IDC_DESKTOP_SHORTCUT)) != FALSE, enabled);
    EXPECT_EQ(::IsWindowEnabled(Control(IDC_INSTALL)) != FALSE, installEnabled);
    EXPECT_EQ(TextOf(Control(IDC_INSTALL)), installText);
  }

  HBRUSH brush_ = nullptr;
  HWND window_ = nullptr;
  HWND previousWindow_ = nullptr;
  InstallRunStarter previousStarter_ = nullptr;
};

struct FontCase {
  int pixelHeight;
  int weight;
};

class MakeUiFontTest : public testing::TestWithParam<FontCase> {};

TEST_P(MakeUiFontTest, AsksForSegoeUiAtACharacterHeight) {
  const FontCase& c = GetParam();
  const HFONT font = MakeUiFont(c.pixelHeight, c.weight);
  ASSERT_NE(font, nullptr);
  LOGFONTW logFont = {};
  ASSERT_EQ(::GetObjectW(font, sizeof(logFont), &logFont), static_cast<int>(sizeof(logFont)));
  ::DeleteObject(font);
  EXPECT_EQ(logFont.lfHeight, -c.pixelHeight);
  EXPECT_EQ(logFont.lfWidth, 0);
  EXPECT_EQ(logFont.lfEscapement, 0);
  EXPECT_EQ(logFont.lfOrientation, 0);
  EXPECT_EQ(logFont.lfWeight, c.weight);
  EXPECT_EQ(logFont.lfItalic, 0);
  EXPECT_EQ(logFont.lfUnderline, 0);
  EXPECT_EQ(logFont.lfStrikeOut, 0);
  EXPECT_EQ(logFont.lfCharSet, DEFAULT_CHARSET);
  EXPECT_EQ(logFont.lfOutPrecision, OUT_DEFAULT_PRECIS);
  EXPECT_EQ(logFont.lfClipPrecision, CLIP_DEFAULT_PRECIS);
  EXPECT_EQ(logFont.lfQuality, CLEARTYPE_QUALITY);
  EXPECT_EQ(logFont.lfPitchAndFamily, DEFAULT_PITCH | FF_DONTCARE);
  EXPECT_STREQ(logFont.lfFaceName, L"Segoe UI");
}

INSTANTIATE_TEST_SUITE_P(Sizes, MakeUiFontTest,
                         testing::Values(FontCase{26, FW_BOLD}, FontCase{17, FW_NORMAL},
                                         FontCase{9, FW_LIGHT}));

TEST_F(SetupWindowTest, EachControlHasItsFontAndTheProgressBarNone) {
  // Creation order: title, subtitle, folder label, edit, browse, check box, progress, status, install.
  const struct {
    int height;  // 0: no font
    int weight;
  } expected[] = {{26, 700}, {17, 400}, {17, 400}, {17, 400}, {17, 400},
                  {17, 400}, {0, 0},    {17, 400}, {17, 400}};
  const std::vector<HWND> children = Children();
  ASSERT_EQ(children.size(), std::size(expected));
  for (std::size_t i = 0; i < children.size(); ++i) {
    SCOPED_TRACE("control #" + std::to_string(i + 1));
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(children[i], WM_GETFONT, 0, 0));
    if (expected[i].height == 0) {
      EXPECT_EQ(font, nullptr);
      continue;
    }
    LOGFONTW logFont = {};
    ASSERT_NE(::GetObjectW(font, sizeof(logFont), &logFont), 0);
    EXPECT_EQ(logFont.lfHeight, -expected[i].height);
    EXPECT_EQ(logFont.lfWeight, expected[i].weight);
    EXPECT_STREQ(logFont.lfFaceName, L"Segoe UI");
  }
}

TEST_F(SetupWindowTest, DestructionDeletesBothFontsAndQuitsWithZero) {
  const std::vector<HWND> children = Children();
  ASSERT_EQ(children.size(), 9u);
  const auto title = reinterpret_cast<HFONT>(::SendMessageW(children[0], WM_GETFONT, 0, 0));
  const auto body = reinterpret_cast<HFONT>(::SendMessageW(children[1], WM_GETFONT, 0, 0));
  LOGFONTW logFont = {};
  ASSERT_NE(::GetObjectW(title, sizeof(logFont), &logFont), 0);
  ASSERT_NE(::GetObjectW(body, sizeof(logFont), &logFont), 0);

  EXPECT_EQ(Destroy(), 0);
  EXPECT_EQ(::GetObjectW(title, sizeof(logFont), &logFont), 0);
  EXPECT_EQ(::GetObjectW(body, sizeof(logFont), &logFont), 0);
}

TEST_F(SetupWindowTest, StartsCheckedReadyAndAtZeroOfAHundred) {
  EXPECT_EQ(::SendMessageW(Control(IDC_DESKTOP_SHORTCUT), BM_GETCHECK, 0, 0), BST_CHECKED);
  PBRANGE range = {};
  ::SendMessageW(Control(IDC_PROGRESS), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 100);
  EXPECT_EQ(::SendMessageW(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(TextOf(Control(IDC_STATUS)), L"Готов к установке.");
  ExpectInputs(true, true, L"Установить Fernquill");
}

TEST_F(SetupWindowTest, StaticColoursAreTheOnlyOnesAnswered) {
  const HDC dc = ::CreateCompatibleDC(nullptr);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, RGB(1, 2, 3));
  ::SetBkColor(dc, RGB(4, 5, 6));
  const LRESULT brush = ::SendMessageW(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(Control(IDC_STATUS)));
  EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), g_backgroundBrush);
  EXPECT_EQ(::GetTextColor(dc), RGB(235, 238, 247));
  EXPECT_EQ(::GetBkColor(dc), RGB(18, 21, 30));
  EXPECT_EQ(::GetBkMode(dc), TRANSPARENT);  // left as it was

  for (const UINT message : {WM_CTLCOLOREDIT, WM_CTLCOLORBTN}) {
    SCOPED_TRACE(message);
    ::SetTextColor(dc, RGB(1, 2, 3));
    const LRESULT other = ::SendMessageW(window_, message, reinterpret_cast<WPARAM>(dc),
                                         reinterpret_cast<LPARAM>(Control(IDC_INSTALL_DIR)));
    EXPECT_NE(reinterpret_cast<HBRUSH>(other), g_backgroundBrush);
    EXPECT_NE(::GetTextColor(dc), RGB(235, 238, 247));
  }
  ::DeleteDC(dc);
}

TEST_F(SetupWindowTest, EraseFillsTheClientAreaWithTheBackground) {
  const HDC screen = ::GetDC(nullptr);
  const HDC dc = ::CreateCompatibleDC(screen);
  const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 700, 500);
  ::ReleaseDC(nullptr, screen);
  const HGDIOBJ old = ::SelectObject(dc, bitmap);
  RECT all = {0, 0, 700, 500};
  ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));

  EXPECT_EQ(::SendMessageW(window_, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);
  RECT client = {};
  ::GetClientRect(window_, &client);
  EXPECT_EQ(::GetPixel(dc, 0, 0), RGB(18, 21, 30));
  EXPECT_EQ(::GetPixel(dc, client.right - 1, client.bottom - 1), RGB(18, 21, 30));
  EXPECT_EQ(::GetPixel(dc, client.right, client.bottom), RGB(255, 255, 255));  // outside the client

  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
}

TEST_F(SetupWindowTest, StatusTextComesFromTheMessageAndANullOneChangesNothing) {
  ::SendMessageW(window_, WM_SETUP_STATUS, 0,
                 reinterpret_cast<LPARAM>(new std::wstring(L"Не удалось скачать Fernquill.\r\nпричина")));
  EXPECT_EQ(TextOf(Control(IDC_STATUS)), L"Не удалось скачать Fernquill.\r\nпричина");
  EXPECT_EQ(::SendMessageW(window_, WM_SETUP_STATUS, 0, 0), 0);
  EXPECT_EQ(TextOf(Control(IDC_STATUS)), L"Не удалось скачать Fernquill.\r\nпричина");
}

TEST_F(SetupWindowTest, ProgressMovesTheBar) {
  for (const WPARAM percent : {WPARAM{37}, WPARAM{100}, WPARAM{0}}) {
    ::SendMessageW(window_, WM_SETUP_PROGRESS, percent, 0);
    EXPECT_EQ(static_cast<WPARAM>(::SendMessageW(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0)), percent);
  }
}

struct FinishCase {
  const char* name;
  WPARAM flag;
  bool installEnabled;
  const wchar_t* installText;
};

class SetupWindowFinishTest : public SetupWindowTest, public testing::WithParamInterface<FinishCase> {};

TEST_P(SetupWindowFinishTest, EndOfRunReenablesAndRelabels) {
  const FinishCase& c = GetParam();
  ::SetWindowTextW(Control(IDC_INSTALL_DIR), L"C:\\Games");
  PressInstall();
  ASSERT_EQ(g_startedRuns.size(), 1u);
  ::SendMessageW(window_, WM_SETUP_PROGRESS, 64, 0);
  ::SendMessageW(window_, WM_SETUP_STATUS, 0, reinterpret_cast<LPARAM>(new std::wstring(L"последний текст")));

  ::SendMessageW(window_, WM_SETUP_FINISHED, c.flag, 0);
  ExpectInputs(true, c.installEnabled, c.installText);
  EXPECT_EQ(::SendMessageW(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0), 64);
  EXPECT_EQ(TextOf(Control(IDC_STATUS)), L"последний текст");
}

INSTANTIATE_TEST_SUITE_P(Outcomes, SetupWindowFinishTest,
                         testing::Values(FinishCase{"Failure", 0, true, L"Повторить"},
                                         FinishCase{"Success", 1, false, L"Установлено"}),
                         [](const testing::TestParamInfo<FinishCase>& test) {
                           return std::string(test.param.name);
                         });

struct InstallCase {
  const char* name;
  const wchar_t* typed;
  bool checked;
  WORD notification;
  const wchar_t* expectedDir;
};

class SetupWindowInstallTest : public SetupWindowTest, public testing::WithParamInterface<InstallCase> {};

TEST_P(SetupWindowInstallTest, HandsTheWorkerTheTrimmedFolderAndTheChoice) {
  const InstallCase& c = GetParam();
  ::SetWindowTextW(Control(IDC_INSTALL_DIR), c.typed);
  ::SendMessageW(Control(IDC_DESKTOP_SHORTCUT), BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
  PressInstall(c.notification);

  ASSERT_EQ(g_startedRuns.size(), 1u);
  EXPECT_EQ(g_startedRuns[0].installDir, c.expectedDir);
  EXPECT_EQ(g_startedRuns[0].createDesktopShortcut, c.checked);
  EXPECT_EQ(TextOf(Control(IDC_INSTALL_DIR)), c.typed);  // the edit box keeps what was typed
  ExpectInputs(false, false, L"Устанавливаем...");
  EXPECT_EQ(TextOf(Control(IDC_STATUS)), L"Готов к установке.");  // only the worker changes it
}

INSTANTIATE_TEST_SUITE_P(
    Folders, SetupWindowInstallTest,
    testing::Values(InstallCase{"AsTyped", L"C:\\Games\\Fernquill", true, BN_CLICKED,
                                L"C:\\Games\\Fernquill"},
                    InstallCase{"BlanksAround", L"   C:\\Games\\Fern quill  ", false, BN_CLICKED,
                                L"C:\\Games\\Fern quill"},
                    InstallCase{"TabsAndLineBreaks", L"\t\r\nD:\\Apps\r\n\t", true, BN_CLICKED, L"D:\\Apps"},
                    InstallCase{"RelativeName", L" Fernquill ", true, BN_CLICKED, L"Fernquill"},
                    // Only the control ID counts, not the notification code.
                    InstallCase{"OtherNotificationCode", L"C:\\X", true, BN_DOUBLECLICKED, L"C:\\X"}),
    [](const testing::TestParamInfo<InstallCase>& test) { return std::string(test.param.name); });

TEST_F(SetupWindowTest, RepeatAfterFailureUsesTheValuesOfThatMoment) {
  ::SetWindowTextW(Control(IDC_INSTALL_DIR), L"C:\\First");
  PressInstall();
  ::SendMessageW(window_, WM_SETUP_FINISHED, 0, 0);
  ::SetWindowTextW(Control(IDC_INSTALL_DIR), L" C:\\Second ");
  ::SendMessageW(Control(IDC_DESKTOP_SHORTCUT), BM_SETCHECK, BST_UNCHECKED, 0);
  PressInstall();

  ASSERT_EQ(g_startedRuns.size(), 2u);
  EXPECT_EQ(g_startedRuns[0].installDir, L"C:\\First");
  EXPECT_TRUE(g_startedRuns[0].createDesktopShortcut);
  EXPECT_EQ(g_startedRuns[1].installDir, L"C:\\Second");
  EXPECT_FALSE(g_startedRuns[1].createDesktopShortcut);
  ExpectInputs(false, false, L"Устанавливаем...");
}

TEST_F(SetupWindowTest, NoSecondRunWhileTheButtonIsDisabled) {
  ::SetWindowTextW(Control(IDC_INSTALL_DIR), L"C:\\Games");
  PressInstall();
  PressInstall();  // during the run
  ASSERT_EQ(g_startedRuns.size(), 1u);
  ::SendMessageW(window_, WM_SETUP_FINISHED, 1, 0);
  PressInstall();  // after success
  EXPECT_EQ(g_startedRuns.size(), 1u);
  ExpectInputs(true, false, L"Установлено");
}

TEST_F(SetupWindowTest, OtherCommandsStartNothing) {
  ::SetWindowTextW(Control(IDC_INSTALL_DIR), L"C:\\Games");
  for (const int id : {IDC_INSTALL_DIR, IDC_DESKTOP_SHORTCUT, IDC_PROGRESS, IDC_STATUS, 0, 4242}) {
    ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
  }
  EXPECT_TRUE(g_startedRuns.empty());
  ExpectInputs(true, true, L"Установить Fernquill");
}

struct StartFailureCase {
  const char* name;
  InstallRunStarter starter;
};

class SetupWindowStartFailureTest : public SetupWindowTest,
                                    public testing::WithParamInterface<StartFailureCase> {};

TEST_P(SetupWindowStartFailureTest, LeavesTheWindowReadyToRetry) {
  g_startInstallRun = GetParam().starter;
  ::SetWindowTextW(Control(IDC_INSTALL_DIR), L"C:\\Games");
  PressInstall();

  const std::wstring status = TextOf(Control(IDC_STATUS));
  EXPECT_EQ(status.rfind(L"Не удалось начать установку.\r\n", 0), 0u) << testing::PrintToString(status);
  ExpectInputs(true, true, L"Повторить");

  g_startInstallRun = RecordRun;
  PressInstall();
  EXPECT_EQ(g_startedRuns.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Causes, SetupWindowStartFailureTest,
                         testing::Values(StartFailureCase{"NoThread", FailWithSystemError},
                                         StartFailureCase{"NoMemory", FailWithBadAlloc}),
                         [](const testing::TestParamInfo<StartFailureCase>& test) {
                           return std::string(test.param.name);
                         });

}  // namespace
