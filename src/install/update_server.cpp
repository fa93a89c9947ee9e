// The update server's host name, compiled in from the build setting.
#include "install/update_server.h"

#ifndef FERNQUILL_UPDATE_HOST
#error "FERNQUILL_UPDATE_HOST must be defined by the build"
#endif

#define FERNQUILL_WIDEN_(text) L##text
#define FERNQUILL_WIDEN(text) FERNQUILL_WIDEN_(text)

// Built from the literal on each call: a detached worker may outlive every object with static storage
// duration (the runtime destroys them when wWinMain returns), never the literal itself.
std::wstring UpdateHost() { return FERNQUILL_WIDEN(FERNQUILL_UPDATE_HOST); }

std::wstring ManifestUrl(const std::wstring& host) { return L"https://" + host + L"/updates/latest.txt"; }
