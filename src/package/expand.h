// Expanding the package archive into the staging folder through Windows PowerShell's Expand-Archive.
#pragma once

#include <string>
#include <vector>

// Fixed on purpose: never looked up on the search path, in the Windows folder or the registry.
inline constexpr wchar_t kPowerShellPath[] =
    L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe";

// A single-quoted PowerShell literal. PowerShell ends such a literal at any of ' ‘ ’ ‚ ‛ unless the
// character is doubled, so each of the five is doubled; nothing else changes.
std::wstring PowerShellQuote(const std::wstring& text);

// Expand-Archive -LiteralPath '<package>' -DestinationPath '<staging>' -Force
std::wstring BuildExpandCommand(const std::wstring& packagePath, const std::wstring& stagingDir);

// The seven arguments PowerShell is started with; the command text is the last.
std::vector<std::wstring> BuildExpandArguments(const std::wstring& packagePath,
                                               const std::wstring& stagingDir);

// Removes a folder with everything in it, a link or junction as a link: it never enters one, so nothing
// outside the folder is touched. Failures are ignored; what cannot be removed stays.
void RemoveStagingFolder(const std::wstring& stagingDir);

// Empties and re-creates stagingDir, then expands packagePath into it in a hidden PowerShell and waits.
// On failure replaces errorText with one sentence for the user; on success leaves it untouched.
bool ExpandPackage(const std::wstring& packagePath, const std::wstring& stagingDir, std::wstring& errorText);
