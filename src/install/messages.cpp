// Posting status, progress and the end of a run to the setup window.
#include "install/messages.h"

#include <objbase.h>

#include <memory>
#include <new>
#include <utility>

HWND g_setupWindow = nullptr;

// The analyzer cannot follow the text into the window's hands through LPARAM, and calls it a leak.
// NOLINTBEGIN(clang-analyzer-cplusplus.NewDeleteLeaks)
namespace {

std::unique_ptr<std::wstring> NewText(const wchar_t* text) noexcept {
  try {
    return std::make_unique<std::wstring>(text);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void PostTextObject(std::unique_ptr<std::wstring> object) noexcept {
  if (object && ::PostMessageW(g_setupWindow, WM_SETUP_STATUS, 0, reinterpret_cast<LPARAM>(object.get()))) {
    static_cast<void>(object.release());  // the window owns it now
  }
}

void PostFinishedAndUninitialize(HRESULT comInitResult, bool success) noexcept {
  ::PostMessageW(g_setupWindow, WM_SETUP_FINISHED, success ? 1 : 0, 0);
  if (SUCCEEDED(comInitResult)) ::CoUninitialize();
}

}  // namespace

void PostStatus(std::wstring& text) {
  auto object = std::make_unique<std::wstring>(std::move(text));
  text.clear();
  PostTextObject(std::move(object));
}
// NOLINTEND(clang-analyzer-cplusplus.NewDeleteLeaks)

void PostStatus(std::wstring&& text) { PostStatus(text); }

std::unique_ptr<std::wstring> TakeStatusText(LPARAM lParam) {
  return std::unique_ptr<std::wstring>(reinterpret_cast<std::wstring*>(lParam));
}

void PostProgress(unsigned percent) {
  ::PostMessageW(g_setupWindow, WM_SETUP_PROGRESS, static_cast<WPARAM>(percent), 0);
}

void FinishRun(HRESULT comInitResult, bool success, const std::wstring& text,
               std::unique_ptr<std::wstring> outOfMemoryText) noexcept {
  std::unique_ptr<std::wstring> object;
  try {
    object = std::make_unique<std::wstring>(text);
  } catch (const std::bad_alloc&) {
    // The window must not show an ending the worker could not say; this one it can.
    return FinishRunOutOfMemory(comInitResult, std::move(outOfMemoryText));
  }
  FinishRun(comInitResult, success, std::move(object));
}

void FinishRun(HRESULT comInitResult, bool success, std::unique_ptr<std::wstring> textObject) noexcept {
  PostTextObject(std::move(textObject));
  PostFinishedAndUninitialize(comInitResult, success);
}

void FinishRunOutOfMemory(HRESULT comInitResult, std::unique_ptr<std::wstring> outOfMemoryText) noexcept {
  PostTextObject(outOfMemoryText ? std::move(outOfMemoryText) : NewText(kOutOfMemoryText));
  PostFinishedAndUninitialize(comInitResult, false);
}
