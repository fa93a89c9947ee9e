// Starting a child process with a built command line and waiting for its exit code.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Each piece double-quoted, separated by spaces; nothing inside is escaped, so no piece may hold a
// double quote or end with a backslash.
std::wstring BuildCommandLine(const std::wstring& programPath, const std::vector<std::wstring>& arguments);

// True when the process started; it has then ended and exitCode holds its code (1 if unreadable).
// False when it could not be started, and exitCode is untouched. Waits without a time limit.
bool RunProcessAndWait(const std::wstring& programPath, const std::vector<std::wstring>& arguments,
                       DWORD& exitCode, bool hidden);
