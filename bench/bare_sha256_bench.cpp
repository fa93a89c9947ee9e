// The platform's ceiling for ComputeFileSha256: a bare CNG loop over ReadFile in 64 KiB chunks.
// Usage: bare_sha256_bench <file> [repeats]; prints key=value figures like sha256_bench.
#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: bare_sha256_bench <file> [repeats]\n");
    return 2;
  }
  const int repeats = argc > 2 ? static_cast<int>(std::wcstol(argv[2], nullptr, 10)) : 1;
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  double best = 0;
  unsigned long long bytes = 0;
  UCHAR digest[32] = {};
  std::vector<char> buffer(65536);
  for (int round = 0; round < (repeats < 1 ? 1 : repeats); ++round) {
    LARGE_INTEGER start, stop;
    ::QueryPerformanceCounter(&start);
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    DWORD objectLength = 0;
    ULONG resultSize = 0;
    ::BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    ::BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                        sizeof(objectLength), &resultSize, 0);
    std::vector<UCHAR> object(objectLength);
    if (::BCryptCreateHash(provider, &hash, object.data(), objectLength, nullptr, 0, 0) < 0) {
      std::fwprintf(stderr, L"bare_sha256_bench: no hash\n");
      return 1;
    }
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      std::fwprintf(stderr, L"bare_sha256_bench: cannot open the file\n");
      return 1;
    }
    bytes = 0;
    DWORD count = 0;
    while (::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr) && count > 0) {
      ::BCryptHashData(hash, reinterpret_cast<PUCHAR>(buffer.data()), count, 0);
      bytes += count;
    }
    ::CloseHandle(file);
    ::BCryptFinishHash(hash, digest, sizeof(digest), 0);
    ::BCryptDestroyHash(hash);
    ::BCryptCloseAlgorithmProvider(provider, 0);
    ::QueryPerformanceCounter(&stop);
    const double seconds =
        static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    if (round == 0 || seconds < best) best = seconds;
  }
  char hex[65] = {};
  for (int i = 0; i < 32; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  std::printf("bytes=%llu repeats=%d best_seconds=%.4f mib_per_second=%.1f digest=%s\n", bytes, repeats, best,
              best > 0 ? static_cast<double>(bytes) / 1048576.0 / best : 0.0, hex);
  return 0;
}
