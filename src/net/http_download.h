// One HTTPS GET into memory, into a file, or both, with optional progress to the setup window.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

constexpr std::uint64_t kNoBodyLimit = std::numeric_limits<std::uint64_t>::max();

// targetFile and body may each be null (absent). On failure error holds one finished sentence and a
// target file is never left half-written; on success error is left as it was.
// bodyLimit bounds the body string only, never the file: a body of exactly bodyLimit bytes is accepted,
// a longer one fails, refused before any byte is read when its announced length is already too long.
bool HttpDownload(const std::wstring& url, const std::wstring* targetFile, std::string* body,
                  std::wstring& error, bool reportProgress, std::uint64_t bodyLimit = kNoBodyLimit);

// The rules of the download, kept apart from the calls into WinHTTP.

// Only 200..299 counts as an answer; redirects that were not followed arrive here as 3xx.
bool IsSuccessStatus(std::uint32_t status);

// Content-Length as WinHTTP gives it: leading blanks skipped, digits up to the first other character;
// 0 (not announced) when there are none.
std::uint64_t ParseContentLength(const wchar_t* text);

// received * 100 / announced, truncated and capped at 100; announced must not be 0.
unsigned ProgressPercent(std::uint64_t received, std::uint64_t announced);

// A body that ended before its announced length was cut off, even if every read succeeded.
bool IsBodyShort(std::uint64_t received, std::uint64_t announced);

// True when size more bytes on top of held would pass the limit.
bool ExceedsBodyLimit(std::uint64_t held, std::uint64_t size, std::uint64_t limit);
