// The update server's host name, compiled in from the build setting.
#include "install/update_server.h"

#ifndef FERNQUILL_UPDATE_HOST
#error "FERNQUILL_UPDATE_HOST must be defined by the build"
#endif

#define FERNQUILL_WIDEN_(text) L##text
#define FERNQUILL_WIDEN(text) FERNQUILL_WIDEN_(text)

const std::wstring& UpdateHost() {
  static const std::wstring host = FERNQUILL_WIDEN(FERNQUILL_UPDATE_HOST);
  return host;
}

std::wstring ManifestUrl(const std::wstring& host) { return L"https://" + host + L"/updates/latest.txt"; }
