// Posting status, progress and the end of a run to the setup window.
#include "install/messages.h"

#include <objbase.h>

#include <memory>

HWND g_setupWindow = nullptr;

// The analyzer cannot follow the text into the window's hands through LPARAM, and calls it a leak.
// NOLINTBEGIN(clang-analyzer-cplusplus.NewDeleteLeaks)
void PostStatus(std::wstring& text) {
  auto object = std::make_unique<std::wstring>(std::move(text));
  text.clear();
  if (::PostMessageW(g_setupWindow, WM_SETUP_STATUS, 0, reinterpret_cast<LPARAM>(object.get()))) {
    static_cast<void>(object.release());  // the window owns it now
  }
}
// NOLINTEND(clang-analyzer-cplusplus.NewDeleteLeaks)

void PostStatus(std::wstring&& text) { PostStatus(text); }

std::unique_ptr<std::wstring> TakeStatusText(LPARAM lParam) {
  return std::unique_ptr<std::wstring>(reinterpret_cast<std::wstring*>(lParam));
}

void PostProgress(unsigned percent) {
  ::PostMessageW(g_setupWindow, WM_SETUP_PROGRESS, static_cast<WPARAM>(percent), 0);
}

void FinishRun(HRESULT comInitResult, bool success, const std::wstring& text) {
  PostStatus(std::wstring(text));
  ::PostMessageW(g_setupWindow, WM_SETUP_FINISHED, success ? 1 : 0, 0);
  if (SUCCEEDED(comInitResult)) ::CoUninitialize();
}
