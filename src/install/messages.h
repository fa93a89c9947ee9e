// The worker's private messages to the setup window and the two operations that post texts.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

inline constexpr UINT WM_SETUP_STATUS = WM_APP + 1;    // lParam: new std::wstring, owned by the receiver
inline constexpr UINT WM_SETUP_PROGRESS = WM_APP + 2;  // wParam: percent 0..100
inline constexpr UINT WM_SETUP_FINISHED = WM_APP + 3;  // wParam: 1 success, 0 failure

// Written once before any run starts, read from the worker afterwards.
extern HWND g_setupWindow;

// Moves the text into a heap object and posts it; the caller's string is left empty.
void PostStatus(std::wstring& text);
void PostStatus(std::wstring&& text);

// The receiving side of PostStatus: takes over the text of a WM_SETUP_STATUS lParam (null for none).
std::unique_ptr<std::wstring> TakeStatusText(LPARAM lParam);

void PostProgress(unsigned percent);

// The ending of a run that ran out of memory.
inline constexpr wchar_t kOutOfMemoryText[] = L"Не хватило памяти. Установка прервана.";

// Posts the final text and WM_SETUP_FINISHED, then balances the worker's CoInitializeEx. Never throws:
// when the text cannot be copied, the run ends as FinishRunOutOfMemory ends it.
void FinishRun(HRESULT comInitResult, bool success, const std::wstring& text,
               std::unique_ptr<std::wstring> outOfMemoryText = nullptr) noexcept;

// FinishRun with the final text already in the object that is posted: nothing is left to allocate.
void FinishRun(HRESULT comInitResult, bool success, std::unique_ptr<std::wstring> textObject) noexcept;

// Ends a run that failed for want of memory: kOutOfMemoryText (the object reserved for it, or a new one,
// or none when even that cannot be had), WM_SETUP_FINISHED with 0, then CoUninitialize as FinishRun.
void FinishRunOutOfMemory(HRESULT comInitResult,
                          std::unique_ptr<std::wstring> outOfMemoryText = nullptr) noexcept;
