// The setup window procedure: nine fixed controls on a dark background and one install run at a time.
#include "app/setup_window.h"

#include <commctrl.h>

#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "app/window_layout.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "deploy/install_location.h"
#include "install/install_worker.h"
#include "install/messages.h"
#include "install/update_server.h"
#include "resource_ids.h"

HBRUSH g_backgroundBrush = nullptr;
InstallRunStarter g_startInstallRun = StartInstallThread;

void StartInstallThread(InstallRequest request) {
  std::thread(InstallThreadProc, std::move(request)).detach();
}

namespace {

constexpr int kTitleFontHeight = 26;
constexpr int kBodyFontHeight = 17;
constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE;
constexpr int kEditTextCapacity = 32768;

// Shown when no worker thread could be started, so the user is not left with a dead window.
constexpr wchar_t kWorkerStartFailure[] =
    L"Не удалось начать установку.\r\nWindows не дала запустить поток установки. Попробуй ещё раз.";

struct SetupWindowControls {
  HWND installDir = nullptr;
  HWND browse = nullptr;
  HWND desktopShortcut = nullptr;
  HWND install = nullptr;
  HWND progress = nullptr;
  HWND status = nullptr;
  unique_gdi_object titleFont;
  unique_gdi_object bodyFont;
};

// One setup window per process, touched only on the UI thread.
SetupWindowControls g_controls;

HWND CreateControl(HWND parent, const wchar_t* className, const std::wstring& text, DWORD style,
                   DWORD exStyle, int x, int y, int width, int height, int id) {
  return ::CreateWindowExW(exStyle, className, text.c_str(), kChildStyle | style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

void SetFont(HWND control, const unique_gdi_object& font) {
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
}

void CreateControls(HWND window) {
  g_controls.titleFont.reset(MakeUiFont(kTitleFontHeight, FW_BOLD));
  g_controls.bodyFont.reset(MakeUiFont(kBodyFontHeight, FW_NORMAL));
  const unique_gdi_object& title = g_controls.titleFont;
  const unique_gdi_object& body = g_controls.bodyFont;
  const std::wstring installDir = DefaultInstallDir();

  SetFont(CreateControl(window, L"STATIC", L"Fernquill", 0, 0, 28, 24, 500, 42, 0), title);
  SetFont(CreateControl(window, L"STATIC",
                        L"Сетевой установщик • всегда ставит актуальную версию с " + UpdateHost(), 0, 0, 30,
                        67, 570, 24, 0),
          body);
  SetFont(CreateControl(window, L"STATIC", L"Папка установки", 0, 0, 30, 118, 180, 24, 0), body);

  g_controls.installDir = CreateControl(window, L"EDIT", installDir, ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 30,
                                        146, 470, 32, IDC_INSTALL_DIR);
  SetFont(g_controls.installDir, body);
  g_controls.browse =
      CreateControl(window, L"BUTTON", L"Обзор...", BS_PUSHBUTTON, 0, 512, 146, 90, 32, IDC_BROWSE);
  SetFont(g_controls.browse, body);
  g_controls.desktopShortcut = CreateControl(window, L"BUTTON", L"Создать ярлык на рабочем столе",
                                             BS_AUTOCHECKBOX, 0, 30, 194, 300, 28, IDC_DESKTOP_SHORTCUT);
  ::SendMessageW(g_controls.desktopShortcut, BM_SETCHECK, BST_CHECKED, 0);
  SetFont(g_controls.desktopShortcut, body);
  g_controls.progress = CreateControl(window, PROGRESS_CLASSW, L"", 0, 0, 30, 248, 572, 18, IDC_PROGRESS);
  ::SendMessageW(g_controls.progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  g_controls.status =
      CreateControl(window, L"STATIC", L"Готов к установке.", 0, 0, 30, 280, 572, 42, IDC_STATUS);
  SetFont(g_controls.status, body);
  g_controls.install = CreateControl(window, L"BUTTON", L"Установить Fernquill", BS_DEFPUSHBUTTON, 0, 378,
                                     330, 224, 44, IDC_INSTALL);
  SetFont(g_controls.install, body);
}

void ShowState(SetupState state) {
  const SetupStateView view = ViewOfState(state);
  ::EnableWindow(g_controls.installDir, view.inputsEnabled);
  ::EnableWindow(g_controls.browse, view.inputsEnabled);
  ::EnableWindow(g_controls.desktopShortcut, view.inputsEnabled);
  ::EnableWindow(g_controls.install, view.installEnabled);
  ::SetWindowTextW(g_controls.install, std::wstring(view.installText).c_str());
}

std::wstring ReadInstallDirText() {
  std::wstring buffer(kEditTextCapacity, L'\0');
  const int length = ::GetWindowTextW(g_controls.installDir, buffer.data(), kEditTextCapacity);
  buffer.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return buffer;
}

void OnBrowse(HWND window) {
  std::wstring chosen = BrowseForInstallDir(window, ReadInstallDirText());
  if (!chosen.empty()) ::SetWindowTextW(g_controls.installDir, chosen.c_str());
}

void OnInstall(HWND window) {
  // The disabled button is the guard against a second run and makes "Установлено" final, but a
  // disabled button still reports a BM_CLICK (Wine), and any program can send the command itself.
  if (!::IsWindowEnabled(g_controls.install)) return;
  std::wstring installDir = TrimWhitespace(ReadInstallDirText());
  if (installDir.empty()) {
    ::MessageBoxW(window, L"Выбери папку установки.", L"Fernquill Setup", MB_OK | MB_ICONWARNING);
    return;
  }
  const bool desktopShortcut = ::SendMessageW(g_controls.desktopShortcut, BM_GETCHECK, 0, 0) == BST_CHECKED;
  ShowState(SetupState::Installing);

  InstallRequest request;
  request.installDir = std::move(installDir);
  request.createDesktopShortcut = desktopShortcut;
  try {
    g_startInstallRun(std::move(request));
  } catch (const std::exception&) {
    // std::system_error when no thread can be made, std::bad_alloc for its state: either way no run
    // exists, so the window must offer the button again instead of waiting for a WM_SETUP_FINISHED.
    ::SetWindowTextW(g_controls.status, kWorkerStartFailure);
    ShowState(SetupState::Failed);
  }
}

void OnStatus(LPARAM lParam) {
  if (const std::unique_ptr<std::wstring> text = TakeStatusText(lParam)) {
    ::SetWindowTextW(g_controls.status, text->c_str());
  }
}

}  // namespace

HFONT MakeUiFont(int pixelHeight, int weight) {
  return ::CreateFontW(-pixelHeight, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      CreateControls(window);
      return 0;
    case WM_ERASEBKGND: {
      RECT client = {};
      ::GetClientRect(window, &client);
      ::FillRect(reinterpret_cast<HDC>(wParam), &client, g_backgroundBrush);
      return 1;
    }
    case WM_CTLCOLORSTATIC: {
      const HDC dc = reinterpret_cast<HDC>(wParam);
      ::SetTextColor(dc, kStaticTextColour);
      ::SetBkColor(dc, kBackgroundColour);
      return reinterpret_cast<LRESULT>(g_backgroundBrush);
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_BROWSE:
          OnBrowse(window);
          return 0;
        case IDC_INSTALL:
          OnInstall(window);
          return 0;
      }
      break;
    case WM_SETUP_STATUS:
      OnStatus(lParam);
      return 0;
    case WM_SETUP_PROGRESS:
      ::SendMessageW(g_controls.progress, PBM_SETPOS, wParam, 0);
      return 0;
    case WM_SETUP_FINISHED:
      ShowState(StateAfterRun(wParam));
      return 0;
    case WM_DESTROY:
      g_controls.titleFont.reset();
      g_controls.bodyFont.reset();
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

ATOM RegisterSetupWindowClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = SetupWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_FERNQUILL));
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = g_backgroundBrush;
  windowClass.lpszClassName = kSetupWindowClass.data();
  windowClass.hIconSm = windowClass.hIcon;
  return ::RegisterClassExW(&windowClass);
}
