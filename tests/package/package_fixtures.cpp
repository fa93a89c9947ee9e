// Reaching the package fixtures of the build tree and comparing folder trees.
#include "package_fixtures.h"

#include <sstream>
#include <stdexcept>

#include "common/text.h"
#include "test_support.h"

namespace package_fixtures {

std::wstring FixturePath(const std::wstring& relative) {
  return test_support::BuildDir() + L"\\tests\\package\\fixtures\\" + relative;
}

std::map<std::wstring, std::wstring> ReadSha256Sums() {
  std::istringstream lines(test_support::ReadFile(FixturePath(L"digest\\sha256sums.txt")));
  std::map<std::wstring, std::wstring> sums;
  std::string line;
  while (std::getline(lines, line)) {
    // "<digest>  <name>"
    const std::size_t gap = line.find("  ");
    if (gap == std::string::npos) throw std::runtime_error("unexpected sha256sum line: " + line);
    sums[Utf8ToWide(line.substr(gap + 2))] = Utf8ToWide(line.substr(0, gap));
  }
  return sums;
}

Tree ReadTree(const std::filesystem::path& root) {
  Tree tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::wstring relative = entry.path().lexically_relative(root).generic_wstring();
    if (entry.is_directory()) {
      tree[relative] = std::nullopt;
    } else {
      tree[relative] = test_support::ReadFile(entry.path());
    }
  }
  return tree;
}

::testing::AssertionResult SameTree(const Tree& actual, const Tree& expected) {
  std::string differences;
  auto describe = [](const std::optional<std::string>& entry) {
    return entry ? "file of " + std::to_string(entry->size()) + " bytes" : std::string("folder");
  };
  for (const auto& [path, entry] : expected) {
    const auto found = actual.find(path);
    if (found == actual.end()) {
      differences += "\n  missing: " + test_support::WideToUtf8(path);
    } else if (found->second != entry) {
      differences += "\n  differs: " + test_support::WideToUtf8(path) + " is a " + describe(found->second) +
                     ", expected a " + describe(entry) + (found->second && entry ? " with other bytes" : "");
    }
  }
  for (const auto& [path, entry] : actual) {
    if (expected.count(path) == 0) differences += "\n  unexpected: " + test_support::WideToUtf8(path);
  }
  if (differences.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "trees differ:" << differences;
}

std::optional<std::wstring> ReadUtf8File(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return std::nullopt;
  const std::string bytes = test_support::ReadFile(path);
  return Utf8ToWide(bytes);
}

}  // namespace package_fixtures
