// Splitting a download address into host, path and port, refusing anything but https.
#pragma once

#include <cstdint>
#include <string>

// On failure only the error text changes; on success it is left as it was.
bool ParseHttpsUrl(const std::wstring& url, std::wstring& host, std::wstring& path, std::uint16_t& port,
                   std::wstring& error);
