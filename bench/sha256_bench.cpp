// Throughput and peak working set of ComputeFileSha256 on one file; prints key=value figures.
//
// Usage: sha256_bench <file> [repeats]. The peak working set covers the whole process, so run one file
// per process; the peak before the first call is printed as well.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <string>

#include "package/sha256.h"

namespace {

unsigned long long PeakWorkingSetBytes() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) return 0;
  return counters.PeakWorkingSetSize;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  if (argc < 2) {
    std::fputs("usage: sha256_bench <file> [repeats]\n", stderr);
    return 2;
  }
  const std::wstring path = argv[1];
  const int repeats = argc > 2 ? std::max(1, static_cast<int>(std::wcstol(argv[2], nullptr, 10))) : 1;
  std::error_code sizeError;
  const unsigned long long bytes = std::filesystem::file_size(path, sizeError);
  if (sizeError) {
    std::fputs("cannot read the size of the file\n", stderr);
    return 2;
  }

  const unsigned long long baselinePeak = PeakWorkingSetBytes();
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  double best = 0;
  std::wstring digest;
  for (int i = 0; i < repeats; ++i) {
    std::wstring error;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    ::QueryPerformanceCounter(&start);
    const bool ok = ComputeFileSha256(path, digest, error);
    ::QueryPerformanceCounter(&end);
    if (!ok) {
      std::fputs("ComputeFileSha256 failed\n", stderr);
      return 1;
    }
    const double seconds = Seconds(start, end, frequency);
    if (i == 0 || seconds < best) best = seconds;
  }
  const unsigned long long peak = PeakWorkingSetBytes();
  const std::string digestText(digest.begin(), digest.end());  // hex digits only

  std::printf(
      "bytes=%llu repeats=%d best_seconds=%.4f mib_per_second=%.1f peak_working_set=%llu "
      "peak_before_first_call=%llu digest=%s\n",
      bytes, repeats, best, best > 0 ? static_cast<double>(bytes) / (1024.0 * 1024.0) / best : 0.0, peak,
      baselinePeak, digestText.c_str());
  return 0;
}
