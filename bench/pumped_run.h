// Work on a second thread while the calling thread pumps its messages, as the installer's worker and
// window run; shared by the download benchmarks.
#pragma once

#include <windows.h>

#include <thread>

// onMessage sees each message of the calling thread before it is dispatched; returns once work has ended.
template <typename Work, typename OnMessage>
void RunWhilePumping(Work work, OnMessage onMessage) {
  constexpr UINT kWorkEnded = WM_APP + 100;
  const DWORD pumpingThread = ::GetCurrentThreadId();
  std::thread worker([&] {
    work();
    ::PostThreadMessageW(pumpingThread, kWorkEnded, 0, 0);
  });
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.hwnd == nullptr && msg.message == kWorkEnded) break;
    onMessage(msg);
    ::DispatchMessageW(&msg);
  }
  worker.join();
}
