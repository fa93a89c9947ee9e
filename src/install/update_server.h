// The update server's host name, fixed when the installer is built.
#pragma once

#include <string>

// Host, or host:port, of the update server (the FERNQUILL_UPDATE_HOST build setting): the caller's own copy.
std::wstring UpdateHost();

// "https://" + host + "/updates/latest.txt".
std::wstring ManifestUrl(const std::wstring& host);
