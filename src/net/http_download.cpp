// HttpDownload on WinHTTP: one synchronous session, connection and request per call.
#include "net/http_download.h"

#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/text.h"
#include "common/unique_handle.h"
#include "install/messages.h"
#include "net/https_url.h"

namespace {

constexpr wchar_t kUserAgent[] = L"FernquillSetup/1.0";
constexpr wchar_t kNoCacheHeaders[] = L"Cache-Control: no-cache\r\nPragma: no-cache\r\n";
constexpr int kResolveTimeoutMs = 5000;
constexpr int kConnectTimeoutMs = 5000;
constexpr int kSendTimeoutMs = 15000;
constexpr int kReceiveTimeoutMs = 15000;
constexpr DWORD kBufferSize = 65536;
constexpr wchar_t kBodyTooLarge[] = L"Ответ сервера слишком велик.";

// Deletes a file that was only partly written, once the stream on it has been closed. Declared before
// the stream, so that it runs after the stream's own destructor.
class PartialFileRemover {
 public:
  void Arm(const std::wstring& path) { path_ = path; }
  ~PartialFileRemover() {
    if (!path_.empty()) ::DeleteFileW(path_.c_str());  // a failure to delete is not reported
  }

 private:
  std::wstring path_;
};

// Where the bytes of the body go. A per-destination rule (such as a size cap) belongs in Deliver.
struct BodySinks {
  std::ofstream* file = nullptr;
  std::string* body = nullptr;
  std::uint64_t bodyLimit = kNoBodyLimit;

  bool Deliver(const char* data, std::size_t size, std::wstring& error) const {
    // Tested before anything is written, so that the string never holds more than the limit.
    if (body != nullptr && ExceedsBodyLimit(body->size(), size, bodyLimit)) {
      error = kBodyTooLarge;
      return false;
    }
    if (file != nullptr) {
      file->write(data, static_cast<std::streamsize>(size));
      if (!*file) {
        error = L"Ошибка записи загруженного файла.";
        return false;
      }
    }
    if (body != nullptr) body->append(data, size);
    return true;
  }

  // What the stream still buffers must reach the file before the download counts as done.
  bool Finish(std::wstring& error) const {
    if (file != nullptr && !file->flush()) {
      error = L"Ошибка записи загруженного файла.";
      return false;
    }
    return true;
  }
};

std::uint64_t QueryContentLength(HINTERNET request) {
  wchar_t text[64] = {};
  DWORD size = sizeof(text);
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  text[63] = L'\0';
  return ParseContentLength(text);
}

// Reads the body to its end into the sinks. On failure error is set and the caller discards the file.
bool TransferBody(HINTERNET request, const BodySinks& sinks, std::uint64_t announced, bool reportProgress,
                  std::wstring& error) {
  std::vector<char> buffer(kBufferSize);
  std::uint64_t received = 0;
  for (;;) {
    DWORD count = 0;
    if (!::WinHttpReadData(request, buffer.data(), kBufferSize, &count)) {
      error = L"Ошибка чтения загрузки: " + WindowsErrorText();
      return false;
    }
    if (count == 0) break;
    if (!sinks.Deliver(buffer.data(), count, error)) return false;
    received += count;
    if (reportProgress && announced != 0) PostProgress(ProgressPercent(received, announced));
  }
  // WinHTTP ends a body cut short by a plain close with a 0-byte read, as if it were complete.
  if (IsBodyShort(received, announced)) {
    error = L"Ошибка чтения загрузки: " + WindowsErrorTextFor(ERROR_WINHTTP_CONNECTION_ERROR);
    return false;
  }
  return sinks.Finish(error);
}

}  // namespace

bool IsSuccessStatus(std::uint32_t status) { return status >= 200 && status <= 299; }

std::uint64_t ParseContentLength(const wchar_t* text) {
  return static_cast<std::uint64_t>(std::wcstoull(text, nullptr, 10));
}

unsigned ProgressPercent(std::uint64_t received, std::uint64_t announced) {
  if (received >= announced) return 100;
  return static_cast<unsigned>(received * 100 / announced);
}

bool IsBodyShort(std::uint64_t received, std::uint64_t announced) {
  return announced != 0 && received < announced;
}

bool ExceedsBodyLimit(std::uint64_t held, std::uint64_t size, std::uint64_t limit) {
  return size > limit || held > limit - size;
}

bool HttpDownload(const std::wstring& url, const std::wstring* targetFile, std::string* body,
                  std::wstring& error, bool reportProgress, std::uint64_t bodyLimit) {
  std::wstring host;
  std::wstring path;
  std::uint16_t port = 0;
  if (!ParseHttpsUrl(url, host, path, port, error)) return false;

  // Release order on every path is the reverse of this: request, connection, session, then the file
  // is closed, then a partial file is deleted.
  PartialFileRemover partialFile;
  std::ofstream file;

  unique_internet_handle session(::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    error = L"WinHttpOpen: " + WindowsErrorText();
    return false;
  }
  ::WinHttpSetTimeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                       kReceiveTimeoutMs);

  unique_internet_handle connection(::WinHttpConnect(session.get(), host.c_str(), port, 0));
  if (!connection) {
    error = L"WinHttpConnect: " + WindowsErrorText();
    return false;
  }

  unique_internet_handle request(::WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                      WINHTTP_FLAG_SECURE));
  if (!request) {
    error = L"WinHttpOpenRequest: " + WindowsErrorText();
    return false;
  }
  DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  ::WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy, sizeof(redirectPolicy));
  // The session's receive limit does not cover the wait for the response headers everywhere.
  DWORD responseTimeout = kReceiveTimeoutMs;
  ::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                     sizeof(responseTimeout));

  if (!::WinHttpSendRequest(request.get(), kNoCacheHeaders, static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA,
                            0, 0, 0) ||
      !::WinHttpReceiveResponse(request.get(), nullptr)) {
    error = L"Не удалось скачать файл: " + WindowsErrorText();
    return false;
  }

  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
    error = L"Не удалось скачать файл: " + WindowsErrorText();
    return false;
  }
  if (!IsSuccessStatus(status)) {
    error = L"Сервер вернул HTTP " + std::to_wstring(status);
    return false;
  }

  const std::uint64_t announced = QueryContentLength(request.get());
  if (body != nullptr && ExceedsBodyLimit(0, announced, bodyLimit)) {
    error = kBodyTooLarge;
    return false;
  }

  BodySinks sinks;
  if (targetFile != nullptr) {
    file.open(std::filesystem::path(*targetFile), std::ios::binary | std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
      error = L"Не удалось создать временный файл.";
      return false;
    }
    sinks.file = &file;
  }
  if (body != nullptr) {
    body->clear();
    sinks.body = body;
    sinks.bodyLimit = bodyLimit;
  }

  if (!TransferBody(request.get(), sinks, announced, reportProgress, error)) {
    if (targetFile != nullptr) partialFile.Arm(*targetFile);
    return false;
  }
  return true;
}
