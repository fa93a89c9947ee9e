// What PostStatus and FinishRun deliver to a real window, in which order, and how COM is balanced.
#include "install/messages.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <initializer_list>
#include <thread>

#include "test_support.h"

namespace {

using test_support::MessageRecorder;

TEST(PostStatus, HandsTheTextToTheWindowAndEmptiesTheCallersString) {
  MessageRecorder recorder;
  std::wstring text = L"\u041F\u043E\u043B\u0443\u0447\u0430\u0435\u043C...\r\nline two";
  const std::wstring expected = text;
  PostStatus(text);
  EXPECT_TRUE(text.empty());

  const auto messages = recorder.Drain();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].message, WM_SETUP_STATUS);
  EXPECT_EQ(messages[0].wParam, 0u);
  ASSERT_TRUE(messages[0].hasText);
  EXPECT_EQ(messages[0].text, expected);
}

TEST(PostStatus, ALongTextArrivesWhole) {
  MessageRecorder recorder;
  std::wstring text(100000, L'x');
  PostStatus(std::wstring(text));
  const auto messages = recorder.Drain();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, text);
}

TEST(PostStatus, ToADestroyedWindowIsNotNoticed) {
  MessageRecorder recorder;
  HWND gone = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(gone, nullptr);
  ::DestroyWindow(gone);
  g_setupWindow = gone;
  std::wstring text = L"lost";
  PostStatus(text);  // the object is freed by the sender: nobody else can
  EXPECT_TRUE(text.empty());
  g_setupWindow = recorder.window();
  EXPECT_TRUE(recorder.Drain().empty());
}

TEST(FinishRun, PostsTheTextThenTheEndAndKeepsTheCallersText) {
  const struct {
    bool success;
    WPARAM flag;
  } cases[] = {{true, 1}, {false, 0}};
  for (const auto& c : cases) {
    MessageRecorder recorder;
    const std::wstring text = L"\u0413\u043E\u0442\u043E\u0432\u043E.";
    FinishRun(E_FAIL, c.success, text);
    EXPECT_EQ(text, L"\u0413\u043E\u0442\u043E\u0432\u043E.");

    const auto messages = recorder.Drain();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].message, WM_SETUP_STATUS);
    EXPECT_EQ(messages[0].text, text);
    EXPECT_EQ(messages[1].message, WM_SETUP_FINISHED);
    EXPECT_EQ(messages[1].wParam, c.flag);
  }
}

TEST(FinishRun, ProgressAndTextsKeepThePostingOrder) {
  MessageRecorder recorder;
  PostProgress(0);
  PostStatus(L"a");
  PostProgress(100);
  FinishRun(E_FAIL, false, L"b");
  const auto messages = recorder.Drain();
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[0].message, WM_SETUP_PROGRESS);
  EXPECT_EQ(messages[0].wParam, 0u);
  EXPECT_EQ(messages[1].text, L"a");
  EXPECT_EQ(messages[2].message, WM_SETUP_PROGRESS);
  EXPECT_EQ(messages[2].wParam, 100u);
  EXPECT_EQ(messages[3].text, L"b");
  EXPECT_EQ(messages[4].message, WM_SETUP_FINISHED);
}

// On a fresh thread: initialises COM in the given modes, ends the run with the last result, and
// returns what one more CoInitializeEx in the probe mode says about the apartment left behind.
HRESULT ProbeAfterFinishRun(std::initializer_list<DWORD> initModes, DWORD probeMode) {
  HRESULT probe = E_UNEXPECTED;
  std::thread([&] {
    HRESULT last = E_UNEXPECTED;
    for (DWORD mode : initModes) last = ::CoInitializeEx(nullptr, mode);
    FinishRun(last, true, L"x");
    probe = ::CoInitializeEx(nullptr, probeMode);
  }).join();
  return probe;
}

TEST(FinishRun, UninitialisesComOnlyWhenInitialisationSucceeded) {
  MessageRecorder recorder;
  // S_OK: balanced, so the thread has no apartment any more and a new one is made.
  EXPECT_EQ(ProbeAfterFinishRun({COINIT_APARTMENTTHREADED}, COINIT_APARTMENTTHREADED), S_OK);
  // S_FALSE (second initialisation): one of two is undone, the apartment stays.
  EXPECT_EQ(ProbeAfterFinishRun({COINIT_APARTMENTTHREADED, COINIT_APARTMENTTHREADED},
                                COINIT_APARTMENTTHREADED),
            S_FALSE);
  // RPC_E_CHANGED_MODE: nothing was added, so nothing is undone and the MTA stays.
  EXPECT_EQ(ProbeAfterFinishRun({COINIT_MULTITHREADED, COINIT_APARTMENTTHREADED}, COINIT_MULTITHREADED),
            S_FALSE);
}

}  // namespace
