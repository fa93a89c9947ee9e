// Copies the staged package tree into the install folder, never writing the application's user data.
#pragma once

#include <string>

// Adds and overwrites only; stops at the first failure with one sentence for the user in errorText.
// Throws only std::bad_alloc: running out of memory is no failure of the staged tree.
bool DeployStagedTree(const std::wstring& stagingDir, const std::wstring& installDir,
                      std::wstring& errorText);

// True when a file at this path below the staging folder belongs to the application's user data.
bool IsUserDataPath(const std::wstring& relativePath);

// True when the path names something strictly below its base: not empty, not rooted, no "." or "..".
bool IsContainedRelativePath(const std::wstring& relativePath);
