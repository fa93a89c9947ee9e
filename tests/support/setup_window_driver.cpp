// Cross-process reading and driving of the setup window through the real window manager.
#include "setup_window_driver.h"

#include <commctrl.h>

#include <cwchar>

namespace setup_driver {
namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr UINT kSendTimeoutMs = 5000;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr DWORD kPollIntervalMs = 20;

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  const int length = ::GetClassNameW(window, name, 256);
  return std::wstring(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

// Class names are compared as the window manager does: without regard to case.
bool IsClass(const std::wstring& className, const wchar_t* expected) {
  return ::CompareStringOrdinal(className.c_str(), -1, expected, -1, TRUE) == CSTR_EQUAL;
}

LRESULT SendQuery(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) {
    return 0;
  }
  return static_cast<LRESULT>(result);
}

struct TopLevelSearch {
  DWORD processId;
  const wchar_t* className;
  bool visibleOnly;
  HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<TopLevelSearch*>(parameter);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (search->processId != 0 && owner != search->processId) return TRUE;
  if (!IsClass(ClassOf(window), search->className)) return TRUE;
  if (search->visibleOnly && !::IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindTopLevel(DWORD processId, const wchar_t* className, bool visibleOnly) {
  TopLevelSearch search = {processId, className, visibleOnly, nullptr};
  ::EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

ControlState ReadControlHandle(HWND parent, HWND control) {
  ControlState state;
  state.handle = control;
  state.id = ::GetDlgCtrlID(control);
  state.className = ClassOf(control);
  state.text = ReadText(control);
  state.enabled = ::IsWindowEnabled(control) != FALSE;
  state.visible = ::IsWindowVisible(control) != FALSE;
  state.style = static_cast<DWORD>(::GetWindowLongW(control, GWL_STYLE));
  state.exStyle = static_cast<DWORD>(::GetWindowLongW(control, GWL_EXSTYLE));
  ::GetWindowRect(control, &state.bounds);
  ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&state.bounds), 2);
  if (IsClass(state.className, L"Button")) state.check = SendQuery(control, BM_GETCHECK);
  if (IsClass(state.className, PROGRESS_CLASSW)) state.progress = SendQuery(control, PBM_GETPOS);
  return state;
}

std::wstring Hex(DWORD value) {
  wchar_t buffer[16] = {};
  std::swprintf(buffer, 16, L"0x%08lX", static_cast<unsigned long>(value));
  return buffer;
}

std::wstring Rect(const RECT& rect) {
  return std::to_wstring(rect.left) + L"," + std::to_wstring(rect.top) + L" " +
         std::to_wstring(rect.right - rect.left) + L"x" + std::to_wstring(rect.bottom - rect.top);
}

}  // namespace

// Visible only: the window exists before its controls are filled, but is shown only after that.
HWND FindSetupWindow(DWORD processId) { return FindTopLevel(processId, kSetupWindowClass.data(), true); }

HWND WaitForSetupWindow(DWORD processId, DWORD timeoutMs) {
  HWND window = nullptr;
  WaitUntil([&] { return (window = FindSetupWindow(processId)) != nullptr; }, timeoutMs);
  // A sent message comes back only once the message loop runs.
  if (window != nullptr) SendQuery(window, WM_NULL);
  return window;
}

int ControlIdNamed(const std::wstring& name) {
  struct Named {
    const wchar_t* name;
    int id;
  };
  static const Named kControls[] = {
      {L"IDC_INSTALL_DIR", IDC_INSTALL_DIR},
      {L"IDC_BROWSE", IDC_BROWSE},
      {L"IDC_DESKTOP_SHORTCUT", IDC_DESKTOP_SHORTCUT},
      {L"IDC_INSTALL", IDC_INSTALL},
      {L"IDC_PROGRESS", IDC_PROGRESS},
      {L"IDC_STATUS", IDC_STATUS},
  };
  for (const Named& control : kControls) {
    if (name == control.name) return control.id;
  }
  return 0;
}

WindowState ReadWindow(HWND window) {
  WindowState state;
  state.handle = window;
  ::GetWindowThreadProcessId(window, &state.processId);
  state.className = ClassOf(window);
  state.title = ReadText(window);
  state.style = static_cast<DWORD>(::GetWindowLongW(window, GWL_STYLE));
  state.exStyle = static_cast<DWORD>(::GetWindowLongW(window, GWL_EXSTYLE));
  ::GetWindowRect(window, &state.bounds);
  // Each new child goes to the bottom of its siblings, so the sibling list is the creation order.
  for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    state.controls.push_back(ReadControlHandle(window, child));
  }
  return state;
}

