// Program entry work: common controls, COM, the background brush, the window and the message loop.
#include "app/program.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/setup_window.h"
#include "app/window_layout.h"
#include "common/unique_handle.h"
#include "install/messages.h"

namespace {

// Balances the UI thread's CoInitializeEx on every way out; a failed one is not balanced.
class ComApartment {
 public:
  ComApartment() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

// Keeps g_backgroundBrush for the life of the window and deletes it after the loop.
class BackgroundBrush {
 public:
  BackgroundBrush() : brush_(::CreateSolidBrush(kBackgroundColour)) {
    g_backgroundBrush = static_cast<HBRUSH>(brush_.get());
  }
  ~BackgroundBrush() { g_backgroundBrush = nullptr; }
  BackgroundBrush(const BackgroundBrush&) = delete;
  BackgroundBrush& operator=(const BackgroundBrush&) = delete;

 private:
  unique_gdi_object brush_;
};

}  // namespace

int RunSetupProgram(HINSTANCE instance, int showCommand) {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS;
  ::InitCommonControlsEx(&controls);

  ComApartment apartment;
  BackgroundBrush brush;
  if (RegisterSetupWindowClass(instance) == 0) return 1;

  RECT workArea = {};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
  const WindowOrigin origin = CenteredWindowOrigin(workArea.left, workArea.top, workArea.right,
                                                   workArea.bottom, kSetupWindowWidth, kSetupWindowHeight);

  g_setupWindow =
      ::CreateWindowExW(0, kSetupWindowClass.data(), kSetupWindowTitle.data(), kSetupWindowStyle, origin.x,
                        origin.y, kSetupWindowWidth, kSetupWindowHeight, nullptr, nullptr, instance, nullptr);
  if (g_setupWindow == nullptr) return 1;
  ::ShowWindow(g_setupWindow, showCommand);
  ::UpdateWindow(g_setupWindow);

  MSG message = {};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
