// Download benchmark: one HttpDownload into a file, run on a worker thread while this thread pumps the
// progress messages, as in the installer. Prints throughput and the process's peak working set.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "equipment_log.h"
#include "install/messages.h"
#include "net/http_download.h"
#include "pumped_run.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: download_bench <https url> <target file>\n");
    return 2;
  }
  const std::wstring url = argv[1];
  const std::wstring target = argv[2];

  g_setupWindow = equipment::CreateMessageWindow(L"FernquillBenchWindow");
  if (g_setupWindow == nullptr) {
    std::fwprintf(stderr, L"download_bench: no window\n");
    return 1;
  }

  LARGE_INTEGER frequency, start, stop;
  ::QueryPerformanceFrequency(&frequency);
  bool ok = false;
  std::wstring error;
  unsigned long long progressMessages = 0;
  unsigned lastPercent = 0;
  ::QueryPerformanceCounter(&start);
  RunWhilePumping([&] { ok = HttpDownload(url, &target, nullptr, error, true); },
                  [&](const MSG& msg) {
                    if (msg.message == WM_SETUP_PROGRESS) {
                      ++progressMessages;
                      lastPercent = static_cast<unsigned>(msg.wParam);
                    }
                  });
  ::QueryPerformanceCounter(&stop);

  if (!ok) {
    std::fwprintf(stderr, L"download_bench: download failed\n");
    return 1;
  }
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  ::GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &attributes);
  const unsigned long long bytes =
      (static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
  const double seconds =
      static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);

  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof(memory);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));

  std::printf(
      "bytes=%llu seconds=%.3f mib_per_s=%.1f peak_working_set_kib=%llu progress_messages=%llu "
      "last_percent=%u\n",
      bytes, seconds, static_cast<double>(bytes) / 1048576.0 / seconds,
      static_cast<unsigned long long>(memory.PeakWorkingSetSize / 1024), progressMessages, lastPercent);
  return 0;
}
