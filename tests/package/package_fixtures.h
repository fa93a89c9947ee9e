// Reaching the package fixtures of the build tree and comparing folder trees.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace package_fixtures {

// A file or folder below the fixtures folder of the build, e.g. L"zips\\stored.zip".
std::wstring FixturePath(const std::wstring& relative);

// File name -> digest, as sha256sum wrote them for the digest fixtures.
std::map<std::wstring, std::wstring> ReadSha256Sums();

// Every file (its bytes) and folder (no value) below root, keyed by '/'-separated relative path.
using Tree = std::map<std::wstring, std::optional<std::string>>;
Tree ReadTree(const std::filesystem::path& root);

// Success when both trees hold the same paths with the same bytes; otherwise names what differs
// (never prints file contents, which may be megabytes of binary).
::testing::AssertionResult SameTree(const Tree& actual, const Tree& expected);

// The UTF-8 content of a file decoded, or an empty optional when it does not exist.
std::optional<std::wstring> ReadUtf8File(const std::filesystem::path& path);

}  // namespace package_fixtures
