// Reads what the running update server wrote into the build tree: its ports and its request logs.
#include "test_server.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cctype>
#include <cwchar>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>

#include "test_support.h"

namespace test_server {
namespace {

std::filesystem::path StateDir() { return std::filesystem::path(test_support::BuildDir()) / L"server"; }

const char* ListenerName(Listener listener) {
  switch (listener) {
    case Listener::kTrusted:
      return "trusted";
    case Listener::kFixedPort:
      return "fixed";
    case Listener::kUntrustedCa:
      return "untrusted-ca";
    case Listener::kWrongHost:
      return "wrong-host";
    case Listener::kExpired:
      return "expired";
    case Listener::kPlainHttp:
      return "http";
  }
  return "";
}

std::map<std::string, unsigned> ReadPorts() {
  const std::filesystem::path file = StateDir() / L"ports";
  std::ifstream in(file);
  if (!in) {
    throw std::runtime_error("the update server is not running (no " + file.string() +
                             "): run the tests through ctest, which starts it as the update_server fixture");
  }
  std::map<std::string, unsigned> ports;
  std::string name;
  unsigned port = 0;
  while (in >> name >> port) ports[name] = port;
  return ports;
}

bool EqualsNoCase(const std::string& left, const std::string& right) {
  if (left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(left[i])) !=
        std::tolower(static_cast<unsigned char>(right[i])))
      return false;
  }
  return true;
}

// Test names make tokens readable in the logs; only the token alphabet of the server is kept.
std::wstring TokenStem() {
  std::string name = "t";
  if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
    name = std::string(info->test_suite_name()) + "." + info->name();
  }
  std::wstring stem;
  for (char c : name) {
    const bool allowed = std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-';
    stem.push_back(allowed ? static_cast<wchar_t>(c) : L'_');
  }
  return stem.substr(0, 60);
}

}  // namespace

std::uint16_t Port(Listener listener) {
  static const std::map<std::string, unsigned> ports = ReadPorts();
  const auto found = ports.find(ListenerName(listener));
  if (found == ports.end() || found->second == 0 || found->second > 65535) {
    throw std::runtime_error(std::string("the update server has no ") + ListenerName(listener) +
                             " listener (see " + (StateDir() / L"server.log").string() + ")");
  }
  return static_cast<std::uint16_t>(found->second);
}

std::wstring Url(const std::wstring& path, Listener listener) {
  const wchar_t* scheme = listener == Listener::kPlainHttp ? L"http://" : L"https://";
  return scheme + std::wstring(L"localhost:") + std::to_wstring(Port(listener)) + path;
}

std::filesystem::path WwwRoot() { return StateDir() / L"www"; }

std::string GeneratedBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

std::vector<std::string> RecordedRequest::HeaderValues(const std::string& name) const {
  std::vector<std::string> values;
  for (const auto& header : headers) {
    if (EqualsNoCase(header.first, name)) values.push_back(header.second);
  }
  return values;
}

std::vector<RecordedRequest> RequestsFor(const std::wstring& token) {
  std::vector<RecordedRequest> requests;
  std::ifstream in(StateDir() / L"requests" / (token + L".log"), std::ios::binary);
  std::string line;
  RecordedRequest* current = nullptr;
  bool expectRequestLine = false;
  while (std::getline(in, line)) {
    if (line.rfind("@ ", 0) == 0) {
      requests.emplace_back();
      current = &requests.back();
      current->listener = line.substr(2);
      expectRequestLine = true;
    } else if (current != nullptr && expectRequestLine) {
      std::istringstream parts(line);
      parts >> current->method >> current->target >> current->version;
      expectRequestLine = false;
    } else if (current != nullptr) {
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::size_t valueStart = colon + 1;
      while (valueStart < line.size() && line[valueStart] == ' ') ++valueStart;
      current->headers.emplace_back(line.substr(0, colon), line.substr(valueStart));
    }
  }
  return requests;
}

Site::Site() {
  static std::atomic<unsigned> counter{0};
  // Wine reuses small process ids from run to run, so the id alone would not keep logs apart.
  static std::random_device random;
  wchar_t unique[32];
  std::swprintf(unique, 32, L"%08x%08x", static_cast<unsigned>(random()), static_cast<unsigned>(random()));
  token_ = TokenStem() + L"-" + unique + L"-" + std::to_wstring(counter++);
  folder_ = WwwRoot() / (L"tok-" + token_);
}

Site::~Site() {
  std::error_code error;
  std::filesystem::remove_all(folder_, error);
}

std::wstring Site::Path(const std::wstring& rest) const { return L"/tok-" + token_ + rest; }

std::wstring Site::Url(const std::wstring& rest, Listener listener) const {
  return test_server::Url(Path(rest), listener);
}

std::filesystem::path Site::Publish(const std::wstring& name, const std::string& bytes) const {
  const std::filesystem::path file = folder_ / name;
  std::filesystem::create_directories(file.parent_path());
  test_support::WriteFile(file, bytes);
  return file;
}

std::vector<RecordedRequest> Site::Requests() const { return RequestsFor(token_); }

}  // namespace test_server
