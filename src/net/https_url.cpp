// The https-only address check, on top of the platform's URL splitter.
#include "net/https_url.h"

#include <windows.h>
#include <winhttp.h>

#include "common/text.h"

namespace {

std::wstring Part(const wchar_t* text, DWORD length) {
  return text != nullptr ? std::wstring(text, length) : std::wstring();
}

}  // namespace

bool ParseHttpsUrl(const std::wstring& url, std::wstring& host, std::wstring& path, std::uint16_t& port,
                   std::wstring& error) {
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof(parts);
  // -1 with a null pointer: the splitter points into the url and reports each part's length.
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    error = L"Некорректный URL: " + WindowsErrorText();
    return false;
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTPS) {
    error = L"Fernquill Setup принимает только HTTPS.";
    return false;
  }

  std::wstring newPath = Part(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo != nullptr && parts.dwExtraInfoLength != 0) {
    newPath.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  }
  if (newPath.empty()) newPath = L"/";

  host = Part(parts.lpszHostName, parts.dwHostNameLength);
  path = std::move(newPath);
  port = parts.nPort;
  return true;
}
