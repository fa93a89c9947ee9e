// Text and error helpers shared by every subsystem: UTF-8 decoding, error texts, paths, trimming.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>

// Strict: any invalid byte gives an empty result. Views over 2^31-1 bytes are outside what it accepts.
std::wstring Utf8ToWide(std::string_view bytes);

// Must be called right after the failing Windows call: it reads the thread's last error first.
std::wstring WindowsErrorText();

// Text for one code, as WindowsErrorText gives it; for callers that saved the code themselves.
std::wstring WindowsErrorTextFor(unsigned long code);

std::wstring JoinPath(const std::wstring& left, const std::wstring& right);

bool IsPathSeparator(wchar_t c);

// The "." and ".." entries that every folder listing holds.
bool IsDotEntry(const wchar_t* name);

// The library's error-code forms report memory exhaustion as an error code; it is no failure of the
// path, so it is thrown on as std::bad_alloc.
void ThrowIfOutOfMemory(const std::error_code& error);

// Full path of a name in the Windows temporary folder, or empty when that folder cannot be had.
std::wstring TempFilePath(std::wstring_view name);

std::wstring TrimWhitespace(std::wstring text);
std::wstring ToLowerText(std::wstring text);

// Case-insensitive equality as the installer uses it everywhere: equal lengths, then towlower per char.
bool EqualsIgnoringCase(std::wstring_view left, std::wstring_view right);
