// The package digest against sha256sum's values for the same bytes, and its failures.
#include "package/sha256.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/unique_handle.h"
#include "package_fixtures.h"
#include "test_support.h"

namespace {

using package_fixtures::FixturePath;

TEST(ComputeFileSha256, AgreesWithSha256sumOnTheSameBytes) {
  const auto sums = package_fixtures::ReadSha256Sums();
  // empty, exactly one read buffer, one byte more, several megabytes, CR LF and Ctrl-Z
  ASSERT_EQ(sums.size(), 5u);
  for (const auto& [name, expected] : sums) {
    std::wstring digest = L"stale";
    std::wstring error = L"untouched";
    ASSERT_TRUE(ComputeFileSha256(FixturePath(L"digest\\" + name), digest, error)) << error;
    EXPECT_EQ(digest, expected) << test_support::WideToUtf8(name);
    EXPECT_EQ(error, L"untouched");
  }
}

TEST(ComputeFileSha256, ReadsAFileAnotherProcessKeepsOpenForWriting) {
  test_support::TempFolder folder(L"sha");
  const std::wstring path = (folder / L"FernquillSetup_1.zip").wstring();
  ASSERT_TRUE(::CopyFileW(FixturePath(L"digest\\one_more_65537.bin").c_str(), path.c_str(), FALSE));
  // A writer that lets others read but not write: opening only works with write sharing on our side.
  unique_file_handle writer(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer);

  std::wstring digest;
  std::wstring error;
  ASSERT_TRUE(ComputeFileSha256(path, digest, error)) << error;
  EXPECT_EQ(digest, package_fixtures::ReadSha256Sums().at(L"one_more_65537.bin"));
}

TEST(ComputeFileSha256, FailsWhenThePackageDoesNotOpen) {
  test_support::TempFolder folder(L"sha");
  const std::wstring locked = (folder / L"locked.zip").wstring();
  test_support::WriteFile(locked, "locked bytes");
  unique_file_handle exclusive(
      ::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(exclusive);

  const struct {
    const char* name;
    std::wstring path;
  } cases[] = {
      {"missing", (folder / L"missing.zip").wstring()},
      {"missing folder", (folder / L"no such folder" / L"p.zip").wstring()},
      {"a folder", folder.str()},
      {"locked against reading", locked},
  };
  for (const auto& c : cases) {
    std::wstring digest = L"previous digest";
    std::wstring error = L"previous error";
    EXPECT_FALSE(ComputeFileSha256(c.path, digest, error)) << c.name;
    EXPECT_EQ(error, L"Не удалось открыть скачанный пакет.") << c.name;
    EXPECT_EQ(digest, L"previous digest") << c.name;
  }
}

}  // namespace
