// The tests' side of the local HTTPS update server: its addresses, its www folder, what it was sent.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace test_server {

// The server's listeners; all answer on host localhost with the same content.
enum class Listener {
  kTrusted,      // certificate from the test CA the prefix trusts
  kFixedPort,    // the same, on the fixed port builds with a fixed update host are compiled against
  kUntrustedCa,  // certificate for localhost from a CA nobody trusts
  kWrongHost,    // trusted CA, but the certificate names another host
  kExpired,      // trusted CA and host, but expired
  kPlainHttp,    // no TLS at all
};

// Throws when the server is not running (start it with the update_server fixture of ctest).
std::uint16_t Port(Listener listener = Listener::kTrusted);

// "https://localhost:<port>" followed by path ("http://" for kPlainHttp); path begins with '/'.
std::wstring Url(const std::wstring& path, Listener listener = Listener::kTrusted);

// The folder the server serves files from, as a Windows path; a file at www\a\b is served at /a/b.
std::filesystem::path WwwRoot();

// What the server generates for /_/bytes/<size>: byte i is i % 251.
std::string GeneratedBytes(std::size_t size);

struct RecordedRequest {
  std::string listener;  // "trusted", "fixed", "http", ...
  std::string method;
  std::string target;  // exactly as in the request line
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers;  // in the order received

  // Values of every header of this name (compared without case), in order.
  std::vector<std::string> HeaderValues(const std::string& name) const;
};

// Every request whose path began with /tok-<token>, in arrival order.
std::vector<RecordedRequest> RequestsFor(const std::wstring& token);

// One test's own part of the server: a unique token, its folder under the www root (removed at the
// end) and its own request log.
class Site {
 public:
  Site();
  ~Site();
  Site(const Site&) = delete;
  Site& operator=(const Site&) = delete;

  const std::wstring& token() const { return token_; }
  // "/tok-<token>" followed by rest, which begins with '/': a static file of this site, or "/_/...".
  std::wstring Path(const std::wstring& rest) const;
  std::wstring Url(const std::wstring& rest, Listener listener = Listener::kTrusted) const;
  // Writes a file that Url(L"/" + name) serves; name may contain folders, and spaces (as %20 in the url).
  std::filesystem::path Publish(const std::wstring& name, const std::string& bytes) const;
  std::vector<RecordedRequest> Requests() const;

 private:
  std::wstring token_;
  std::filesystem::path folder_;
};

}  // namespace test_server
