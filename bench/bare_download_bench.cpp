// The platform's ceiling for HttpDownload: a bare WinHTTP read loop with the same session and request
// options, 64 KiB reads and WriteFile to a file, no progress and no checks. Prints key=value figures.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: bare_download_bench <https url> <target file>\n");
    return 2;
  }
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(argv[1], 0, 0, &parts)) {
    std::fwprintf(stderr, L"bare_download_bench: bad url\n");
    return 2;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                            std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  LARGE_INTEGER frequency, start, stop;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  HINTERNET session = ::WinHttpOpen(L"FernquillSetup/1.0", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  ::WinHttpSetTimeouts(session, 5000, 5000, 15000, 15000);
  HINTERNET connection = ::WinHttpConnect(session, host.c_str(), parts.nPort, 0);
  HINTERNET request = ::WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
  DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  ::WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy, sizeof(redirectPolicy));
  DWORD responseTimeout = 15000;
  ::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                     sizeof(responseTimeout));
  if (request == nullptr ||
      !::WinHttpSendRequest(request, L"Cache-Control: no-cache\r\nPragma: no-cache\r\n",
                            static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !::WinHttpReceiveResponse(request, nullptr)) {
    std::fwprintf(stderr, L"bare_download_bench: request failed (%lu)\n", ::GetLastError());
    return 1;
  }
  HANDLE file =
      ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fwprintf(stderr, L"bare_download_bench: cannot create the file\n");
    return 1;
  }
  std::vector<char> buffer(65536);
  unsigned long long bytes = 0;
  for (;;) {
    DWORD count = 0;
    if (!::WinHttpReadData(request, buffer.data(), static_cast<DWORD>(buffer.size()), &count)) {
      std::fwprintf(stderr, L"bare_download_bench: read failed (%lu)\n", ::GetLastError());
      return 1;
    }
    if (count == 0) break;
    DWORD written = 0;
    if (!::WriteFile(file, buffer.data(), count, &written, nullptr) || written != count) {
      std::fwprintf(stderr, L"bare_download_bench: write failed\n");
      return 1;
    }
    bytes += count;
  }
  ::CloseHandle(file);
  ::WinHttpCloseHandle(request);
  ::WinHttpCloseHandle(connection);
  ::WinHttpCloseHandle(session);
  ::QueryPerformanceCounter(&stop);
  const double seconds =
      static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  std::printf("bytes=%llu seconds=%.3f mib_per_s=%.1f\n", bytes, seconds,
              static_cast<double>(bytes) / 1048576.0 / seconds);
  return 0;
}