ControlState ReadControl(HWND window, int id) {
  const HWND control = ::GetDlgItem(window, id);
  if (control == nullptr) return {};
  return ReadControlHandle(window, control);
}

std::wstring ReadText(HWND control) {
  const LRESULT length = SendQuery(control, WM_GETTEXTLENGTH);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied = SendQuery(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

bool Click(HWND window, int id) {
  const HWND control = ::GetDlgItem(window, id);
  return control != nullptr && ::PostMessageW(control, BM_CLICK, 0, 0) != FALSE;
}

bool SetControlText(HWND window, int id, const std::wstring& text) {
  const HWND control = ::GetDlgItem(window, id);
  if (control == nullptr) return false;
  // The answer to WM_SETTEXT is not reliable across processes (an empty text reports FALSE under
  // Wine): what counts is the text the control holds afterwards.
  SendQuery(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  return ReadText(control) == text;
}

bool PostClose(HWND window) { return ::PostMessageW(window, WM_CLOSE, 0, 0) != FALSE; }

HWND FindMessageBox(DWORD processId) { return FindTopLevel(processId, kDialogClass, true); }

HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs) {
  HWND box = nullptr;
  WaitUntil([&] { return (box = FindMessageBox(processId)) != nullptr; }, timeoutMs);
  return box;
}

MessageBoxState ReadMessageBox(HWND box) {
  MessageBoxState state;
  state.handle = box;
  state.owner = ::GetWindow(box, GW_OWNER);
  state.caption = ReadText(box);
  if (const HWND text = ::GetDlgItem(box, kMessageBoxTextId)) state.text = ReadText(text);
  return state;
}

bool PressDialogButton(HWND dialog, int id) {
  const HWND button = ::GetDlgItem(dialog, id);
  return button != nullptr && ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                             reinterpret_cast<LPARAM>(button)) != FALSE;
}

bool DismissMessageBox(HWND box) { return PressDialogButton(box, IDOK); }

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount64() >= deadline) return condition();
    ::Sleep(kPollIntervalMs);
  }
}

std::wstring Escape(const std::wstring& text) {
  std::wstring escaped;
  for (const wchar_t c : text) {
    switch (c) {
      case L'\r':
        escaped += L"\\r";
        break;
      case L'\n':
        escaped += L"\\n";
        break;
      case L'\t':
        escaped += L"\\t";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::wstring Describe(const ControlState& control) {
  std::wstring line = L"control id=" + std::to_wstring(control.id) + L" class=" + control.className +
                      L" at=" + Rect(control.bounds) + L" style=" + Hex(control.style) + L" exstyle=" +
                      Hex(control.exStyle) + L" enabled=" + (control.enabled ? L"1" : L"0");
  if (IsClass(control.className, L"Button")) line += L" check=" + std::to_wstring(control.check);
  if (IsClass(control.className, PROGRESS_CLASSW)) line += L" pos=" + std::to_wstring(control.progress);
  return line + L" text=\"" + Escape(control.text) + L"\"";
}

std::wstring Describe(const WindowState& window) {
  std::wstring lines = L"window class=" + window.className + L" title=\"" + Escape(window.title) + L"\" at=" +
                       Rect(window.bounds) + L" style=" + Hex(window.style) + L" exstyle=" +
                       Hex(window.exStyle) + L"\n";
  for (const ControlState& control : window.controls) lines += Describe(control) + L"\n";
  return lines;
}

}  // namespace setup_driver
