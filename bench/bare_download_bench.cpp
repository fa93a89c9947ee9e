// The platform's ceiling for HttpDownload: a bare WinHTTP read loop with the same session and request
// options, 64 KiB reads and WriteFile to a file, no progress and no checks. With --post, the loop runs
// on a second thread and posts one message per read to a window that this thread pumps, as the
// installer's progress does: the platform's cost of that message. Prints key=value figures.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <string>
#include <vector>

#include "equipment_log.h"
#include "install/messages.h"
#include "pumped_run.h"

namespace {

// The whole request into the file; after each read a message to window when there is one.
bool Download(const std::wstring& host, INTERNET_PORT port, const std::wstring& path, const wchar_t* target,
              HWND window, unsigned long long& bytes) {
  HINTERNET session = ::WinHttpOpen(L"FernquillSetup/1.0", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  ::WinHttpSetTimeouts(session, 5000, 5000, 15000, 15000);
  HINTERNET connection = ::WinHttpConnect(session, host.c_str(), port, 0);
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
    return false;
  }
  HANDLE file =
      ::CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fwprintf(stderr, L"bare_download_bench: cannot create the file\n");
    return false;
  }
  std::vector<char> buffer(65536);
  bool ok = true;
  for (;;) {
    DWORD count = 0;
    if (!::WinHttpReadData(request, buffer.data(), static_cast<DWORD>(buffer.size()), &count)) {
      std::fwprintf(stderr, L"bare_download_bench: read failed (%lu)\n", ::GetLastError());
      ok = false;
      break;
    }
    if (count == 0) break;
    DWORD written = 0;
    if (!::WriteFile(file, buffer.data(), count, &written, nullptr) || written != count) {
      std::fwprintf(stderr, L"bare_download_bench: write failed\n");
      ok = false;
      break;
    }
    bytes += count;
    if (window != nullptr) ::PostMessageW(window, WM_SETUP_PROGRESS, 0, 0);
  }
  ::CloseHandle(file);
  ::WinHttpCloseHandle(request);
  ::WinHttpCloseHandle(connection);
  ::WinHttpCloseHandle(session);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool post = argc == 4 && std::wstring(argv[3]) == L"--post";
  if (argc != 3 && !post) {
    std::fwprintf(stderr, L"usage: bare_download_bench <https url> <target file> [--post]\n");
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
  const HWND window = post ? equipment::CreateMessageWindow(L"FernquillBareBenchWindow") : nullptr;
  if (post && window == nullptr) {
    std::fwprintf(stderr, L"bare_download_bench: no window\n");
    return 1;
  }

  LARGE_INTEGER frequency, start, stop;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  unsigned long long bytes = 0;
  unsigned long long messages = 0;
  bool ok = false;
  if (post) {
    RunWhilePumping([&] { ok = Download(host, parts.nPort, path, argv[2], window, bytes); },
                    [&](const MSG& msg) { messages += msg.message == WM_SETUP_PROGRESS; });
  } else {
    ok = Download(host, parts.nPort, path, argv[2], nullptr, bytes);
  }
  ::QueryPerformanceCounter(&stop);
  if (!ok) return 1;
  const double seconds =
      static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  std::printf("bytes=%llu seconds=%.3f mib_per_s=%.1f messages=%llu\n", bytes, seconds,
              static_cast<double>(bytes) / 1048576.0 / seconds, messages);
  return 0;
}
