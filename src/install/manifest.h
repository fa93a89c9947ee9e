// The update manifest latest.txt: its record and the parser that accepts or refuses a body.
#pragma once

#include <string>
#include <string_view>

struct UpdateManifest {
  std::wstring version;
  std::wstring url;
  std::wstring sha256;
};

// Fills the record in place; true when version, url and sha256 are all acceptable.
bool ParseManifest(std::string_view body, UpdateManifest& manifest);
