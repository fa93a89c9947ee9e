// Time from starting the installer to its window being visible, over several starts; prints key=value
// figures. Usage: window_start_bench <installer exe> [starts]. One start before the measured ones warms
// the caches and is not counted.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "common/unique_handle.h"
#include "setup_window_driver.h"

namespace {

constexpr double kGiveUpMs = 60000;
constexpr DWORD kCloseWaitMs = 10000;

double MillisecondsSince(const LARGE_INTEGER& start, const LARGE_INTEGER& frequency) {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
         static_cast<double>(frequency.QuadPart);
}

// One start: milliseconds until the window is visible, or a negative value when it never was.
double MeasureOneStart(const std::wstring& installer, bool& closedByForce) {
  std::wstring commandLine = L"\"" + installer + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  LARGE_INTEGER frequency, start;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  if (!::CreateProcessW(installer.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return -1;
  }
  unique_kernel_handle process(info.hProcess);
  unique_kernel_handle thread(info.hThread);

  double elapsed = -1;
  HWND window = nullptr;
  for (;;) {
    window = setup_driver::FindSetupWindow(info.dwProcessId);
    const double now = MillisecondsSince(start, frequency);
    if (window != nullptr) {
      elapsed = now;
      break;
    }
    if (now > kGiveUpMs || ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) break;
    ::Sleep(1);
  }

  if (window != nullptr) ::PostMessageW(window, WM_CLOSE, 0, 0);
  closedByForce = ::WaitForSingleObject(process.get(), kCloseWaitMs) != WAIT_OBJECT_0;
  if (closedByForce) {
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), kCloseWaitMs);
  }
  return elapsed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || argc > 3) {
    std::fwprintf(stderr, L"usage: window_start_bench <installer exe> [starts]\n");
    return 2;
  }
  const std::wstring installer = argv[1];
  const int starts = argc == 3 ? std::max(1, _wtoi(argv[2])) : 7;

  std::vector<double> times;
  int forced = 0;
  for (int i = 0; i <= starts; ++i) {
    bool closedByForce = false;
    const double ms = MeasureOneStart(installer, closedByForce);
    if (closedByForce) ++forced;
    if (ms < 0) {
      std::fwprintf(stderr, L"window_start_bench: no visible %ls window on start %d\n",
                    kSetupWindowClass.data(), i);
      return 1;
    }
    if (i > 0) times.push_back(ms);  // the first start only warms up
  }
  std::vector<double> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  const std::size_t n = sorted.size();
  const double median = n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;

  std::printf("starts=%d median_ms=%.0f min_ms=%.0f max_ms=%.0f closed_by_force=%d all_ms=", starts, median,
              sorted.front(), sorted.back(), forced);
  for (std::size_t i = 0; i < times.size(); ++i) std::printf(i == 0 ? "%.0f" : ",%.0f", times[i]);
  std::printf("\n");
  return 0;
}
