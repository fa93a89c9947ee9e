// Line-based key=value parsing of latest.txt.
#include "install/manifest.h"

#include "common/text.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::wstring_view kHttpsPrefix = L"https://";
constexpr std::size_t kDigestLength = 64;

void ApplyLine(std::string_view line, UpdateManifest& manifest) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty()) return;
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;

  const std::wstring key = ToLowerText(TrimWhitespace(Utf8ToWide(line.substr(0, equals))));
  std::wstring value = TrimWhitespace(Utf8ToWide(line.substr(equals + 1)));
  if (key == L"version") {
    manifest.version = std::move(value);
  } else if (key == L"url") {
    manifest.url = std::move(value);
  } else if (key == L"sha256") {
    manifest.sha256 = ToLowerText(std::move(value));
  }
}

}  // namespace

bool ParseManifest(std::string_view body, UpdateManifest& manifest) {
  if (body.size() >= kByteOrderMark.size() && body.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    body.remove_prefix(kByteOrderMark.size());
  }
  while (!body.empty()) {
    const std::size_t end = body.find('\n');
    ApplyLine(body.substr(0, end), manifest);
    if (end == std::string_view::npos) break;
    body.remove_prefix(end + 1);
  }
  return !manifest.version.empty() && manifest.url.size() >= kHttpsPrefix.size() &&
         std::wstring_view(manifest.url).substr(0, kHttpsPrefix.size()) == kHttpsPrefix &&
         manifest.sha256.size() == kDigestLength;
}
