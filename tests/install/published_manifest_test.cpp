// A latest.txt written by scripts/publish.py at build time reads back as what was published.
#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "install/manifest.h"
#include "test_support.h"

namespace {

std::wstring PublishedFile(const std::wstring& name) {
  return test_support::BuildDir() + L"\\" + Utf8ToWide(PUBLISHED_DIR) + L"\\" + name;
}

TEST(PublishedManifest, ReadsBackAsPublished) {
  const std::string body = test_support::ReadFile(PublishedFile(L"latest.txt"));
  const std::string digestLine = test_support::ReadFile(PublishedFile(L"package.sha256"));
  ASSERT_GE(digestLine.size(), 64u);
  const std::wstring digest = Utf8ToWide(digestLine.substr(0, 64));

  UpdateManifest manifest;
  ASSERT_TRUE(ParseManifest(body, manifest)) << body;
  EXPECT_EQ(manifest.version, Utf8ToWide(PUBLISHED_VERSION));
  EXPECT_EQ(manifest.url, Utf8ToWide(PUBLISHED_URL));
  EXPECT_EQ(manifest.sha256, digest);
  // The parser folds the digest; the file itself must already be lower-case hex, with LF line ends.
  EXPECT_NE(body.find("sha256=" + digestLine.substr(0, 64) + "\n"), std::string::npos) << body;
  EXPECT_EQ(body.find('\r'), std::string::npos);
  EXPECT_NE(body.compare(0, 3, "\xEF\xBB\xBF"), 0);
}

}  // namespace
