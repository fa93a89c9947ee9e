// Drives a running setup window from another process: finds it, reads its controls, presses buttons.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "app/control_ids.h"

namespace setup_driver {

struct ControlState {
  HWND handle = nullptr;
  int id = 0;
  std::wstring className;
  std::wstring text;
  bool enabled = false;
  bool visible = false;
  DWORD style = 0;
  DWORD exStyle = 0;
  RECT bounds = {};      // in the parent's client coordinates
  LRESULT check = 0;     // BM_GETCHECK, meaningful for buttons
  LRESULT progress = 0;  // PBM_GETPOS, meaningful for progress bars
};

struct WindowState {
  HWND handle = nullptr;
  DWORD processId = 0;
  std::wstring className;
  std::wstring title;
  DWORD style = 0;
  DWORD exStyle = 0;
  RECT bounds = {};                    // screen coordinates, frame included
  std::vector<ControlState> controls;  // in the order the window made them
};

struct MessageBoxState {
  HWND handle = nullptr;
  HWND owner = nullptr;
  std::wstring caption;
  std::wstring text;
};

// The visible top-level "FernquillSetupWindow" of a process (any process when processId is 0), or null.
HWND FindSetupWindow(DWORD processId);
HWND WaitForSetupWindow(DWORD processId, DWORD timeoutMs);

// The id of a control of the setup window named as its header names it ("IDC_INSTALL"), or 0.
int ControlIdNamed(const std::wstring& name);

WindowState ReadWindow(HWND window);
ControlState ReadControl(HWND window, int id);
// The text as the control reports it to WM_GETTEXT (an edit box's current content, too).
std::wstring ReadText(HWND control);

// Posted, not sent: a click that opens a modal box must not block the caller.
bool Click(HWND window, int id);
// True when the control holds the text afterwards.
bool SetControlText(HWND window, int id, const std::wstring& text);
bool PostClose(HWND window);

// A visible dialog (#32770: message boxes, the folder picker) of the process (any when 0), or null.
HWND FindMessageBox(DWORD processId);
HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs);
MessageBoxState ReadMessageBox(HWND box);
bool DismissMessageBox(HWND box);  // presses its OK button
// Posts the button's command to the dialog, as a click on it would.
bool PressDialogButton(HWND dialog, int id);

// Polls every 20 ms until the condition holds or the time runs out; returns the last answer.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// CR, LF and tab made visible, for reports.
std::wstring Escape(const std::wstring& text);
// One line per item, for reports and test failure messages.
std::wstring Describe(const ControlState& control);
std::wstring Describe(const WindowState& window);

}  // namespace setup_driver
