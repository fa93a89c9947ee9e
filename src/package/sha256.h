// SHA-256 digest of a file through CNG, as lower-case hex text.
#pragma once

#include <string>

// On success replaces digest with 64 lower-case hex characters; on failure replaces error instead.
bool ComputeFileSha256(const std::wstring& path, std::wstring& digest, std::wstring& error);
